#include "common/active_object.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "common/thread_name.h"
#include "log_test_support.h"

using common::ActiveObject;

namespace {

std::string current_thread_name() {
    char name[64] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    return name;
}

std::string worker_name_of(const std::string& object_name) {
    std::promise<std::string> name;
    ActiveObject object(object_name, nullptr);
    object.send([&name] { name.set_value(current_thread_name()); });
    return name.get_future().get();
}

struct TaggedError : std::runtime_error {
    explicit TaggedError(int tag_value) : std::runtime_error("tagged"), tag(tag_value) {}
    int tag;
};

}  // namespace

TEST(ActiveObject, ThreadCountMustBeBetweenOneAndFifty) {
    for (unsigned count : {0u, 51u}) {
        try {
            ActiveObject object("counted", count, nullptr);
            ADD_FAILURE() << "accepted " << count << " threads";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Contract violation. num_threads must be in range 1..MAX_NUM_THREADS");
        }
    }
    for (unsigned count : {1u, 50u}) {
        std::mutex mutex;
        int ran = 0;
        {
            ActiveObject object("counted", count, nullptr);
            for (int i = 0; i < 100; ++i) {
                object.send([&] {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++ran;
                });
            }
        }
        // Every task queued before the stop tasks is taken before any stop.
        EXPECT_EQ(ran, 100);
    }
}

TEST(ActiveObject, TasksRunInSendOrderAcrossSenders) {
    std::mutex send_mutex;
    std::vector<int> sent;
    std::vector<int> executed;  // touched by the worker only until join()
    std::thread::id worker_id;
    const auto test_thread = std::this_thread::get_id();
    bool ran_on_caller = false;
    {
        ActiveObject object("fifo", nullptr);
        std::vector<std::thread> senders;
        for (int sender = 0; sender < 4; ++sender) {
            senders.emplace_back([&, sender] {
                for (int i = 0; i < 500; ++i) {
                    const int id = sender * 1000 + i;
                    std::lock_guard<std::mutex> lock(send_mutex);
                    sent.push_back(id);
                    object.send([&, id] {
                        executed.push_back(id);
                        worker_id = std::this_thread::get_id();
                        ran_on_caller = ran_on_caller || worker_id == test_thread;
                    });
                }
            });
        }
        for (auto& sender : senders) {
            sender.join();
        }
        object.join();
    }
    EXPECT_EQ(executed, sent);
    EXPECT_FALSE(ran_on_caller);
}

TEST(ActiveObject, HandlerReceivesTheThrownExceptionAndLaterTasksNeverRun) {
    std::promise<void> handled;
    int seen_tag = 0;
    bool sliced = true;
    bool later_ran = false;
    bool earlier_ran = false;
    {
        ActiveObject object("failing", [&](const std::exception& e) {
            if (const auto* tagged = dynamic_cast<const TaggedError*>(&e)) {
                sliced = false;
                seen_tag = tagged->tag;
            }
            handled.set_value();
        });
        object.send([&] { earlier_ran = true; });
        object.send([] { throw TaggedError(42); });
        object.send([&] { later_ran = true; });
        handled.get_future().wait();
        object.send([&] { later_ran = true; });
    }
    EXPECT_TRUE(earlier_ran);
    EXPECT_FALSE(sliced);
    EXPECT_EQ(seen_tag, 42);
    EXPECT_FALSE(later_ran);
}

TEST(ActiveObject, NonStandardExceptionBecomesRuntimeErrorNamingTheThread) {
    std::string what;
    bool is_runtime_error = false;
    bool later_ran = false;
    {
        ActiveObject object("tracing", [&](const std::exception& e) {
            what = e.what();
            is_runtime_error = dynamic_cast<const std::runtime_error*>(&e) != nullptr;
        });
        object.send([] { throw 7; });
        object.send([&] { later_ran = true; });
    }
    EXPECT_TRUE(is_runtime_error);
    EXPECT_EQ(what, "Unhandled error thrown in thread: tracing");
    EXPECT_FALSE(later_ran);
}

