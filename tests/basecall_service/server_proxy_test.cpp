#include "basecall_service/server_proxy.h"

#include "basecall_service/connection_protocol.h"
#include "ipc_tools/broker_errors.h"
#include "tests/common/temp_folder.h"
#include "test_server/test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace proxy = basecall_service::server_proxy;

namespace {

constexpr uint32_t TIMEOUT_MS = 5000;

test_server::FaultRule reply_with(test_server::ReplyKind kind, test_server::RequestKind on) {
    test_server::FaultRule rule(test_server::Fault::reply_with, on);
    rule.reply = kind;
    return rule;
}

}  // namespace

TEST(ServerProxy, BarcodeKitsArriveAsTheServerDefinesThem) {
    const auto settings = test_server::ServerSettings::defaults();
    test_server::TestServer server(settings);
    const auto kits = proxy::get_barcode_kits(server.start(), TIMEOUT_MS);
    ASSERT_EQ(kits.size(), settings.barcode_kits.size());
    for (size_t i = 0; i < kits.size(); ++i) {
        const auto& want = settings.barcode_kits[i];
        const auto& got = kits[i];
        EXPECT_EQ(got.kit_name, want.kit_name);
        EXPECT_EQ(got.first_index, static_cast<int32_t>(want.first_index));
        EXPECT_EQ(got.last_index, static_cast<int32_t>(want.last_index));
        // The single-ended kit leaves its inner indices and flags off the wire.
        EXPECT_EQ(got.first_inner_index, static_cast<int32_t>(want.first_inner_index));
        EXPECT_EQ(got.last_inner_index, static_cast<int32_t>(want.last_inner_index));
        EXPECT_EQ(got.is_dual, want.is_dual);
        EXPECT_EQ(got.is_both_ends, want.is_both_ends);
        EXPECT_EQ(got.add_a_to_barcode_12, want.add_a_to_barcode_12);
        EXPECT_EQ(got.barcode_name_format, want.barcode_name_format);
    }
}

TEST(ServerProxy, LampKitsCarryTheirTargetsInOrder) {
    const auto settings = test_server::ServerSettings::defaults();
    test_server::TestServer server(settings);
    const auto kits = proxy::get_lamp_kits(server.start(), TIMEOUT_MS);
    ASSERT_EQ(kits.size(), settings.lamp_kits.size());
    EXPECT_EQ(kits[0].kit_name, settings.lamp_kits[0].kit_name);
    EXPECT_EQ(kits[0].first_index, static_cast<int32_t>(settings.lamp_kits[0].first_index));
    EXPECT_EQ(kits[0].last_index, static_cast<int32_t>(settings.lamp_kits[0].last_index));
    EXPECT_EQ(kits[0].barcode_name_format, settings.lamp_kits[0].barcode_name_format);
    EXPECT_EQ(kits[0].targets, settings.lamp_kits[0].targets);
}

TEST(ServerProxy, StatisticsListOneRowPerConnectedClient) {
    test_server::TestServer server;
    const std::string address = server.start();
    const auto idle = proxy::get_server_statistics(address, TIMEOUT_MS);
    EXPECT_EQ(idle.lifetime_reads_in, 0u);
    EXPECT_EQ(idle.period_reads_out, 0u);
    EXPECT_TRUE(idle.client_statistics.empty());

    basecall_service::ClientConnectionState state;
    basecall_service::ConnectionProtocol protocol(state);
    protocol.set_connection_params(address, TIMEOUT_MS);
    ipc_tools::ConnectionInfo info;
    info.config = "test_dna_fast";
    info.client_name = "stats_client";
    ASSERT_NE(protocol.establish_server_connection(info, 10), nullptr);
    const auto busy = proxy::get_server_statistics(address, TIMEOUT_MS);
    ASSERT_EQ(busy.client_statistics.size(), 1u);
    EXPECT_EQ(busy.client_statistics[0].input_read_count, 0u);
    EXPECT_EQ(busy.client_statistics[0].output_read_count, 0u);
}

TEST(ServerProxy, InternalStateIsTheServersJsonText) {
    test_server::TestServer server;
    const auto text = proxy::get_server_internal_state(server.start(), TIMEOUT_MS);
    const auto state = nlohmann::json::parse(text);
    EXPECT_EQ(state["ServerInformation"]["name"], "vemla_test_server");
    // The query itself arrived with code 1.
    EXPECT_EQ(server.requests_seen(test_server::RequestKind::query), 1u);
}

TEST(ServerProxy, ReplyOfTheWrongKindIsAnInvalidResponse) {
    using test_server::ReplyKind;
    using test_server::RequestKind;
    struct Case {
        RequestKind request;
        ReplyKind reply;
        std::function<void(const std::string&)> query;
        std::string text;
    };
    const std::vector<Case> cases = {
            {RequestKind::get_barcode_kits, ReplyKind::response,
             [](const std::string& address) { proxy::get_barcode_kits(address, TIMEOUT_MS); },
             "Could not retrieve barcode kits from server, invalid reply: RESPONSE"},
            {RequestKind::get_lamp_kits, ReplyKind::success,
             [](const std::string& address) { proxy::get_lamp_kits(address, TIMEOUT_MS); },
             "Could not retrieve lamp kits from server, invalid reply: SUCCESS"},
            {RequestKind::get_statistics, ReplyKind::response,
             [](const std::string& address) { proxy::get_server_statistics(address, TIMEOUT_MS); },
             "Could not retrieve statistics from server, invalid reply: RESPONSE"},
            {RequestKind::query, ReplyKind::heartbeat_echo,
             [](const std::string& address) { proxy::get_server_internal_state(address, TIMEOUT_MS); },
             "Could not retrieve state from server, invalid reply: HEARTBEAT_ECHO"},
    };
    test_server::TestServer server;
    const std::string address = server.start();
    for (const auto& wrong : cases) {
        server.add_fault(reply_with(wrong.reply, wrong.request));
        try {
            wrong.query(address);
            ADD_FAILURE() << wrong.text << ": accepted";
        } catch (const ipc_tools::InvalidResponse& error) {
            EXPECT_EQ(error.what(), wrong.text);
        }
    }
}

TEST(ServerProxy, NoServerEndsInTheBrokersTimeOut) {
    vemla_test::TempFolder folder;
    try {
        proxy::get_server_statistics("ipc://" + folder.str() + "/nobody", 20);
        ADD_FAILURE() << "answered";
    } catch (const ipc_tools::TimeoutError& error) {
        EXPECT_STREQ(error.what(), "Timeout waiting for reply to request: GET_STATISTICS");
    }
}

TEST(ServerProxy, StatisticsWithoutClientListHaveNoRows) {
    flatbuffers::FlatBufferBuilder builder;
    vemla_ipc::ServerStatsBuilder stats(builder);
    stats.add_lifetime_reads_in(7);
    stats.add_period_reads_out(3);
    builder.Finish(stats.Finish());
    const auto* table = flatbuffers::GetRoot<vemla_ipc::ServerStats>(builder.GetBufferPointer());
    const auto summary = proxy::get_stats_from_message(*table);
    EXPECT_EQ(summary.lifetime_reads_in, 7u);
    EXPECT_EQ(summary.lifetime_reads_out, 0u);
    EXPECT_EQ(summary.period_reads_out, 3u);
    EXPECT_TRUE(summary.client_statistics.empty());
}
