#include "common/active_object.h"

#include <stdexcept>

#include "common/contract.h"
#include "common/logger.h"
#include "common/thread_name.h"

namespace common {

namespace {

struct DefaultErrorHandler {
    void operator()(const std::exception& e) const {
        logging::write_log_record(
                logging::error::get(),
                "auto (anonymous namespace)::(anonymous class)::operator()(const std::exception &) const", e.what());
    }
};

}  // namespace

ActiveObject::ActiveObject() : ActiveObject("active_object", 1, nullptr) {}

ActiveObject::ActiveObject(const std::string& name, ErrorHandler handler) : ActiveObject(name, 1, std::move(handler)) {}

ActiveObject::ActiveObject(const std::string& name, unsigned int num_threads, ErrorHandler handler)
    : m_state(std::make_shared<SharedState>()) {
    m_state->name = name;
    m_state->num_threads = num_threads;
    m_state->handler = std::move(handler);
    contract::expects(num_threads - 1u < MAX_NUM_THREADS, "num_threads must be in range 1..MAX_NUM_THREADS");
    launch_threads();
}

ActiveObject::~ActiveObject() {
    join();
}

void ActiveObject::send(Task task) {
    // Keep the queue alive until the wake-up is done: the task may destroy
    // this object on the worker before send() returns.
    const std::shared_ptr<SharedState> state = m_state;
    state->queue.send(std::move(task));
}

void ActiveObject::queue_stop_tasks() {
    for (std::uint32_t i = 0; i < m_state->num_threads; ++i) {
        SharedState* state = m_state.get();
        m_state->queue.send([state] { state->stop.exchange(true); });
    }
}

void ActiveObject::join() {
    queue_stop_tasks();
    const auto self = std::this_thread::get_id();
    for (const auto& thread : m_threads) {
        if (thread.get_id() == self) {
            m_state->abandoned = true;
        }
    }
    for (auto& thread : m_threads) {
        if (!thread.joinable()) {
            continue;
        }
        if (thread.get_id() == self) {
            // The worker finishes its current task and then ends.
            thread.detach();
        } else {
            thread.join();
        }
    }
}

void ActiveObject::launch_threads() {
    if (!m_state->handler) {
        m_state->handler = DefaultErrorHandler();
    }
    m_threads.reserve(m_state->num_threads);
    try {
        for (std::uint32_t i = 0; i < m_state->num_threads; ++i) {
            m_threads.emplace_back(&ActiveObject::run, m_state, m_state->name);
        }
    } catch (...) {
        // The destructor will not run: stop and join the workers already
        // started, or their std::thread objects would terminate the process.
        join();
        throw;
    }
}

void ActiveObject::run(std::shared_ptr<SharedState> state, const std::string& thread_name) {
    bass::util::set_thread_name(thread_name.c_str());
    if (state->stop) {
        return;
    }
    try {
        while (true) {
            Task task = state->queue.receive();
            if (state->abandoned) {
                return;
            }
            task();
            task = nullptr;
            if (state->stop || state->abandoned) {
                return;
            }
        }
    } catch (const std::exception& e) {
        state->handler(e);
    } catch (...) {
        state->handler(std::runtime_error("Unhandled error thrown in thread: " + thread_name));
    }
}

}  // namespace common
