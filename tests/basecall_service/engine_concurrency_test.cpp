// Many threads passing reads while the server keeps forgetting the client
// and dropping replies: every read comes back exactly once. Also built with
// ThreadSanitizer (tests_engine_tsan).
#include "engine_harness.h"

#include "common/concrete_state_logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

using basecall_service::PassReadResult;
using engine_test::EngineOptions;
using test_server::Fault;
using test_server::RequestKind;

TEST(EngineConcurrency, ManyPassingThreadsDuringReconnectionsLoseAndRepeatNoRead) {
    constexpr int threads = 6;
    constexpr uint64_t reads_per_thread = 15;
    constexpr uint64_t samples = 700;
    auto settings = test_server::ServerSettings::defaults();
    settings.called_block_positions = 40;
    test_server::TestServer server(settings);
    EngineOptions options;
    options.reply_timeout_ms = 150;
    options.max_queued = 4;
    const auto engine = engine_test::connect_engine(server.start(), options);
    ASSERT_EQ(engine->get_connection_state().get_status(), basecall_service::ClientStatus::connected);

    std::atomic<int> passing{threads};
    std::vector<std::thread> passers;
    for (int t = 0; t < threads; ++t) {
        passers.emplace_back([&, t] {
            for (uint64_t i = 0; i < reads_per_thread; ++i) {
                auto read = engine_test::make_read(1 + t * reads_per_thread + i, samples + 11 * i);
                while (engine->pass_read(read, 20) == PassReadResult::queue_full) {
                }
            }
            --passing;
        });
    }
    std::thread reporter([&] {
        std::vector<common::diagnostics::state::StateRecord> records;
        common::diagnostics::state::detail::ConcreteStateLogger logger(records);
        while (passing > 0) {
            engine->report_state(logger);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    constexpr size_t total = threads * reads_per_thread;
    engine_test::ReadList returned;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    // A strike after every few reads back, so that each connection makes
    // some progress before it is lost again.
    size_t next_strike = 5;
    for (int strike = 0; returned.size() < total && std::chrono::steady_clock::now() < deadline;) {
        engine->get_completed_reads(returned, 0);
        if (returned.size() >= next_strike) {
            if (strike++ % 2 == 0) {
                server.add_fault({Fault::forget_clients, RequestKind::pass_next_raw_block, 0, 1, 0});
            } else {
                server.add_fault({Fault::drop_reply, RequestKind::get_next_called_block, 0, 1, 0});
            }
            next_strike += 12;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (auto& passer : passers) {
        passer.join();
    }
    reporter.join();

    const auto call_options = engine_test::call_options_for(options, settings);
    std::multiset<uint64_t> tags;
    for (const auto& read : returned) {
        tags.insert(read->m_read_tag);
        const uint64_t index = (read->m_read_tag - 1) % reads_per_thread;
        const auto want = engine_test::expected_calls(engine_test::make_read(read->m_read_tag, samples + 11 * index),
                                                      call_options);
        EXPECT_EQ(engine_test::text_dataset(*read, dataset::sequence), want.back().sequence);
    }
    for (uint64_t tag = 1; tag <= total; ++tag) {
        EXPECT_EQ(tags.count(tag), 1u) << "read tag " << tag;
    }
    EXPECT_GE(server.requests_seen(RequestKind::connect), 3u) << "the engine reconnected";
    EXPECT_TRUE(engine->finish_by(10));
}
