#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace common {
namespace details {

// Unbounded FIFO shared by producers and blocking consumers.
template <typename Message>
class MessageQueue {
public:
    void send(Message message) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back(std::move(message));
        }
        m_condition.notify_one();
    }

    Message receive() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_condition.wait(lock, [this] { return !m_queue.empty(); });
        Message message = std::move(m_queue.front());
        m_queue.pop_front();
        return message;
    }

private:
    std::mutex m_mutex;
    std::deque<Message> m_queue;
    std::condition_variable m_condition;
};

}  // namespace details
}  // namespace common
