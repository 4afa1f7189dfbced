#include "test_server/fault_rules.h"
#include "test_server/wire_codec.h"

#include <gtest/gtest.h>

using namespace test_server;

TEST(FaultRules, ParsesEveryFieldOfARule) {
    FaultRule rule;
    std::string error;
    ASSERT_TRUE(parse_fault_rule("delay_reply:GET_FIRST_CALLED_BLOCK:3:2:150", rule, error)) << error;
    EXPECT_EQ(rule.fault, Fault::delay_reply);
    ASSERT_TRUE(rule.on);
    EXPECT_EQ(*rule.on, RequestKind::get_first_called_block);
    EXPECT_EQ(rule.count, 3u);
    EXPECT_EQ(rule.skip, 2u);
    EXPECT_EQ(rule.delay_ms, 150u);

    ASSERT_TRUE(parse_fault_rule("die_and_return", rule, error));
    EXPECT_FALSE(rule.on);
    EXPECT_EQ(rule.count, 1u);
    ASSERT_TRUE(parse_fault_rule("drop_reply:ANY:0", rule, error));
    EXPECT_FALSE(rule.on);
    EXPECT_EQ(rule.count, 0u);
}

TEST(FaultRules, RefusesUnknownFaultsRequestsAndNumbers) {
    FaultRule rule;
    std::string error;
    for (const std::string text : {"", "explode", "drop_reply:NOT_A_REQUEST", "drop_reply:CONNECT:x",
                                   "drop_reply:CONNECT:1:-1", "drop_reply:CONNECT:1:1:1:1", "drop_reply:UNKNOWN",
                                   "reply_with", "reply_with=", "reply_with=CONNECT", "drop_reply=CONNECTED"}) {
        EXPECT_FALSE(parse_fault_rule(text, rule, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(FaultRules, ReplyWithCarriesItsReplyKind) {
    FaultRule rule;
    std::string error;
    ASSERT_TRUE(parse_fault_rule("reply_with=INVALID_CONFIG:CONNECT:2", rule, error)) << error;
    EXPECT_EQ(rule.fault, Fault::reply_with);
    ASSERT_TRUE(rule.reply);
    EXPECT_STREQ(reply_kind_name(*rule.reply), "INVALID_CONFIG");
    ASSERT_TRUE(rule.on);
    EXPECT_EQ(*rule.on, RequestKind::connect);
    EXPECT_EQ(rule.count, 2u);
}

TEST(FaultRules, EveryFaultNameParsesBackToItself) {
    for (int i = 0; i <= static_cast<int>(Fault::claim_many_blocks); ++i) {
        const auto fault = static_cast<Fault>(i);
        if (fault == Fault::reply_with) {
            continue;  // needs its reply kind; see ReplyWithCarriesItsReplyKind
        }
        FaultRule rule;
        std::string error;
        ASSERT_TRUE(parse_fault_rule(fault_name(fault), rule, error)) << fault_name(fault);
        EXPECT_EQ(rule.fault, fault);
    }
}

TEST(FaultTable, SkipsThenFiresCountTimesOnlyOnItsRequest) {
    FaultTable table;
    table.add({Fault::not_ready, RequestKind::pass_next_raw_block, 1, 2, 0});
    EXPECT_TRUE(table.take(RequestKind::pass_first_raw_block).empty());
    EXPECT_TRUE(table.take(RequestKind::pass_next_raw_block).empty());   // skipped
    EXPECT_EQ(table.take(RequestKind::pass_next_raw_block).size(), 1u);  // fires
    EXPECT_EQ(table.take(RequestKind::pass_next_raw_block).size(), 1u);  // fires again
    EXPECT_TRUE(table.take(RequestKind::pass_next_raw_block).empty());   // used up
    EXPECT_EQ(table.size(), 0u);
}

TEST(FaultTable, CountZeroFiresForeverAndSeveralRulesFireTogether) {
    FaultTable table;
    table.add({Fault::delay_reply, std::nullopt, 0, 0, 10});
    table.add({Fault::bad_request, RequestKind::query, 0, 1, 0});
    const auto fired = table.take(RequestKind::query);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].fault, Fault::delay_reply);
    EXPECT_EQ(fired[1].fault, Fault::bad_request);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(table.take(RequestKind::connect).size(), 1u);
    }
    table.clear();
    EXPECT_TRUE(table.take(RequestKind::connect).empty());
}
