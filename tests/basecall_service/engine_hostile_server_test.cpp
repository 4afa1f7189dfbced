// The engine against a server that leaves optional data out, returns reads
// it reported lost, claims blocks it never sends, or answers slowly: the
// client never crashes, never puts one read's results into another, and a
// stop ends even the pull of a long read.
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <optional>

using basecall_service::BasecallClient;
using basecall_service::ClientStatus;
using basecall_service::ConnectionError;
using basecall_service::PassReadResult;
using engine_test::EngineOptions;
using engine_test::wait_for;
using interfaces::ReadHolder;
using test_server::Fault;
using test_server::RequestKind;

namespace {

// The read the test server calls for this signal, under a strand id of its own.
ReadHolder read_with_strand(uint64_t tag, uint64_t samples, const std::string& strand_id) {
    ReadHolder read = engine_test::make_read(tag, samples);
    read.m_metadata.insert("read_id", strand_id);
    read.m_metadata.insert("strand_id", strand_id);
    return read;
}

std::string sequence_called_for(const ReadHolder& read,
                                const EngineOptions& options,
                                const test_server::ServerSettings& settings) {
    return engine_test::expected_calls(read, engine_test::call_options_for(options, settings)).back().sequence;
}

uint64_t reads_returned_by(const test_server::TestServer& server) {
    return server.report()["clients"][0]["reads_out"].get<uint64_t>();
}

}  // namespace

// Moves, trace, state data and base modifications may be left out. A block
// that carries nothing needs none of them; a later block that carries
// positions without them leaves the read without those datasets, never with
// datasets lacking part of the read. Either way the read comes back and the
// connection goes on.
TEST(EngineHostileServer, AbsentOptionalVectorsNeitherCrashNorLeaveADatasetShort) {
    struct Case {
        const char* what;
        test_server::FaultRule rule;
        bool datasets_kept;
    };
    const Case cases[] = {
            {"an empty last block without vectors",
             {Fault::empty_extra_block, RequestKind::get_first_called_block},
             true},
            {"a later block with positions but without vectors",
             {Fault::absent_optional_vectors, RequestKind::get_next_called_block},
             false},
    };
    const dataset optional_datasets[] = {dataset::movement, dataset::flipflop_trace, dataset::state_data,
                                         dataset::base_mod_probs};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto settings = test_server::ServerSettings::defaults();
        settings.called_block_positions = 40;
        test_server::TestServer server(settings);
        EngineOptions options;
        options.config = "test_dna_modbase";
        options.pull_state_data = true;
        options.params.insert("move_and_trace_enabled", true);
        const auto engine = engine_test::connect_engine(server.start(), options);
        server.add_fault(c.rule);

        std::vector<ReadHolder> reads;
        for (uint64_t tag : {1, 2}) {
            reads.push_back(engine_test::make_read(tag, 1000));
        }
        const auto want = engine_test::expected_calls(reads.front(), engine_test::call_options_for(options, settings));
        const auto returned = engine_test::pass_and_collect(*engine, std::move(reads), 2);
        ASSERT_EQ(returned.size(), 2u);
        EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
        const ReadHolder& struck = *returned.front();
        ASSERT_EQ(struck.m_read_tag, 1u);
        EXPECT_EQ(engine_test::text_dataset(struck, dataset::sequence), want.back().sequence);
        if (c.datasets_kept) {
            EXPECT_EQ(engine_test::dataset_values<uint8_t>(struck, dataset::movement), want.back().moves);
            EXPECT_EQ(engine_test::dataset_values<float>(struck, dataset::state_data), want.back().state);
            EXPECT_EQ(engine_test::dataset_values<uint8_t>(struck, dataset::base_mod_probs),
                      want.back().base_mods->probs);
        }
        for (const dataset id : optional_datasets) {
            EXPECT_EQ(struck.m_datasets.count(id), c.datasets_kept ? 1u : 0u) << static_cast<int>(id);
            EXPECT_EQ(returned.back()->m_datasets.count(id), 1u) << "the next read is whole";
        }
        EXPECT_TRUE(engine->finish_by(10));
    }
}

