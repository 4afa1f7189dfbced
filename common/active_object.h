#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/message_queue.h"

namespace common {

// Runs queued tasks, in queue order, on a fixed set of named worker threads.
// The first failure of a task goes to the error handler and ends that worker.
class ActiveObject {
public:
    using Task = std::function<void()>;
    using ErrorHandler = std::function<void(const std::exception&)>;

    static constexpr unsigned int MAX_NUM_THREADS = 50;

    ActiveObject();
    ActiveObject(const std::string& name, ErrorHandler handler);
    ActiveObject(const std::string& name, unsigned int num_threads, ErrorHandler handler);
    ~ActiveObject();

    ActiveObject(const ActiveObject&) = delete;
    ActiveObject& operator=(const ActiveObject&) = delete;

    // Queues a task; never waits for it.
    void send(Task task);

    // Stops the workers after the work already queued and waits for them.
    // Called from one of the object's own workers (a task destroying its
    // owner), the calling worker is detached instead of joined, since a
    // thread cannot join itself, and no worker runs any further task: the
    // owner those tasks refer to may be gone by then.
    void join();

private:
    // Everything a worker touches lives here, so that a worker that outlives
    // the object (destroyed from inside one of its own tasks) stays valid.
    struct SharedState {
        details::MessageQueue<Task> queue;
        std::string name;
        std::uint32_t num_threads = 1;
        ErrorHandler handler;
        std::atomic<bool> stop{false};
        std::atomic<bool> abandoned{false};  // joined from a worker: run nothing more
    };

    void launch_threads();
    void queue_stop_tasks();
    static void run(std::shared_ptr<SharedState> state, const std::string& thread_name);

    std::shared_ptr<SharedState> m_state;
    std::vector<std::thread> m_threads;
};

}  // namespace common
