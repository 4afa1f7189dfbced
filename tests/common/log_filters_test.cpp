#include "common/log_filters.h"

#include <gtest/gtest.h>

#include <boost/log/attributes/attribute_set.hpp>
#include <boost/log/attributes/attribute_value_set.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/optional.hpp>

using namespace common::logging;
using attributes::SeverityLevel;

namespace {

// Evaluates a filter on a hand-built attribute set.
bool passes(const boost::log::filter& filter,
            boost::optional<SeverityLevel> severity,
            boost::optional<std::string> channel) {
    boost::log::attribute_set attrs;
    if (severity) attrs.insert("Severity", boost::log::attributes::make_constant(*severity));
    if (channel) attrs.insert("Channel", boost::log::attributes::make_constant(*channel));
    boost::log::attribute_set empty;
    boost::log::attribute_value_set values(attrs, empty, empty);
    return filter(values);
}

const boost::optional<std::string> no_channel;
const boost::optional<SeverityLevel> no_severity;

}  // namespace

TEST(LogFilters, RecordWithoutSeverityNeverPasses) {
    LoggerOptions all;
    for (auto& sink : all.sinks) {
        sink.severities = {attributes::trace, attributes::verbose, attributes::message,
                           attributes::info,  attributes::warning, attributes::error};
        sink.custom_traces = {"", "info", "x"};
    }
    for (const auto& channel : {no_channel, boost::optional<std::string>("info")}) {
        EXPECT_FALSE(passes(DefineSeverityFilter({attributes::trace, attributes::error}), no_severity, channel));
        EXPECT_FALSE(passes(DefineSeverityFilter({attributes::error}, {"info"}), no_severity, channel));
        EXPECT_FALSE(passes(DefineGlobalFilter(all), no_severity, channel));
        EXPECT_FALSE(passes(DefineRejectFilter(), no_severity, channel));
    }
}

TEST(LogFilters, OneArgumentFormTestsTheListOnly) {
    const auto filter = DefineSeverityFilter({attributes::warning, attributes::error});
    EXPECT_TRUE(passes(filter, attributes::warning, std::string("anything")));
    EXPECT_TRUE(passes(filter, attributes::error, no_channel));
    EXPECT_FALSE(passes(filter, attributes::message, std::string("message")));
    EXPECT_FALSE(passes(filter, attributes::trace, std::string("warning")));

    const auto trace_only = DefineSeverityFilter({attributes::trace});
    EXPECT_TRUE(passes(trace_only, attributes::trace, std::string("whatever")));
    EXPECT_TRUE(passes(trace_only, attributes::trace, no_channel));
    EXPECT_FALSE(passes(trace_only, attributes::info, no_channel));

    const auto none = DefineSeverityFilter({});
    for (int level = 0; level < 6; ++level) {
        EXPECT_FALSE(passes(none, static_cast<SeverityLevel>(level), std::string("x")));
    }
}

TEST(LogFilters, TwoBranchFormSplitsTraceFromOtherLevels) {
    const auto filter = DefineSeverityFilter({attributes::trace, attributes::info}, {"verbose"});
    EXPECT_TRUE(passes(filter, attributes::trace, std::string("verbose")));
    EXPECT_FALSE(passes(filter, attributes::trace, std::string("info")));  // trace listed, channel not
    EXPECT_TRUE(passes(filter, attributes::info, std::string("anything")));
    EXPECT_FALSE(passes(filter, attributes::verbose, std::string("verbose")));  // traces never admit non-trace
    EXPECT_FALSE(passes(filter, attributes::trace, std::string("Verbose")));    // case-sensitive

    const auto empty_traces = DefineSeverityFilter({attributes::trace}, std::unordered_set<std::string>{});
    EXPECT_TRUE(passes(empty_traces, attributes::trace, no_channel));
    EXPECT_FALSE(passes(empty_traces, attributes::trace, std::string("")));

    const auto no_levels = DefineSeverityFilter({}, {"tracing"});
    EXPECT_TRUE(passes(no_levels, attributes::trace, std::string("tracing")));
    EXPECT_FALSE(passes(no_levels, attributes::error, std::string("tracing")));
}

TEST(LogFilters, BuildersTakeTheCallersContainers) {
    std::vector<SeverityLevel> levels{attributes::error};
    std::unordered_set<std::string> traces{"a"};
    const auto filter = DefineSeverityFilter(std::move(levels), std::move(traces));
    EXPECT_TRUE(levels.empty());
    EXPECT_TRUE(traces.empty());
    EXPECT_TRUE(passes(filter, attributes::error, no_channel));
}

TEST(LogFilters, GlobalFilterUnitesEverySinkIncludingDisabledOnes) {
    LoggerOptions options;
    options.sinks[error_console].severities = {attributes::trace, attributes::warning};
    options.sinks[error_console].enabled = true;
    options.sinks[verbose_file].severities = {attributes::info};
    options.sinks[verbose_file].enabled = false;

    // No custom traces anywhere: a channelled trace is stopped at the core
    // even though a sink lists trace.
    auto filter = DefineGlobalFilter(options);
    EXPECT_FALSE(passes(filter, attributes::trace, std::string("error")));
    EXPECT_TRUE(passes(filter, attributes::trace, no_channel));
    EXPECT_TRUE(passes(filter, attributes::warning, std::string("warning")));
    EXPECT_TRUE(passes(filter, attributes::info, std::string("info")));  // from the disabled sink
    EXPECT_FALSE(passes(filter, attributes::error, std::string("error")));

    options.sinks[core_file].custom_traces = {"tracing"};
    filter = DefineGlobalFilter(options);
    EXPECT_TRUE(passes(filter, attributes::trace, std::string("tracing")));
    EXPECT_FALSE(passes(filter, attributes::trace, std::string("other")));
}

TEST(LogFilters, RejectFilterPassesNothing) {
    const auto filter = DefineRejectFilter();
    for (int level = 0; level < 6; ++level) {
        EXPECT_FALSE(passes(filter, static_cast<SeverityLevel>(level), std::string("error")));
        EXPECT_FALSE(passes(filter, static_cast<SeverityLevel>(level), no_channel));
    }
}
