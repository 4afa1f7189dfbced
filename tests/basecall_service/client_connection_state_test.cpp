#include "basecall_service/client_connection_state.h"

#include "engine_harness.h"
#include "tests/common/log_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using basecall_service::ClientConnectionState;
using basecall_service::ClientConnectionStateSnapshot;
using basecall_service::ClientStatus;
using basecall_service::ConnectionError;
using basecall_service::ErrorState;

namespace {

constexpr int STATUS_COUNT = 8;

ClientStatus status_of(int value) {
    return static_cast<ClientStatus>(value);
}

// Row: the status changed from; column: the status changed to (0
// disconnected to 7 error, in enumeration order); '1' where allowed.
const char* const allowed_changes[STATUS_COUNT] = {
        "01000000",  // disconnected
        "11100001",  // preparing_connection
        "11010001",  // loading_config
        "11001001",  // loading_alignment_index
        "11000101",  // loading_bed_file
        "11000011",  // connecting
        "11000001",  // connected
        "10000000",  // error
};

bool allowed(int from, int to) {
    return allowed_changes[from][to] == '1';
}

// Walks a fresh state from `disconnected` to `target` through allowed changes.
void move_to(ClientConnectionState& state, ClientStatus target) {
    if (target == ClientStatus::disconnected) {
        return;
    }
    state.set_status(ClientStatus::preparing_connection);
    if (target == ClientStatus::error) {
        state.set_error({ConnectionError::timed_out, "earlier failure"});
        return;
    }
    for (int next = 2; next <= static_cast<int>(target); ++next) {
        state.set_status(status_of(next));
    }
}

struct Delivery {
    ClientStatus old_status;
    ClientStatus new_status;
    ErrorState error;
};

// Records what the handler receives; read it once the state is destroyed
// (the destructor delivers everything queued).
struct Recorder {
    std::shared_ptr<std::vector<Delivery>> deliveries = std::make_shared<std::vector<Delivery>>();

    ClientConnectionState::ChangeHandler handler() const {
        auto target = deliveries;
        return [target](ClientStatus old_status, std::shared_ptr<ClientConnectionStateSnapshot> snapshot) {
            target->push_back({old_status, snapshot->get_status(), snapshot->get_error_state()});
        };
    }
};

}  // namespace

TEST(ClientConnectionState, EveryChangeThroughSetStatusAndSetError) {
    const ErrorState error{ConnectionError::bad_reply, "garbled"};
    for (int from = 0; from < STATUS_COUNT; ++from) {
        for (int to = 0; to < STATUS_COUNT; ++to) {
            SCOPED_TRACE(to_string(status_of(from)) + " -> " + to_string(status_of(to)));
            Recorder recorder;
            auto state = std::make_unique<ClientConnectionState>();
            move_to(*state, status_of(from));
            state->register_change_handler(recorder.handler());

            bool refused = false;
            try {
                if (to == 7) {
                    state->set_error(error);
                } else {
                    state->set_status(status_of(to));
                }
            } catch (const std::logic_error& failure) {
                refused = true;
                EXPECT_EQ(failure.what(), "Contract violation. " + basecall_service::transition_description(
                                                                           status_of(from), status_of(to)));
            }
            EXPECT_EQ(refused, !allowed(from, to));
            EXPECT_EQ(state->get_status(), refused ? status_of(from) : status_of(to));
            // set_error stores its error and set_status clears it, made or not.
            const ErrorState expected = to == 7 ? error : ErrorState{};
            EXPECT_EQ(state->get_error_state().code, expected.code);
            EXPECT_EQ(state->get_error_state().message, expected.message);

            state.reset();
            if (refused) {
                EXPECT_TRUE(recorder.deliveries->empty());
            } else {
                ASSERT_EQ(recorder.deliveries->size(), 1u);
                const Delivery& delivered = recorder.deliveries->front();
                EXPECT_EQ(delivered.old_status, status_of(from));
                EXPECT_EQ(delivered.new_status, status_of(to));
                EXPECT_EQ(delivered.error.code, expected.code);
                EXPECT_EQ(delivered.error.message, expected.message);
            }
        }
    }
}

TEST(ClientConnectionState, ErrorIsSetOnlyBySetError) {
    ClientConnectionState state;
    state.set_status(ClientStatus::preparing_connection);
    const std::vector<std::pair<std::function<void()>, std::string>> attempts = {
            {[&] { state.set_status(ClientStatus::error); }, "set_status cannot be used to set an error state"},
            {[&] { state.set_status_if(ClientStatus::preparing_connection, ClientStatus::error); },
             "set_status_if cannot be used to set an error state"}};
    for (const auto& [attempt, message] : attempts) {
        try {
            attempt();
            ADD_FAILURE() << message;
        } catch (const std::logic_error& failure) {
            EXPECT_EQ(failure.what(), "Contract violation. " + message);
        }
    }
    EXPECT_EQ(state.get_status(), ClientStatus::preparing_connection);
}

TEST(ClientConnectionState, SetStatusIfActsOnlyOnTheExpectedStatus) {
    ClientConnectionState state;
    move_to(state, ClientStatus::error);
    EXPECT_FALSE(state.set_status_if(ClientStatus::connected, ClientStatus::disconnected));
    EXPECT_EQ(state.get_status(), ClientStatus::error);
    EXPECT_EQ(state.get_error_state().message, "earlier failure");

    EXPECT_TRUE(state.set_status_if(ClientStatus::error, ClientStatus::disconnected));
    EXPECT_EQ(state.get_status(), ClientStatus::disconnected);
    EXPECT_EQ(state.get_error_state().code, ConnectionError::no_error);
    EXPECT_TRUE(state.get_error_state().message.empty());
}

