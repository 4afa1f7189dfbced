#pragma once

// Factories for the two kinds of trace context; the classes themselves stay
// private to trace.cpp.

#include <memory>
#include <string>

#include "common/trace.h"
#include "common/trace_mode.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {

// Does nothing; the configuration keeps the one instance of the process.
std::shared_ptr<TraceContext> make_disabled_trace_context();

// Decorates each event into a line and posts it to the trace writer.
std::shared_ptr<TraceContext> make_enabled_trace_context(const std::string& domain, TraceMode mode);

}  // namespace details
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
