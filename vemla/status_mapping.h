#pragma once

// The engine's error codes as the API reports them (its statuses: results.h).

#include "basecall_service/client_connection_state.h"
#include "vemla/results.h"

namespace vemla {

// The Result of a connection error code; a code beyond the known ones throws
// std::runtime_error "unrecognised ConnectionError value".
Result to_result(basecall_service::ConnectionError error);

}  // namespace vemla
