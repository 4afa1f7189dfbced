#pragma once

#include <string>

namespace common {
namespace contract {

// Precondition check: when `condition` is false, logs "Contract violation."
// (plus a blank and `message` when it is not empty) as an error record and
// throws std::logic_error with the same text.
void expects(bool condition, std::string message);

}  // namespace contract
}  // namespace common
