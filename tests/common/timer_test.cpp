#include "common/timer.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/algorithm/string/split.hpp>
#include <gtest/gtest.h>

#include "common/trace_testability.h"
#include "trace_test_support.h"

namespace {

namespace tracing = common::diagnostics::tracing;
using common::diagnostics::timings::TimestampsReporter;
using std::chrono::nanoseconds;

const std::string REPORTER_DOMAIN = "hftrace::common::diagnostics::timings::TimestampsReporter";

// Time points a (at 1 s), b and c: b - a = 1 ms + j us, c - b = 2 us.
std::vector<TimestampsReporter::TimePoint> line_points(int j) {
    const TimestampsReporter::TimePoint a{nanoseconds(1000000000)};
    const auto b = a + nanoseconds(1000000 + 1000 * j);
    return {a, b, b + nanoseconds(2000)};
}

// The blocks written so far, each split into its lines; the first line of
// each is the trace decoration.
std::vector<std::vector<std::string>> blocks(vemla_test::CollectedTraceLines& collected) {
    std::vector<std::vector<std::string>> result;
    for (const auto& line : collected.lines()) {
        if (line.find(REPORTER_DOMAIN + "::do_flush") != std::string::npos) {
            result.emplace_back();
            boost::split(result.back(), line, [](char c) { return c == '\n'; });
        }
    }
    return result;
}

TEST(TimestampsReporter, The500thLineWritesABlockWithSegmentAndRunningAverages) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains(REPORTER_DOMAIN);
    TimestampsReporter reporter({"a", "b", "c"}, 1, 2);
    for (int j = 0; j < 499; ++j) {
        reporter.add(line_points(j));
    }
    EXPECT_TRUE(blocks(collected).empty());

    reporter.add(line_points(499));
    auto written = blocks(collected);
    ASSERT_EQ(written.size(), 1u);
    const auto& block = written[0];
    ASSERT_EQ(block.size(), 1u + 1 + 500 + 1 + 2);
    EXPECT_EQ(block[1], "a, b, c, sub_total, total");
    EXPECT_EQ(block[2], "1000.000ms , 1.000ms , 0.002ms , 0.002ms , 1.002ms ");
    EXPECT_EQ(block[501], "1000.000ms , 1.499ms , 0.002ms , 0.002ms , 1.501ms ");
    EXPECT_EQ(block[502], "a, b, c, sub_total, total");
    EXPECT_EQ(block[503], "segment average: 0.000ms , 1.249ms , 0.002ms , 0.002ms , 1.251ms ");
    EXPECT_EQ(block[504], "running average: 0.000ms , 1.249ms , 0.002ms , 0.002ms , 1.251ms ");

    // The segment restarts after a block; the running average goes on.
    for (int j = 500; j < 503; ++j) {
        reporter.add(line_points(j));
    }
    reporter.flush();
    reporter.flush();  // nothing pending: nothing written
    written = blocks(collected);
    ASSERT_EQ(written.size(), 2u);
    ASSERT_EQ(written[1].size(), 1u + 1 + 3 + 1 + 2);
    EXPECT_EQ(written[1][6], "segment average: 0.000ms , 1.501ms , 0.002ms , 0.002ms , 1.503ms ");
    EXPECT_EQ(written[1][7], "running average: 0.000ms , 1.251ms , 0.002ms , 0.002ms , 1.253ms ");
}

TEST(TimestampsReporter, SubRangeAndListLengthAreContractsWhileTracing) {
    vemla_test::CollectedTraceLines collected;
    tracing::testability::set_enabled_trace_domains(REPORTER_DOMAIN);
    EXPECT_THROW(TimestampsReporter({}, 0, 0), std::logic_error);
    EXPECT_THROW(TimestampsReporter({"a", "b"}, 1, 0), std::logic_error);
    EXPECT_THROW(TimestampsReporter({"a", "b"}, 0, 2), std::logic_error);

    TimestampsReporter reporter({"a", "b", "c"}, 1, 1);
    EXPECT_THROW(reporter.add({line_points(0)[0]}), std::logic_error);
    reporter.add(line_points(0));
    reporter.flush();
    const auto written = blocks(collected);
    ASSERT_EQ(written.size(), 1u);
    ASSERT_EQ(written[0].size(), 1u + 1 + 1 + 1 + 2);  // the refused list left no line
    EXPECT_EQ(written[0][2], "1000.000ms , 1.000ms , 0.002ms , 0.000ms , 1.002ms ");
}

TEST(TimestampsReporter, WithTracingOffItChecksAndWritesNothing) {
    // A fresh process, so that the reporter's domain decides afresh.
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
            {
                tracing::testability::set_enabled_trace_domains("");
                TimestampsReporter reporter({}, 5, 1);
                reporter.add({});
                reporter.flush();
                std::exit(0);
            },
            ::testing::ExitedWithCode(0), "");
}

}  // namespace
