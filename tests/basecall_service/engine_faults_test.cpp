// The engine through the test server's faults: every read comes back exactly
// once, or the failure is reported; a stop is honoured during an outage.
#include "engine_harness.h"

#include "common/concrete_state_logger.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

using basecall_service::BasecallClient;
using basecall_service::ClientStatus;
using basecall_service::ConnectionError;
using basecall_service::PassReadResult;
using engine_test::EngineOptions;
using engine_test::wait_for;
using interfaces::ReadHolder;
using test_server::Fault;
using test_server::FaultRule;
using test_server::RequestKind;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t QUICK_REPLY_TIMEOUT_MS = 150;

EngineOptions quick_options() {
    EngineOptions options;
    options.reply_timeout_ms = QUICK_REPLY_TIMEOUT_MS;
    return options;
}

test_server::ServerSettings small_blocks() {
    auto settings = test_server::ServerSettings::defaults();
    settings.called_block_positions = 50;
    return settings;
}

std::vector<ReadHolder> reads_of(uint64_t first_tag, size_t count, uint64_t samples) {
    std::vector<ReadHolder> reads;
    for (size_t i = 0; i < count; ++i) {
        reads.push_back(engine_test::make_read(first_tag + i, samples + 37 * i));
    }
    return reads;
}

// Each tag exactly once, each with the sequence the server calls for it.
void expect_each_read_once(const engine_test::ReadList& returned, uint64_t first_tag, size_t count, uint64_t samples) {
    const auto options = engine_test::call_options_for(EngineOptions(), test_server::ServerSettings::defaults());
    std::multiset<uint64_t> tags;
    for (const auto& read : returned) {
        tags.insert(read->m_read_tag);
        const uint64_t i = read->m_read_tag - first_tag;
        ASSERT_LT(i, count);
        const auto want =
                engine_test::expected_calls(engine_test::make_read(read->m_read_tag, samples + 37 * i), options);
        EXPECT_EQ(engine_test::text_dataset(*read, dataset::sequence), want.back().sequence)
                << "read tag " << read->m_read_tag;
    }
    for (uint64_t tag = first_tag; tag < first_tag + count; ++tag) {
        EXPECT_EQ(tags.count(tag), 1u) << "read tag " << tag;
    }
}

uint64_t lost_reads_reported(const BasecallClient& engine) {
    std::vector<common::diagnostics::state::StateRecord> records;
    common::diagnostics::state::detail::ConcreteStateLogger logger(records);
    engine.report_state(logger);
    for (const auto& record : records) {
        if (record.key == "m_lost_reads (lost on the server, never returned)") {
            return boost::any_cast<unsigned long long>(record.value);
        }
    }
    ADD_FAILURE() << "no lost read count in the engine's state";
    return 0;
}

