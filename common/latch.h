#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace common {
namespace synchronisation {

// A count that waiters block on until it reaches zero. Usually held by
// shared pointer so that it outlives the last waiter.
class Latch {
public:
    explicit Latch(std::size_t count) : m_count(count) {}

    Latch(const Latch&) = delete;
    Latch& operator=(const Latch&) = delete;

    // Decrements while above zero; reaching zero wakes every waiter.
    void count_down() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count == 0) {
            return;
        }
        if (--m_count == 0) {
            m_condition.notify_all();
        }
    }

    // Returns once the count is zero (at once when it already is).
    void wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_condition.wait(lock, [this] { return m_count == 0; });
    }

    std::size_t count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    std::size_t m_count;
};

}  // namespace synchronisation
}  // namespace common
