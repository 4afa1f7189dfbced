#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include <boost/log/expressions/filter.hpp>

#include "common/log_options.h"

namespace common {
namespace logging {

// Sink filter: passes records whose severity is listed (trace included).
boost::log::filter DefineSeverityFilter(std::vector<attributes::SeverityLevel>&& levels);

// Two-branch filter: a non-trace record passes when its severity is listed;
// a trace record passes only when its channel is in `custom_traces` (or it
// has no channel). A record without a severity never passes.
boost::log::filter DefineSeverityFilter(std::vector<attributes::SeverityLevel>&& levels,
                                        std::unordered_set<std::string>&& custom_traces);

// Core filter: the two-branch filter over the union of every sink's lists.
boost::log::filter DefineGlobalFilter(const LoggerOptions& options);

// A filter that passes nothing.
boost::log::filter DefineRejectFilter();

}  // namespace logging
}  // namespace common
