#pragma once

// The engine's statuses and error codes as the API reports them.

#include "basecall_service/client_connection_state.h"
#include "vemla/results.h"

namespace vemla {

// The status with the same number as an engine status; any other value
// throws std::runtime_error "unrecognised basecall_service::ClientStatus value".
ConnectionStatus to_connection_status(basecall_service::ClientStatus status);

// The Result of a connection error code; a code beyond the known ones throws
// std::runtime_error "unrecognised ConnectionError value".
Result to_result(basecall_service::ConnectionError error);

}  // namespace vemla
