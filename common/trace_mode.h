#pragma once

#include <cstdint>

namespace common {
namespace diagnostics {
namespace tracing {

// Where the lines of an enabled trace domain go. The enumerators carry the
// keyword that selects them in a trace configuration line.
enum class TraceMode : std::uint32_t {
    off = 0,
    verbose_log = 1,
    trace_file = 2,
    stdout = 3,
    stderr = 4,
    custom = 5,
};

}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
