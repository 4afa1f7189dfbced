#pragma once

// Collects the statuses a connection state delivers to its handler, so tests
// can wait for them from the test thread.

#include "basecall_service/client_connection_state.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace vemla_test {

class StatusRecorder {
public:
    explicit StatusRecorder(basecall_service::ClientConnectionState& state) : m_shared(std::make_shared<Shared>()) {
        auto shared = m_shared;
        state.register_change_handler(
                [shared](basecall_service::ClientStatus,
                         std::shared_ptr<basecall_service::ClientConnectionStateSnapshot> snapshot) {
                    {
                        std::lock_guard<std::mutex> lock(shared->mutex);
                        shared->statuses.push_back(snapshot->get_status());
                    }
                    shared->condition.notify_all();
                });
    }

    // Every status delivered so far, once at least `count` have arrived (or
    // after ten seconds, whatever arrived by then).
    std::vector<basecall_service::ClientStatus> wait_for(std::size_t count) const {
        std::unique_lock<std::mutex> lock(m_shared->mutex);
        m_shared->condition.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return m_shared->statuses.size() >= count; });
        return m_shared->statuses;
    }

    void clear() const {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->statuses.clear();
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable condition;
        std::vector<basecall_service::ClientStatus> statuses;
    };
    std::shared_ptr<Shared> m_shared;
};

}  // namespace vemla_test
