#include "common/latch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using common::synchronisation::Latch;

TEST(Latch, ZeroCountDoesNotBlockAndStaysAtZero) {
    Latch latch(0);
    latch.wait();
    latch.count_down();
    EXPECT_EQ(latch.count(), 0u);
}

TEST(Latch, WaitersLeaveOnlyAfterTheLastCountDown) {
    auto latch = std::make_shared<Latch>(3);
    std::atomic<int> counted{0};
    std::atomic<int> early_exits{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([latch, &counted, &early_exits] {
            latch->wait();
            if (counted.load() < 3) ++early_exits;
        });
    }
    for (int i = 0; i < 3; ++i) {
        ++counted;  // before the count down that may release the waiters
        latch->count_down();
    }
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(early_exits.load(), 0);
    EXPECT_EQ(latch->count(), 0u);
}
