// Also built into a ThreadSanitizer executable (tests/CMakeLists.txt).
#include "basecall_service/client_connection_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using basecall_service::ClientConnectionState;
using basecall_service::ClientConnectionStateSnapshot;
using basecall_service::ClientStatus;

namespace {

// The next status of a connection attempt, wrapping round to disconnected.
ClientStatus successor(ClientStatus status) {
    return status == ClientStatus::connected ? ClientStatus::disconnected
                                             : static_cast<ClientStatus>(static_cast<int>(status) + 1);
}

}  // namespace

TEST(ClientConnectionStateConcurrency, ChangesFromManyThreadsArriveInOrderOnOneThread) {
    constexpr int THREADS = 6;
    constexpr int CHANGES_PER_THREAD = 400;

    // Touched only by the notifier thread until the state is destroyed.
    struct Seen {
        ClientStatus last_new = ClientStatus::disconnected;
        int deliveries = 0;
        int out_of_order = 0;
        std::thread::id notifier;
        bool several_threads = false;
    };
    Seen seen;
    std::atomic<int> changes_made{0};
    {
        ClientConnectionState state;
        state.register_change_handler(
                [&seen](ClientStatus old_status, std::shared_ptr<ClientConnectionStateSnapshot> snapshot) {
                    if (old_status != seen.last_new) {
                        ++seen.out_of_order;
                    }
                    seen.last_new = snapshot->get_status();
                    if (seen.deliveries++ == 0) {
                        seen.notifier = std::this_thread::get_id();
                    }
                    seen.several_threads = seen.several_threads || seen.notifier != std::this_thread::get_id();
                    (void)snapshot->get_error_state();
                });

        std::vector<std::thread> changers;
        for (int t = 0; t < THREADS; ++t) {
            changers.emplace_back([&state, &changes_made, t] {
                for (int i = 0; i < CHANGES_PER_THREAD; ++i) {
                    const ClientStatus current = state.get_status();
                    // Some threads restart attempts, the rest move them on.
                    const bool restart = (t + i) % 5 == 0 && current != ClientStatus::disconnected;
                    const ClientStatus next = restart ? ClientStatus::preparing_connection : successor(current);
                    if (state.set_status_if(current, next)) {
                        ++changes_made;
                    }
                    (void)state.create_snapshot();
                }
            });
        }
        for (auto& changer : changers) {
            changer.join();
        }
    }
    EXPECT_GT(changes_made.load(), 0);
    EXPECT_EQ(seen.deliveries, changes_made.load());
    EXPECT_EQ(seen.out_of_order, 0);
    EXPECT_FALSE(seen.several_threads);
}
