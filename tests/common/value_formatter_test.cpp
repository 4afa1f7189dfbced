#include "common/value_formatter.h"

#include <gtest/gtest.h>

#include <limits>

using common::ValueFormatter;

TEST(ValueFormatter, ReadDisplaySettings) {
    ValueFormatter f;
    f.nan_text = f.positive_infinity_text = f.negative_infinity_text = "0";
    f.true_text = "TRUE";
    f.false_text = "FALSE";
    EXPECT_EQ(f.Format(1.5f), "1.500000");
    EXPECT_EQ(f.Format(std::numeric_limits<float>::quiet_NaN()), "0");
    EXPECT_EQ(f.Format(std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(f.Format(-std::numeric_limits<float>::infinity()), "0");
    EXPECT_EQ(f.Format(true), "TRUE");
    EXPECT_EQ(f.Format(false), "FALSE");
}

TEST(ValueFormatter, DefaultsFallThroughToTheStandardConversion) {
    const ValueFormatter f;
    EXPECT_EQ(f.Format(std::numeric_limits<double>::quiet_NaN()),
              std::to_string(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(f.Format(std::numeric_limits<float>::infinity()), std::to_string(std::numeric_limits<float>::infinity()));
    EXPECT_EQ(f.Format(-2.25), "-2.250000");
    EXPECT_EQ(f.Format(true), "1");
    EXPECT_EQ(f.Format(false), "0");
}

TEST(ValueFormatter, PrecisionWithAndWithoutFixed) {
    ValueFormatter f;
    f.double_precision = 2;
    f.fixed = true;
    EXPECT_EQ(f.Format(3.14159), "3.14");
    f.fixed = false;
    EXPECT_EQ(f.Format(3.14159), "3.1");
    // The float precision is separate from the double one.
    EXPECT_EQ(f.Format(3.14159f), "3.141590");
    f.nan_text = "n/a";
    EXPECT_EQ(f.Format(std::numeric_limits<double>::quiet_NaN()), "n/a");
}