TEST(ActiveObject, EmptyTaskCountsAsFailure) {
    std::string type;
    {
        ActiveObject object("empty", [&](const std::exception& e) { type = typeid(e).name(); });
        object.send(nullptr);
    }
    EXPECT_EQ(type, typeid(std::bad_function_call).name());
}

TEST(ActiveObject, DefaultHandlerLogsTheFailureAsAnErrorRecord) {
    vemla_test::RecordCollector collector;
    {
        ActiveObject object;
        object.send([] { throw std::runtime_error("task failed"); });
        object.join();
    }
    const auto records = collector.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, common::logging::attributes::error);
    EXPECT_EQ(records[0].message, "task failed");
    EXPECT_EQ(records[0].function,
              "auto (anonymous namespace)::(anonymous class)::operator()(const std::exception &) const");
}

TEST(ActiveObject, JoinWaitsForQueuedTasksAndRepeatsHarmlessly) {
    ActiveObject object("joiner", nullptr);
    std::vector<int> done;
    for (int i = 0; i < 50; ++i) {
        object.send([&done, i] {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            done.push_back(i);
        });
    }
    object.join();
    ASSERT_EQ(done.size(), 50u);
    object.join();
    object.send([&done] { done.push_back(-1); });  // queued, never run
    object.join();
    EXPECT_EQ(done.size(), 50u);
}

TEST(ActiveObject, JoinFromOwnWorkerDoesNotSelfJoin) {
    std::promise<void> joined;
    bool handler_called = false;
    {
        ActiveObject object("self_join", [&](const std::exception&) { handler_called = true; });
        object.send([&] {
            object.join();
            joined.set_value();
        });
        joined.get_future().wait();
    }
    EXPECT_FALSE(handler_called);
}

TEST(ActiveObject, DestructionFromOwnWorkerIsSafe) {
    auto holder = std::make_shared<std::unique_ptr<ActiveObject>>(new ActiveObject("self_destroy", nullptr));
    std::promise<void> destroyed;
    (*holder)->send([holder, &destroyed] {
        holder->reset();
        destroyed.set_value();
    });
    destroyed.get_future().wait();
    EXPECT_FALSE(*holder);
}

TEST(ActiveObject, TasksQueuedBehindASelfDestructionNeverRun) {
    // The task behind the destroying one refers to the owner; running it on
    // the detached worker would touch freed memory.
    auto holder = std::make_shared<std::unique_ptr<ActiveObject>>(new ActiveObject("self_destroy", nullptr));
    auto later_ran = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<std::atomic<bool>> later_task_alive = later_ran;
    std::promise<void> queued;
    std::shared_future<void> queued_future = queued.get_future().share();
    (*holder)->send([holder, queued_future] {
        queued_future.wait();
        holder->reset();
    });
    (*holder)->send([later_ran] { *later_ran = true; });
    const auto observed = later_ran;
    later_ran.reset();
    queued.set_value();
    // The dropped task releases its capture when the detached worker ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (later_task_alive.use_count() > 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(later_task_alive.use_count(), 1);
    EXPECT_FALSE(*observed);
}

TEST(ThreadName, WorkersCarryTheObjectName) {
    EXPECT_EQ(worker_name_of("tracing"), "tracing");
    EXPECT_EQ(worker_name_of("conn_state_ntfy"), "conn_state_ntfy");
    EXPECT_EQ(worker_name_of("client_worker"), "client_worker");
    EXPECT_EQ(worker_name_of("a_nineteen_byte_nam"), "a_nineteen_byte");
}

TEST(ThreadName, SetThreadNameCutsToFifteenBytes) {
    std::string short_name;
    std::string long_name;
    std::thread([&] {
        bass::util::set_thread_name("abc");
        short_name = current_thread_name();
        bass::util::set_thread_name("0123456789abcdefghij");
        long_name = current_thread_name();
    }).join();
    EXPECT_EQ(short_name, "abc");
    EXPECT_EQ(long_name, "0123456789abcde");
}
