#include "common/log_filters.h"

#include <algorithm>
#include <utility>

#include <boost/log/attributes/attribute_value_set.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/utility/value_ref.hpp>

namespace common {
namespace logging {

namespace {

using attributes::SeverityLevel;

const boost::log::attribute_name& severity_name() {
    static const boost::log::attribute_name name("Severity");
    return name;
}

const boost::log::attribute_name& channel_name() {
    static const boost::log::attribute_name name("Channel");
    return name;
}

bool HasSeverity(const std::vector<SeverityLevel>& levels, boost::log::value_ref<SeverityLevel> level) {
    if (!level || levels.empty()) {
        return false;
    }
    return std::find(levels.begin(), levels.end(), level.get()) != levels.end();
}

// A record without a channel counts as matching: only a named channel can be
// excluded from the trace set.
bool Contains(const std::unordered_set<std::string>& traces, boost::log::value_ref<std::string> channel) {
    if (!channel) {
        return true;
    }
    return traces.count(channel.get()) != 0;
}

bool RejectAllRecords() {
    return false;
}

struct SeverityOnlyFilter {
    std::vector<SeverityLevel> levels;

    bool operator()(const boost::log::attribute_value_set& values) const {
        return HasSeverity(levels, values[severity_name()].extract<SeverityLevel>());
    }
};

struct TwoBranchFilter {
    std::vector<SeverityLevel> levels;
    std::unordered_set<std::string> traces;

    bool operator()(const boost::log::attribute_value_set& values) const {
        const auto level = values[severity_name()].extract<SeverityLevel>();
        if (!level) {
            return false;
        }
        if (level.get() != attributes::trace) {
            return HasSeverity(levels, level);
        }
        return Contains(traces, values[channel_name()].extract<std::string>());
    }
};

}  // namespace

boost::log::filter DefineSeverityFilter(std::vector<SeverityLevel>&& levels) {
    return boost::log::filter(SeverityOnlyFilter{std::move(levels)});
}

boost::log::filter DefineSeverityFilter(std::vector<SeverityLevel>&& levels,
                                        std::unordered_set<std::string>&& custom_traces) {
    return boost::log::filter(TwoBranchFilter{std::move(levels), std::move(custom_traces)});
}

boost::log::filter DefineGlobalFilter(const LoggerOptions& options) {
    std::vector<SeverityLevel> levels;
    std::unordered_set<std::string> traces;
    for (const SinkOptions& sink : options.sinks) {
        for (SeverityLevel level : sink.severities) {
            if (std::find(levels.begin(), levels.end(), level) == levels.end()) {
                levels.push_back(level);
            }
        }
        traces.insert(sink.custom_traces.begin(), sink.custom_traces.end());
    }
    return DefineSeverityFilter(std::move(levels), std::move(traces));
}

boost::log::filter DefineRejectFilter() {
    return boost::log::filter([](const boost::log::attribute_value_set&) { return RejectAllRecords(); });
}

}  // namespace logging
}  // namespace common