// Requests a connected client makes: pulls, and heartbeats while it idles.
uint64_t requests_after_connecting(const test_server::TestServer& server) {
    return server.requests_seen(RequestKind::get_first_called_block) +
           server.requests_seen(RequestKind::heartbeat_ping);
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

TEST(EngineFaults, ReadsSurviveEveryWayOfLosingTheServer) {
    // Each strike is tied to the stream's progress, not to a clock, so it
    // lands while reads are on the server however busy the machine is: the
    // fault rules fire on a counted request, and the restart follows the
    // first raw block while every read is held back for its call delay.
    struct Case {
        const char* what;
        std::optional<FaultRule> rule;
    };
    const Case cases[] = {
            {"restart", std::nullopt},
            {"killed and back on the same endpoint",
             FaultRule{Fault::die_and_return, RequestKind::get_next_called_block, 0, 1, 300}},
            {"connection ids forgotten", FaultRule{Fault::forget_clients, RequestKind::pass_first_raw_block, 5, 1, 0}},
            {"replies dropped", FaultRule{Fault::drop_reply, std::nullopt, 20, 3, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto settings = small_blocks();
        settings.call_delay_ms = c.rule ? 20 : 400;  // keeps reads on the server while it is struck
        test_server::TestServer server(settings);
        auto options = quick_options();
        options.max_queued = 5;
        const auto engine = engine_test::connect_engine(server.start(), options);
        ASSERT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
        if (c.rule) {
            server.add_fault(*c.rule);
        }

        constexpr size_t count = 40;
        constexpr uint64_t samples = 900;
        std::thread striker([&] {
            if (!c.rule) {
                wait_for([&] { return server.requests_seen(RequestKind::pass_first_raw_block) > 0; });
                server.restart(std::chrono::milliseconds(300));
            }
        });
        const auto returned = engine_test::pass_and_collect(*engine, reads_of(1, count, samples), count);
        striker.join();
        expect_each_read_once(returned, 1, count, samples);
        EXPECT_GE(server.requests_seen(RequestKind::connect), 2u) << "the engine reconnected";
        EXPECT_TRUE(engine->finish_by(10));
        EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::disconnected);
    }
}

TEST(EngineFaults, NotReadyForAFirstBlockKeepsTheReadQueuedButALaterBlockEndsTheConnection) {
    test_server::TestServer server(small_blocks());
    const std::string endpoint = server.start();
    server.add_fault({Fault::not_ready, RequestKind::pass_first_raw_block, 0, 0, 0});  // for ever
    const auto patient = engine_test::connect_engine(endpoint, quick_options());
    ReadHolder read = engine_test::make_read(1, 1000);
    ASSERT_EQ(patient->pass_read(read, 0), PassReadResult::success);
    EXPECT_TRUE(wait_for([&] { return server.requests_seen(RequestKind::pass_first_raw_block) > 5; }));
    EXPECT_EQ(patient->get_connection_state().get_status(), ClientStatus::connected);
    EXPECT_FALSE(patient->finish_by(1)) << "the read never came back";
    EXPECT_EQ(patient->get_connection_state().get_status(), ClientStatus::disconnected);

    server.clear_faults();
    server.add_fault({Fault::not_ready, RequestKind::pass_next_raw_block, 0, 1, 0});
    const auto refused = engine_test::connect_engine(endpoint, quick_options());
    ReadHolder long_read = engine_test::make_read(2, 1000);  // 5 raw blocks
    ASSERT_EQ(refused->pass_read(long_read, 0), PassReadResult::success);
    EXPECT_TRUE(wait_for([&] { return refused->get_connection_state().get_status() == ClientStatus::error; }));
    const auto error = refused->get_connection_state().get_error_state();
    EXPECT_EQ(error.code, ConnectionError::bad_reply);
    EXPECT_EQ(error.message, "Server accepted first block of read, but then rejected subsequent block for read: 2");
    EXPECT_FALSE(refused->finish_by(0));
}

TEST(EngineFaults, LostReadsAreReportedNeverReturnedAndALateReturnIsDiscarded) {
    struct Case {
        Fault fault;
        const char* what;
    };
    for (const Case c :
         {Case{Fault::lose_reads, "lost"}, Case{Fault::report_lost_reads, "reported lost, returned later"}}) {
        SCOPED_TRACE(c.what);
        auto settings = small_blocks();
        settings.call_delay_ms = 300;  // every read is submitted before any is ready
        test_server::TestServer server(settings);
        const auto engine = engine_test::connect_engine(server.start(), quick_options());
        server.add_fault({c.fault, RequestKind::get_first_called_block, 0, 1, 0});
        for (auto& read : reads_of(1, 3, 500)) {
            ASSERT_EQ(engine->pass_read(read, 0), PassReadResult::success);
        }
        ASSERT_TRUE(wait_for([&] { return engine->get_read_buffer()->num_lost_reads() > 0; }));
        const uint64_t lost = engine->get_read_buffer()->num_lost_reads();

        // The connection goes on: later reads come back, the lost ones never
        // (also not when the server returns them after all).
        auto returned = engine_test::pass_and_collect(*engine, reads_of(11, 3, 500), 6 - lost);
        if (c.fault == Fault::report_lost_reads) {
            // Every read has left the server, and the client has asked
            // something since, so it has dealt with the last of them.
            ASSERT_TRUE(wait_for([&] { return server.report()["clients"][0]["reads_out"] == 6; }));
            const auto asked = requests_after_connecting(server);
            ASSERT_TRUE(wait_for([&] { return requests_after_connecting(server) > asked; }));
        }
        engine->get_completed_reads(returned, 0);
        EXPECT_EQ(returned.size(), 6 - lost);
        std::multiset<uint64_t> tags;
        for (const auto& read : returned) {
            tags.insert(read->m_read_tag);
        }
        for (const uint64_t tag : {1, 2, 3, 11, 12, 13}) {
            EXPECT_LE(tags.count(tag), 1u) << tag;
        }
        for (const uint64_t tag : {11, 12, 13}) {
            EXPECT_EQ(tags.count(tag), 1u) << tag;
        }
        if (c.fault == Fault::report_lost_reads) {
            EXPECT_EQ(server.report()["clients"][0]["reads_out"], 6) << "the server returned the lost reads";
        }
        EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
        EXPECT_EQ(lost_reads_reported(*engine), lost);
        EXPECT_FALSE(engine->finish_by(10)) << "lost reads are not a success";
    }
}

TEST(EngineFaults, MalformedCalledDataEndsInABadReplyWithoutTouchingTheRead) {
    struct Case {
        const char* what;
        std::function<void(test_server::TestServer&, EngineOptions&)> setup;
        std::string message_start;
    };
    const Case cases[] = {
            {"counts beyond their vectors",
             [](test_server::TestServer& s, EngineOptions&) {
                 s.add_fault({Fault::inconsistent_called_data, RequestKind::get_first_called_block, 0, 1, 0});
             },
             "Inconsistent called data for read 1: "},
            {"a genome name of 253 bytes",
             [](test_server::TestServer&, EngineOptions& o) { o.align_ref = "/refs/test_ref.mmi"; },
             "Alignment genome name " + std::string(253, 'g') + " exceeds maximum allowed size of 253"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto settings = small_blocks();
        settings.alignment_targets = {{std::string(253, 'g'), 0}};
        test_server::TestServer server(settings);
        const std::string endpoint = server.start();
        EngineOptions options = quick_options();
        c.setup(server, options);
        const auto engine = engine_test::connect_engine(endpoint, options);
        ReadHolder read = engine_test::make_read(1, 1000);
        ASSERT_EQ(engine->pass_read(read, 0), PassReadResult::success);
        ASSERT_TRUE(wait_for([&] { return engine->get_connection_state().get_status() == ClientStatus::error; }));
        const auto error = engine->get_connection_state().get_error_state();
        EXPECT_EQ(error.code, ConnectionError::bad_reply);
        EXPECT_EQ(error.message.rfind(c.message_start, 0), 0u) << error.message;
        const auto* held = engine->get_read_buffer()->get_submitted_read_holder(1);
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(held->m_datasets.size(), 1u) << "nothing of the refused call reached the read";
        EXPECT_EQ(held->get_by_name("strand_id"), "strand-1");
        ReadHolder later = engine_test::make_read(2, 1000);
        EXPECT_EQ(engine->pass_read(later, 0), PassReadResult::not_accepting_reads);
        EXPECT_FALSE(engine->finish_by(0));
    }
}

TEST(EngineFaults, AStopIsHonouredWithinOneAttemptDuringAnOutage) {
    for (const auto& c : engine_test::ways_to_stop()) {
        SCOPED_TRACE(c.what);
        test_server::TestServer server(small_blocks());
        auto options = quick_options();
        options.reconnect_timeout = std::chrono::seconds(300);
        auto engine = engine_test::connect_engine(server.start(), options);
        ReadHolder read = engine_test::make_read(1, 1000);
        ASSERT_EQ(engine->pass_read(read, 0), PassReadResult::success);
        server.add_fault({Fault::drop_reply, std::nullopt, 0, 0, 0});  // stalled for good
        // Into the reconnection loop: a second connect sequence has begun.
        ASSERT_TRUE(wait_for([&] { return server.requests_seen(RequestKind::load_config) > 1; }));

        const auto start = Clock::now();
        c.stop(engine);
        // One attempt is at most four reply time-outs per request; far from
        // the 300 s deadline.
        EXPECT_LT(seconds_since(start), 6.0);
        if (engine) {
            EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::disconnected);
        }
    }
}

TEST(EngineFaults, AnExceptionEscapingTheWorkerEndsTheConnectionAsFailed) {
    class ThrowingPump : public basecall_service::ReadProcessingProtocol {
    public:
        basecall_service::ErrorState process_reads(basecall_service::ReadBuffer*,
                                                   basecall_service::RequestBrokerAdapter*) override {
            throw std::logic_error("pump broke");
        }
    };
    test_server::TestServer server(small_blocks());
    auto engine = engine_test::make_engine(quick_options());
    engine->set_read_processing_protocol(std::make_shared<ThrowingPump>());
    engine->connect(server.start(), QUICK_REPLY_TIMEOUT_MS, 10, engine_test::connection_info_for(quick_options()));
    ASSERT_TRUE(wait_for([&] { return engine->get_connection_state().get_status() == ClientStatus::error; }));
    const auto error = engine->get_connection_state().get_error_state();
    EXPECT_EQ(error.code, ConnectionError::failed);
    EXPECT_NE(error.message.find("pump broke"), std::string::npos) << error.message;
    EXPECT_FALSE(engine->connection_status_is_active());
    ReadHolder read = engine_test::make_read(1, 1000);
    EXPECT_EQ(engine->pass_read(read, 0), PassReadResult::not_accepting_reads);
    engine->disconnect();
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::disconnected);
}

TEST(EngineFaults, ARefusedConfigIsFinalAndAnUnstartedEngineTakesNoReads) {
    test_server::TestServer server(small_blocks());
    auto options = quick_options();
    options.config = "no_such_config";
    const auto engine = engine_test::make_engine(options);
    ReadHolder read = engine_test::make_read(1, 1000);
    EXPECT_EQ(engine->pass_read(read, 0), PassReadResult::not_accepting_reads);

    const auto start = Clock::now();
    engine->connect(server.start(), QUICK_REPLY_TIMEOUT_MS, 10, engine_test::connection_info_for(options));
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::error);
    EXPECT_EQ(engine->get_connection_state().get_error_state().code, ConnectionError::basecall_config_unavailable);
    EXPECT_EQ(server.requests_seen(RequestKind::load_config), 1u) << "no retry";
}

