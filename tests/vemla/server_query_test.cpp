// The server queries against the bundled test server and against nothing.
#include "vemla/server_query.h"

#include "test_server/test_server.h"
#include "test_server/wire_codec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using vemla::Result;
namespace query = vemla::server_query;

namespace {

class QueriesAgainstServer : public ::testing::Test {
protected:
    void SetUp() override { address = server.start("tcp://127.0.0.1:*"); }

    test_server::TestServer server;
    std::string address;
};

TEST_F(QueriesAgainstServer, KitsAreAppendedInReplyOrder) {
    std::vector<query::BarcodeKitDefinition> kits;
    ASSERT_EQ(query::get_barcode_kits(address, kits, 2000), Result::success);
    ASSERT_EQ(query::get_barcode_kits(address, kits, 2000), Result::success);
    ASSERT_EQ(kits.size(), 4u);  // both answers stay
    EXPECT_EQ(kits[0].kit_name(), "TEST-BC12");
    EXPECT_EQ(kits[0].generate_barcode_name(12, 0), "barcode12a");
    EXPECT_EQ(kits[1].kit_name(), "TEST-DUAL");
    EXPECT_EQ(kits[1].generate_barcode_name(2, 20), "barcode_external02_internal20");
    EXPECT_EQ(kits[3].kit_name(), "TEST-DUAL");

    std::vector<query::LampKitDefinition> lamps;
    ASSERT_EQ(query::get_lamp_kits(address, lamps, 2000), Result::success);
    ASSERT_EQ(lamps.size(), 1u);
    EXPECT_EQ(lamps[0].targets(), (std::vector<std::string>{"target_a", "target_b"}));
    EXPECT_EQ(lamps[0].generate_barcode_name(3), "FIP03");
}

TEST_F(QueriesAgainstServer, StatisticsInformationAndState) {
    query::ServerStatistics statistics;
    statistics.client_statistics.resize(1);
    ASSERT_EQ(query::get_server_statistics(address, statistics, 2000), Result::success);
    EXPECT_EQ(statistics.client_statistics.size(), 1u);  // a server without clients appends no row

    std::string information;
    ASSERT_EQ(query::get_server_information(address, information, 2000), Result::success);
    const auto parsed = nlohmann::json::parse(information);
    EXPECT_EQ(parsed.at("name"), "vemla_test_server");
    EXPECT_EQ(information.find('\n'), std::string::npos) << "not compact: " << information;

    std::string state;
    ASSERT_EQ(query::get_server_internal_state(address, state, 2000), Result::success);
    EXPECT_TRUE(nlohmann::json::parse(state).contains("ServerInformation"));
}

TEST_F(QueriesAgainstServer, WrongReplyKindIsAnInvalidResponse) {
    test_server::FaultRule rule(test_server::Fault::reply_with, test_server::RequestKind::get_barcode_kits);
    rule.reply = test_server::ReplyKind::response;
    server.add_fault(rule);
    std::vector<query::BarcodeKitDefinition> kits;
    EXPECT_EQ(query::get_barcode_kits(address, kits, 2000), Result::invalid_response);
    EXPECT_TRUE(kits.empty());
}

// Nothing answers: every query times out and leaves its output as it was.
TEST(QueriesWithoutServer, EveryQueryTimesOut) {
    test_server::TestServer gone;
    const std::string address = gone.start("tcp://127.0.0.1:*");
    gone.stop();

    std::vector<query::BarcodeKitDefinition> kits;
    EXPECT_EQ(query::get_barcode_kits(address, kits, 100), Result::timed_out);
    EXPECT_TRUE(kits.empty());
    std::vector<query::LampKitDefinition> lamps;
    EXPECT_EQ(query::get_lamp_kits(address, lamps, 100), Result::timed_out);
    query::ServerStatistics statistics;
    EXPECT_EQ(query::get_server_statistics(address, statistics, 100), Result::timed_out);
    std::string text = "kept";
    EXPECT_EQ(query::get_server_information(address, text, 100), Result::timed_out);
    EXPECT_EQ(query::get_server_internal_state(address, text, 100), Result::timed_out);
    EXPECT_EQ(text, "kept");
}

}  // namespace