TEST(ClientConnectionState, SnapshotKeepsTheValuesOfItsMoment) {
    ClientConnectionState state;
    move_to(state, ClientStatus::error);
    const auto snapshot = state.create_snapshot();
    state.set_status(ClientStatus::disconnected);
    EXPECT_EQ(snapshot->get_status(), ClientStatus::error);
    EXPECT_EQ(snapshot->get_error_state().code, ConnectionError::timed_out);
    EXPECT_EQ(state.create_snapshot()->get_status(), ClientStatus::disconnected);
}

TEST(ClientConnectionState, SecondHandlerIsRefusedAndTheFirstStays) {
    Recorder first;
    Recorder second;
    auto state = std::make_unique<ClientConnectionState>();
    state->set_status(ClientStatus::preparing_connection);  // before registration: never reported
    state->register_change_handler(first.handler());
    EXPECT_THROW(state->register_change_handler(second.handler()), std::logic_error);
    state->set_status(ClientStatus::preparing_connection);
    state.reset();
    ASSERT_EQ(first.deliveries->size(), 1u);
    EXPECT_EQ(first.deliveries->front().old_status, ClientStatus::preparing_connection);
    EXPECT_TRUE(second.deliveries->empty());
}

TEST(ClientConnectionState, ThrowingHandlerIsLoggedAndLaterChangesStillArrive) {
    vemla_test::RecordCollector collector;
    std::vector<ClientStatus> delivered;
    {
        ClientConnectionState state;
        state.register_change_handler([&](ClientStatus, std::shared_ptr<ClientConnectionStateSnapshot> snapshot) {
            delivered.push_back(snapshot->get_status());
            if (delivered.size() == 1) {
                throw std::runtime_error("handler broke");
            }
            if (delivered.size() == 2) {
                throw 42;  // not a std::exception
            }
        });
        state.set_status(ClientStatus::preparing_connection);
        state.set_status(ClientStatus::loading_config);
        state.set_status(ClientStatus::disconnected);
    }
    EXPECT_EQ(delivered, (std::vector<ClientStatus>{ClientStatus::preparing_connection, ClientStatus::loading_config,
                                                    ClientStatus::disconnected}));
    std::vector<std::string> logged;
    for (const auto& record : collector.records()) {
        if (record.severity == common::logging::attributes::error) {
            logged.push_back(record.message);
        }
    }
    EXPECT_EQ(logged, (std::vector<std::string>{
                              "Exception thrown in external client state change handler: handler broke",
                              "Exception thrown in external client state change handler: Unhandled error thrown in "
                              "thread: conn_state_ntfy"}));
}

TEST(ClientConnectionState, HandlerMayDestroyItsStateOnTheNotifierThread) {
    auto holder = std::make_shared<std::unique_ptr<ClientConnectionState>>(std::make_unique<ClientConnectionState>());
    std::promise<void> second_change_queued;
    auto queued = second_change_queued.get_future().share();
    auto calls = std::make_shared<std::atomic<int>>(0);
    (*holder)->register_change_handler(
            [holder, queued, calls](ClientStatus, std::shared_ptr<ClientConnectionStateSnapshot>) {
                if (++*calls == 1) {
                    queued.wait();
                    holder->reset();  // the destructor runs on the notifier thread itself
                }
            });
    (*holder)->set_status(ClientStatus::preparing_connection);
    (*holder)->set_status(ClientStatus::disconnected);
    second_change_queued.set_value();
    // The handler goes once the notifier thread has ended; the notification
    // queued behind the destruction must not run on the destroyed state.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (calls.use_count() > 1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(calls.use_count(), 1);
    EXPECT_EQ(*holder, nullptr);
    EXPECT_EQ(calls->load(), 1);
}

TEST(ClientConnectionState, HandlerMayDisconnectAndReleaseItsEngineOnTheNotifierThread) {
    test_server::TestServer server;
    const std::string endpoint = server.start();
    const engine_test::EngineOptions options;
    auto holder =
            std::make_shared<std::shared_ptr<basecall_service::BasecallClient>>(engine_test::make_engine(options));
    std::promise<void> connect_returned;
    std::shared_future<void> connect_done = connect_returned.get_future().share();
    std::promise<void> released;
    auto released_future = released.get_future();
    (*holder)->get_connection_state().register_change_handler(
            [holder, connect_done, &released](ClientStatus, std::shared_ptr<ClientConnectionStateSnapshot> snapshot) {
                if (snapshot->get_status() == ClientStatus::connected) {
                    connect_done.wait();
                    auto engine = std::move(*holder);
                    engine->disconnect();
                    engine.reset();  // the last owner: the engine goes on this thread
                    released.set_value();
                }
            });
    auto engine = *holder;
    engine->connect(endpoint, options.reply_timeout_ms, 10, engine_test::connection_info_for(options));
    ASSERT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
    engine.reset();
    connect_returned.set_value();
    ASSERT_EQ(released_future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(server.report()["clients"].size(), 0u);  // the goodbye reached the server
}

TEST(ClientConnectionStateTexts, ErrorStateAndOutOfRangeValues) {
    EXPECT_EQ(to_string(ErrorState{ConnectionError::file_load_timeout, "too slow"}), "[file_load_timeout] too slow");
    EXPECT_EQ(to_string(ErrorState{}), "[no_error] ");
    EXPECT_EQ(basecall_service::transition_description(ClientStatus::loading_config, ClientStatus::connected),
              "State transtion 'loading_config' to 'connected'");
    try {
        (void)to_string(status_of(8));
        ADD_FAILURE();
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "unrecognised ClientStatus value");
    }
    try {
        (void)to_string(static_cast<ConnectionError>(-1));
        ADD_FAILURE();
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "unrecognised ConnectionError value");
    }
}
