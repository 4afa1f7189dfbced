#pragma once

#include "basecall_service/client_connection_state.h"
#include "common/trace.h"
#include "ipc_tools/request_broker.h"

#include <cstdint>
#include <functional>
#include <string>

namespace basecall_service {

/// The engine's only door to the request/reply channel. Runs each broker
/// operation and turns the messaging layer's failures into `false` plus an
/// error state, so that nothing above it sees a messaging exception. Used by
/// one thread at a time (the client's worker).
class RequestBrokerAdapter : private common::diagnostics::tracing::TraceDomain<RequestBrokerAdapter> {
public:
    RequestBrokerAdapter();

    RequestBrokerAdapter(const RequestBrokerAdapter&) = delete;
    RequestBrokerAdapter& operator=(const RequestBrokerAdapter&) = delete;

    /// A fresh socket towards the address (any form the broker accepts).
    /// When this fails the broker holds no socket.
    bool prepare_connection(const std::string& server_address, uint32_t timeout_ms);
    /// On true the reply has been received and validated by the broker.
    bool send_request(ipc_tools::Message& request, ipc_tools::Message& reply);
    /// Heartbeat after a quiet second; the server must echo it.
    bool ping_server_if_quiet(const std::string& client_id);

    /// Outcome of the last call: `no_error` with an empty message after a
    /// success.
    const ErrorState& error_state() const { return m_error_state; }

    /// Runs `request`, mapping the messaging layer's exceptions to error
    /// states; any other exception passes through with the error state
    /// cleared.
    bool invoke(const std::function<void()>& request);

private:
    ipc_tools::RequestBroker m_broker;
    ErrorState m_error_state;
};

}  // namespace basecall_service
