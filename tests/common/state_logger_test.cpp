#include <cstdint>
#include <string>
#include <vector>

#include <boost/any.hpp>
#include <gtest/gtest.h>

#include "common/concrete_state_logger.h"

namespace {

using common::diagnostics::state::StateLogger;
using common::diagnostics::state::StateRecord;
using common::diagnostics::state::StateRecordType;
using common::diagnostics::state::detail::ConcreteStateLogger;

template <typename T>
const T& held(const StateRecord& record) {
    const T* value = boost::any_cast<T>(&record.value);
    if (!value) {
        throw std::runtime_error(std::string("record ") + record.key + " holds " + record.value.type().name());
    }
    return *value;
}

TEST(StateLogger, NestedSectionsCloseInReverseOrderAndLaterValuesLandOutside) {
    std::vector<StateRecord> records;
    ConcreteStateLogger logger(records);
    {
        auto outer = logger.create_child_section("outer");
        { auto inner = logger.create_child_section("inner"); }
        logger.log("after_inner", true);
    }
    logger.log("top", std::string("x"));

    std::vector<std::pair<StateRecordType, std::string>> shape;
    for (const auto& r : records) {
        shape.emplace_back(r.type, r.key);
    }
    const std::vector<std::pair<StateRecordType, std::string>> expected = {
            {StateRecordType::section_begin, "outer"}, {StateRecordType::section_begin, "inner"},
            {StateRecordType::section_end, "inner"},   {StateRecordType::value, "after_inner"},
            {StateRecordType::section_end, "outer"},   {StateRecordType::value, "top"},
    };
    EXPECT_EQ(shape, expected);
    EXPECT_TRUE(records[0].value.empty());
    EXPECT_TRUE(records[2].value.empty());
    EXPECT_EQ(held<std::string>(records[5]), "x");
}

TEST(StateLogger, EveryIntegerTypeReachesOneOfTheFiveHeldTypes) {
    std::vector<StateRecord> records;
    ConcreteStateLogger logger(records);
    StateLogger& base = logger;
    base.log("int", -5);
    base.log("int64", -(std::int64_t{1} << 40));
    base.log("uint64", std::uint64_t{18446744073709551615u});
    base.log("size", std::size_t{7});
    base.log("uint32", std::uint32_t{4000000000u});
    base.log("uint8", std::uint8_t{200});
    base.log("float", 0.5f);
    base.log("ll", -3LL);
    base.log("ull", 3ULL);
    base.log("double", 2.25);
    base.log("bool", false);

    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(held<long long>(records[0]), -5);
    EXPECT_EQ(held<long long>(records[1]), -(1LL << 40));
    EXPECT_EQ(held<unsigned long long>(records[2]), 18446744073709551615ull);
    EXPECT_EQ(held<unsigned long long>(records[3]), 7u);
    EXPECT_EQ(held<unsigned long long>(records[4]), 4000000000ull);
    EXPECT_EQ(held<long long>(records[5]), 200);
    EXPECT_EQ(held<double>(records[6]), 0.5);
    EXPECT_EQ(held<long long>(records[7]), -3);
    EXPECT_EQ(held<unsigned long long>(records[8]), 3u);
    EXPECT_EQ(held<double>(records[9]), 2.25);
    EXPECT_EQ(held<bool>(records[10]), false);
}

TEST(StateLogger, TextIsNeverTakenForBoolThroughBaseOrDerivedReference) {
    std::vector<StateRecord> records;
    ConcreteStateLogger logger(records);
    StateLogger& base = logger;
    base.log("base_literal", "hello");
    logger.log("derived_literal", "world");
    char buffer[] = "mutable";
    logger.log("char_pointer", buffer);
    logger.log("std_string", std::string("hello"));

    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(held<std::string>(records[0]), "hello");
    EXPECT_EQ(held<std::string>(records[1]), "world");
    EXPECT_EQ(held<std::string>(records[2]), "mutable");
    EXPECT_EQ(held<std::string>(records[3]), held<std::string>(records[0]));
}

}  // namespace
