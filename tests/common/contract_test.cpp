#include "common/contract.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "log_test_support.h"

using common::contract::expects;

namespace {

std::string violation_text(bool condition, const std::string& message) {
    try {
        expects(condition, message);
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "<no throw>";
}

}  // namespace

TEST(Contract, HoldingConditionIsSilent) {
    vemla_test::RecordCollector collector;
    EXPECT_NO_THROW(expects(true, "whatever"));
    EXPECT_NO_THROW(expects(true, ""));
    EXPECT_TRUE(collector.records().empty());
}

TEST(Contract, ViolationTextWithAndWithoutMessage) {
    EXPECT_EQ(violation_text(false, ""), "Contract violation.");
    EXPECT_EQ(violation_text(false, "num_threads must be in range 1..MAX_NUM_THREADS"),
              "Contract violation. num_threads must be in range 1..MAX_NUM_THREADS");
}

TEST(Contract, ViolationIsLoggedAsErrorRecordBeforeThrowing) {
    vemla_test::RecordCollector collector;
    EXPECT_THROW(expects(false, "bad input"), std::logic_error);
    const auto records = collector.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, common::logging::attributes::error);
    EXPECT_EQ(records[0].channel, "error");
    EXPECT_EQ(records[0].function, "void common::contract::expects(bool, std::string)");
    EXPECT_EQ(records[0].message, "Contract violation. bad input");
}
