#include "common/timestamps.h"

#include <gtest/gtest.h>

using common::diagnostics::timings::Timestamps;

TEST(Timestamps, StartsEmptyAndAppendsNonDecreasingPoints) {
    Timestamps stamps;
    EXPECT_TRUE(stamps.get_timestamps().empty());
    EXPECT_GE(stamps.get_timestamps().capacity(), 16u);

    for (int i = 0; i < 3; ++i) {
        stamps.create_timestamp();
    }
    const auto& points = stamps.get_timestamps();
    ASSERT_EQ(points.size(), 3u);
    EXPECT_LE(points[0], points[1]);
    EXPECT_LE(points[1], points[2]);
}
