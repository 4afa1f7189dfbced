#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace basecall_service {

/// The engine's answer to a read handed to it.
enum class PassReadResult : int32_t {
    success = 0,              // queued for sending, or handed back unsent when too short
    not_accepting_reads = 1,  // not started, finishing or finished, or in error
    queue_full = 2,           // the input queue stayed full for the whole wait
};

/// The value's name; std::runtime_error "unrecognised PassReadResult" for
/// any other value.
std::string to_string(PassReadResult result);
std::ostream& operator<<(std::ostream& stream, PassReadResult result);

}  // namespace basecall_service
