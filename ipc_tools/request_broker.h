#pragma once

#include "common/trace.h"
#include "ipc_tools/broker_errors.h"
#include "ipc_tools/ipc_tools.h"

#include <zmq.h>
#include <zmq.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ipc_tools {

/// The request/reply channel to one server: one ZeroMQ context and one REQ
/// socket. Each request waits for its reply through at most four polls of
/// the reply time-out. A REQ socket must alternate send and receive, so after
/// any failure of `send_request` the broker is unusable until `reset`.
/// Used by one thread at a time.
class RequestBroker : private common::diagnostics::tracing::TraceDomain<RequestBroker> {
public:
    /// Creates the context (one I/O thread); no socket until `reset`.
    /// Throws zmq::error_t when the context cannot be created.
    RequestBroker();
    virtual ~RequestBroker();

    RequestBroker(const RequestBroker&) = delete;
    RequestBroker& operator=(const RequestBroker&) = delete;

    /// Stores the normalised address and the per-poll time-out, then `reset`.
    void prepare_connection(std::string address, uint32_t timeout_ms);

    /// "ipc://..." unchanged; "host:port" gets "tcp://" in front; anything
    /// else is taken as a port on the loopback host.
    std::string generate_server_address(std::string address);

    /// A fresh REQ socket (linger 0) connected to the stored address; the
    /// previous socket, with anything still in flight on it, is dropped.
    /// Throws zmq::error_t on failure, leaving the broker without a socket.
    void reset();

    /// Sends `request` (left empty and UNSET) and puts the validated reply in
    /// `reply`. Throws TimeoutError, BadReply, BadRequest, std::system_error
    /// or zmq::error_t; a broken precondition throws std::logic_error.
    void send_request(Message& request, Message& reply);

    /// Receives the waiting reply into `reply` and checks its kind.
    void fetch_and_validate_reply(const std::string& request_name, Message& reply);

    /// Sends a HEARTBEAT_PING when nothing was sent for a second; throws
    /// InvalidResponse unless the server echoes it.
    void ping_server_if_quiet(const std::string& client_id);

    /// The clock the quiet second is measured on; the monotonic clock unless
    /// replaced (tests step time on their own).
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    void set_clock(Clock clock) { m_clock = std::move(clock); }

private:
    struct ContextCloser {
        void operator()(void* context) const;
    };
    struct SocketCloser {
        void operator()(void* socket) const;
    };

    std::unique_ptr<void, ContextCloser> m_context;
    std::unique_ptr<void, SocketCloser> m_socket;
    std::string m_server_address;
    uint32_t m_timeout_ms = 0;
    std::chrono::steady_clock::time_point m_last_send{};
    Clock m_clock = [] { return std::chrono::steady_clock::now(); };
};

/// Text of one poll outcome, for the traces.
std::string poll_result_as_string(int poll_result, zmq_pollitem_t item);

}  // namespace ipc_tools