TEST(EngineState, ReportsItsStatusAndItsReadBufferWhileConnected) {
    test_server::TestServer server(small_blocks());
    const auto engine = engine_test::connect_engine(server.start(), quick_options());
    std::vector<common::diagnostics::state::StateRecord> records;
    common::diagnostics::state::detail::ConcreteStateLogger logger(records);
    engine->report_state(logger);
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[0].key, "m_client_connection_state");
    EXPECT_EQ(boost::any_cast<std::string>(records[0].value), "connected");
    EXPECT_EQ(records[1].key, "m_accept_data");
    EXPECT_TRUE(boost::any_cast<bool>(records[1].value));
    EXPECT_EQ(records[2].type, common::diagnostics::state::StateRecordType::section_begin);
    EXPECT_EQ(records[2].key, "ReadBuffer");
    EXPECT_EQ(records.back().type, common::diagnostics::state::StateRecordType::section_end);

    EXPECT_EQ(to_string(PassReadResult::queue_full), "queue_full");
    EXPECT_THROW(to_string(static_cast<PassReadResult>(3)), std::runtime_error);
    EXPECT_THROW(engine->connect(server.endpoint(), QUICK_REPLY_TIMEOUT_MS, 10,
                                 engine_test::connection_info_for(quick_options())),
                 std::logic_error)
            << "an engine connects once";
}
