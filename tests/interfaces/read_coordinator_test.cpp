#include "interfaces/read_holder.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using interfaces::ReadCoordinator;

TEST(ReadCoordinator, RegisteringTwiceKeepsOneEntry) {
    ReadCoordinator coordinator;
    coordinator.register_sub_tag(5);
    coordinator.register_sub_tag(5);
    EXPECT_EQ(coordinator.registered_sub_tags(), (std::unordered_set<uint64_t>{5}));
}

TEST(ReadCoordinator, EightThreadsRegisteringOverlappingTagsLoseNone) {
    ReadCoordinator coordinator;
    constexpr uint64_t threads = 8;
    constexpr uint64_t per_thread = 5000;
    std::vector<std::thread> workers;
    for (uint64_t t = 0; t < threads; ++t) {
        workers.emplace_back([&coordinator, t] {
            for (uint64_t i = 0; i < per_thread; ++i) {
                // Every tag is registered by two threads: one own, one shared.
                coordinator.register_sub_tag(t * per_thread + i);
                coordinator.register_sub_tag(((t + 1) % threads) * per_thread + i);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    const auto tags = coordinator.registered_sub_tags();
    EXPECT_EQ(tags.size(), threads * per_thread);
    for (uint64_t tag = 0; tag < threads * per_thread; ++tag) {
        ASSERT_EQ(tags.count(tag), 1u) << tag;
    }
}

TEST(ReadCoordinator, ClonesOnEightThreadsGetDistinctRegisteredSubTags) {
    interfaces::ReadHolder parent;
    parent.m_metadata.insert("strand_id", std::string("parent"));
    parent.m_coordinator = std::make_shared<ReadCoordinator>();
    parent.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    constexpr int threads = 8;
    constexpr int per_thread = 200;
    std::vector<std::vector<uint64_t>> seen(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) {
                seen[static_cast<std::size_t>(t)].push_back(parent.clone().m_sub_tag);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    std::unordered_set<uint64_t> all;
    for (const auto& tags : seen) all.insert(tags.begin(), tags.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(threads * per_thread));
    EXPECT_EQ(parent.m_sub_tag_counter->load(), static_cast<uint64_t>(threads * per_thread));
    EXPECT_EQ(parent.m_coordinator->registered_sub_tags(), all);
    for (uint64_t tag = 1; tag <= threads * per_thread; ++tag) {
        EXPECT_EQ(all.count(tag), 1u);
    }
}
