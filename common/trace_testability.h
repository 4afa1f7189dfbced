#pragma once

// Operations that replace the process's trace configuration. Nothing in the
// library calls them; they are for tests and tools. None of them reaches
// domains that have already decided their output.

#include <functional>
#include <istream>
#include <string>

#include "common/trace_mode.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace testability {

// Installs the writer and makes "custom" the default mode.
void set_custom_trace_writer(std::function<void(const std::string&)> writer);
void set_default_trace_mode(TraceMode mode);
// Replaces every entry with the comma-separated domains, each with the
// default mode; a trailing '*' makes a prefix entry.
void set_enabled_trace_domains(const std::string& domains);
// Replace every entry with the lines of a trace configuration.
void configure_trace_domains(std::istream& stream);
void configure_trace_domains(const std::string& path);
// True when ZEB_VEMLA_TRACE_CONFIG is set, even to an empty value.
bool environment_config_exists();
// Blocks until every line posted before the call has been written; the
// writer keeps running.
void wait_for_trace_writer();

}  // namespace testability
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