// Tags are reused by callers: after the server reported a read lost, a new
// read under its tag may be queued or already submitted when the server
// returns the lost one after all. The late return is discarded either way,
// and the new read comes back with its own call.
TEST(EngineHostileServer, ALateReturnOfALostReadNeverLandsInTheNewReadUnderItsTag) {
    struct Case {
        const char* what;
        bool new_read_queued;  // refused once, so still queued when the lost read comes back
    };
    for (const Case c : {Case{"new read submitted", false}, Case{"new read still queued", true}}) {
        SCOPED_TRACE(c.what);
        auto settings = test_server::ServerSettings::defaults();
        settings.called_block_positions = 30;
        test_server::TestServer server(settings);
        const EngineOptions options;
        const auto engine = engine_test::connect_engine(server.start(), options);
        // Kept back until a read under its tag reaches the server again.
        server.add_fault({Fault::late_return, RequestKind::get_first_called_block});
        ReadHolder lost = read_with_strand(5, 600, "first-under-5");
        ASSERT_EQ(engine->pass_read(lost, 0), PassReadResult::success);
        ASSERT_TRUE(wait_for([&] { return engine->get_read_buffer()->num_lost_reads() == 1; }));

        std::vector<ReadHolder> reads;
        if (c.new_read_queued) {
            // A read ahead of it keeps the client pulling while it waits.
            server.add_fault({Fault::not_ready, RequestKind::pass_first_raw_block, 1, 1, 0});
            reads.push_back(read_with_strand(9, 700, "other"));
        }
        reads.push_back(read_with_strand(5, 900, "second-under-5"));
        const std::string second_sequence = sequence_called_for(reads.back(), options, settings);
        const size_t expected = reads.size();
        const auto returned = engine_test::pass_and_collect(*engine, std::move(reads), expected);

        EXPECT_EQ(reads_returned_by(server), expected + 1) << "the lost read came back late";
        ASSERT_EQ(returned.size(), expected);
        const auto families = engine_test::by_tag(returned);
        ASSERT_EQ(families.count(5), 1u);
        ASSERT_EQ(families.at(5).size(), 1u);
        const ReadHolder& second = *families.at(5).front();
        EXPECT_EQ(second.get_by_name("strand_id"), "second-under-5");
        EXPECT_EQ(engine_test::text_dataset(second, dataset::sequence), second_sequence);
        EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::connected);
        EXPECT_FALSE(engine->finish_by(10)) << "the lost read is still missing";
    }
}

// A lost read returned late is fetched to its end and dropped, but it cannot
// come back in more blocks than it had samples: such a claim is refused
// before a single further block is asked for.
TEST(EngineHostileServer, ALateLostReadClaimingMoreBlocksThanItsSamplesIsRefusedUnfetched) {
    test_server::TestServer server;
    const auto engine = engine_test::connect_engine(server.start(), EngineOptions());
    // Reported lost, yet returned to the next pull, claiming 2^32 - 1 blocks.
    server.add_fault({Fault::report_lost_reads, RequestKind::get_first_called_block});
    server.add_fault({Fault::claim_many_blocks, RequestKind::get_first_called_block, 1, 1, 0});
    ReadHolder lost = engine_test::make_read(5, 600);
    ASSERT_EQ(engine->pass_read(lost, 0), PassReadResult::success);
    ASSERT_TRUE(wait_for([&] { return engine->get_read_buffer()->num_lost_reads() == 1; }));

    ReadHolder next = engine_test::make_read(9, 600);
    ASSERT_EQ(engine->pass_read(next, 0), PassReadResult::success);
    ASSERT_TRUE(wait_for([&] { return engine->get_connection_state().get_status() == ClientStatus::error; }));
    EXPECT_EQ(engine->get_connection_state().get_error_state().code, ConnectionError::bad_reply);
    EXPECT_EQ(server.requests_seen(RequestKind::get_next_called_block), 0u);
}

// A read of many slow blocks: finishing, disconnecting and destroying the
// engine each stop between two blocks instead of waiting for the whole read,
// which then counts as missing.
TEST(EngineHostileServer, AStopEndsThePullOfALongReadBetweenItsBlocks) {
    constexpr uint32_t blocks = 200;  // one position each: 1000 samples at stride 5
    for (const auto& c : engine_test::ways_to_stop()) {
        SCOPED_TRACE(c.what);
        auto settings = test_server::ServerSettings::defaults();
        settings.called_block_positions = 1;
        test_server::TestServer server(settings);
        auto engine = engine_test::connect_engine(server.start(), EngineOptions());
        server.add_fault({Fault::delay_reply, RequestKind::get_next_called_block, 0, 0, 100});
        ReadHolder read = engine_test::make_read(1, 1000);
        ASSERT_EQ(engine->pass_read(read, 0), PassReadResult::success);
        ASSERT_TRUE(wait_for([&] { return server.requests_seen(RequestKind::get_next_called_block) > 0; }));

        c.stop(engine);
        EXPECT_LT(server.requests_seen(RequestKind::get_next_called_block), blocks - 1)
                << "the stop waited for the whole read";
        if (engine) {
            EXPECT_EQ(engine->get_connection_state().get_status(), ClientStatus::disconnected);
            engine_test::ReadList out;
            engine->get_completed_reads(out, 0);
            EXPECT_TRUE(out.empty()) << "a read cut short is not handed back";
        }
    }
}
