// VemlaClient without a server: settings, their type rules (seen through the
// internal-state JSON), the read check, what a fresh client answers, and its
// state registration.
#include "vemla/vemla_client.h"

#include "tests/vemla/client_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using bass::data_wrappers::Metadata;
using vemla::ConnectionStatus;
using vemla::PassReadResult;
using vemla::Result;
using vemla::VemlaClient;

namespace {

const char* const NOWHERE = "tcp://127.0.0.1:1";

// This client's section of the internal-state JSON.
nlohmann::json client_state(const VemlaClient& client) {
    return nlohmann::json::parse(client.get_internal_state()).at("VemlaClient");
}

TEST(ClientWithoutServer, FreshClientAnswersWithoutConnection) {
    VemlaClient client(NOWHERE, "config");
    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
    EXPECT_EQ(client.get_error_message(), "");
    EXPECT_EQ(client.disconnect(), Result::no_connection);
    EXPECT_EQ(client.finish(1), Result::no_connection);
    Metadata config;
    EXPECT_EQ(client.get_basecalling_config(config), Result::no_connection);
    std::string header = "kept";
    EXPECT_EQ(client.get_alignment_sam_header(header), Result::no_connection);
    EXPECT_EQ(header, "kept");

    vemla::Read read = vemla_test::make_read(1, 100);
    EXPECT_EQ(client.pass_read(read, 0), PassReadResult::not_accepting_reads);
    std::list<std::list<vemla::Read>> reads(1);
    client.get_completed_reads(reads);
    EXPECT_EQ(reads.size(), 1u);

    const auto state = client_state(client);
    EXPECT_EQ(state.at("status"), "disconnected");
    EXPECT_EQ(state.at("BasecallClient").at("client"), "null");
}

// A setting is taken only from a value of its own type; a value of another
// type refuses the call, and the setting keeps its value.
TEST(ClientWithoutServer, SettingsAreReadOnlyFromTheirOwnType) {
    struct Case {
        std::function<void(Metadata&)> give;
        std::string member;
        nlohmann::json expected;
        Result result = Result::success;
    };
    const std::vector<Case> cases = {
            {[](Metadata& p) { p.insert("query_timeout", uint32_t(500)); }, "m_timeout", 500},
            {[](Metadata& p) { p.insert("query_timeout", uint64_t(500)); }, "m_timeout", 2000, Result::failed},
            {[](Metadata& p) { p.insert("server_file_load_timeout", uint32_t(9)); }, "m_server_file_load_timeout", 9},
            {[](Metadata& p) { p.insert("connection_timeout", int32_t(9)); }, "m_connection_timeout_ms", 15000,
             Result::failed},
            {[](Metadata& p) { p.insert("max_message_size", uint64_t(1234)); }, "m_block_size", 1234},
            {[](Metadata& p) { p.insert("max_message_size", uint32_t(1234)); }, "m_block_size", 50000, Result::failed},
            {[](Metadata& p) { p.insert("max_reads_queued", uint64_t(3)); }, "m_max_reads_queued", 3},
            {[](Metadata& p) { p.insert("barcode_kits", std::string("A,B")); }, "m_barcode_kits", "A,B"},
            {[](Metadata& p) { p.insert("align_ref", std::string("/x.mmi")); }, "m_align_index_file", "/x.mmi"},
            {[](Metadata& p) { p.insert("bed_file", 7.0f); }, "m_bed_file", "", Result::failed},
            {[](Metadata& p) { p.insert("move_and_trace_enabled", true); }, "m_disable_events", false},
            {[](Metadata& p) { p.insert("post_out", true); }, "m_enable_state_data", true},
    };
    for (const auto& c : cases) {
        VemlaClient client(NOWHERE, "config");
        Metadata params;
        c.give(params);
        EXPECT_EQ(client.set_params(params), c.result) << c.member;
        EXPECT_EQ(client_state(client).at(c.member), c.expected) << c.member;
    }
}

// Every key is checked before any is taken: a call refused for one setting
// changes none, and a value of the wrong type is a refusal, never an
// exception.
TEST(ClientWithoutServer, RefusedSettingsChangeNothing) {
    const std::vector<std::function<void(Metadata&)>> spoilers = {
            [](Metadata& p) { p.insert("max_message_size", uint64_t(0)); },  // a block that could carry no sample
            [](Metadata& p) { p.insert("move_and_trace_enabled", std::string("yes")); },
            [](Metadata& p) { p.insert("reconnect_timeout", uint64_t(5)); },
            [](Metadata& p) { p.insert("align_type", true); },
            [](Metadata& p) { p.insert("client_name", 3.0); },
    };
    for (size_t i = 0; i < spoilers.size(); ++i) {
        VemlaClient client(NOWHERE, "config");
        Metadata params;
        params.insert("query_timeout", uint32_t(10));
        params.insert("move_and_trace_enabled", true);
        spoilers[i](params);
        Result result = Result::success;
        EXPECT_NO_THROW(result = client.set_params(params)) << i;
        EXPECT_EQ(result, Result::failed) << i;
        const auto state = client_state(client);
        EXPECT_EQ(state.at("m_timeout"), 2000) << i;
        EXPECT_EQ(state.at("m_disable_events"), true) << i;
    }
}

// A relative file name that names no file fails at connect with the code of
// its kind, before any engine exists.
TEST(ClientWithoutServer, MissingRelativeFilesFailTheConnect) {
    for (const auto& [key, expected] : {std::make_pair("align_ref", Result::align_index_unavailable),
                                        std::make_pair("bed_file", Result::bed_file_unavailable)}) {
        VemlaClient client(NOWHERE, "config");
        Metadata params;
        params.insert(key, std::string("no_such_folder/no_such_file"));
        ASSERT_EQ(client.set_params(params), Result::success);
        EXPECT_EQ(client.connect(), expected) << key;
        EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
    }
}

TEST(ClientWithoutServer, ValidateReadNamesEveryFaultAndChangesNothing) {
    VemlaClient client(NOWHERE, "config");
    vemla::Read read;
    read.get_metadata().insert("read_id", std::string("r"));
    read.get_metadata().insert("daq_offset", 2.0f);
    std::string error;
    EXPECT_FALSE(client.validate_read(read, error));
    EXPECT_EQ(error,
              "Missing data in ReadHolder object: raw_data dataset not found. daq_scaling metadata field not found.");
    EXPECT_EQ(read.get_metadata().size(), 2u);

    const vemla::Read good = vemla_test::make_read(1, 10);
    error = "untouched";
    EXPECT_TRUE(client.validate_read(good, error));
    EXPECT_EQ(error, "untouched");
}

// A destroyed client withdraws its own registration only: the newer client
// registered under the same name keeps reporting.
TEST(ClientState, DestroyingAnOlderClientKeepsTheNewerOnesReport) {
    auto older = std::make_unique<VemlaClient>(NOWHERE, "older");
    VemlaClient newer(NOWHERE, "newer");
    older.reset();
    EXPECT_EQ(client_state(newer).at("m_config_name"), "newer");
}

// Reports run on one thread while clients come and go on another: no report
// may reach a destroyed client, and no destruction may wait forever.
TEST(ClientState, ClientsComeAndGoWhileStateIsReported) {
    vemla_test::Watchdog watchdog(std::chrono::seconds(60), "reporting while clients are destroyed");
    VemlaClient observer(NOWHERE, "observer");
    std::atomic<bool> done{false};
    std::thread reporter([&] {
        while (!done) {
            const auto state = nlohmann::json::parse(observer.get_internal_state());
            ASSERT_TRUE(state.is_object());
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        VemlaClient passing(NOWHERE, "passing");
    }
    done = true;
    reporter.join();
}

}  // namespace
