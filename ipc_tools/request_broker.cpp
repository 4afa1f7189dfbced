#include "ipc_tools/request_broker.h"

#include "common/contract.h"
#include "common/logger.h"
#include "ipc_tools/wire_access.h"

#include <cerrno>
#include <sstream>
#include <system_error>

namespace ipc_tools {

namespace {

constexpr const char* LOOPBACK_HOST = "localhost";
constexpr const char* IPC_SCHEME = "ipc://";
constexpr const char* TCP_SCHEME = "tcp://";
constexpr int POLLS_AFTER_FIRST = 3;
constexpr auto HEARTBEAT_QUIET_PERIOD = std::chrono::seconds(1);

std::string to_string_zmq_error(int error_number) {
    return "errno[" + std::to_string(error_number) + "] : " + zmq_strerror(error_number);
}

// Receives and discards the remaining parts of a multi-part message, so the
// REQ socket is back in step for the next request.
void drain_remaining_parts(void* socket, zmq::message_t& part) {
    while (zmq_msg_more(part.handle())) {
        if (zmq_msg_recv(part.handle(), socket, ZMQ_DONTWAIT) == -1 && zmq_errno() != EINTR) {
            return;
        }
    }
}

}  // namespace

void RequestBroker::ContextCloser::operator()(void* context) const {
    zmq_ctx_term(context);
}

void RequestBroker::SocketCloser::operator()(void* socket) const {
    zmq_close(socket);
}

std::string poll_result_as_string(int poll_result, zmq_pollitem_t item) {
    std::ostringstream text;
    text << "num events: " << poll_result << ". "
         << "zmq::pollitem_t: socket[" << item.socket << "], "
         << "fd[" << item.fd << "], "
         << "events[" << item.events << "], "
         << "revents[" << item.revents << "]";
    return text.str();
}

RequestBroker::RequestBroker() : m_context(zmq_ctx_new()) {
    if (!m_context) {
        throw zmq::error_t();
    }
    zmq_ctx_set(m_context.get(), ZMQ_IO_THREADS, 1);
    zmq_ctx_set(m_context.get(), ZMQ_MAX_SOCKETS, 1023);
}

RequestBroker::~RequestBroker() {
    // The socket must be closed before the context terminates.
    m_socket.reset();
    m_context.reset();
}

void RequestBroker::prepare_connection(std::string address, uint32_t timeout_ms) {
    auto trace = create_trace("prepare_connection");
    m_server_address = generate_server_address(std::move(address));
    m_timeout_ms = timeout_ms;
    reset();
}

std::string RequestBroker::generate_server_address(std::string address) {
    auto trace = create_trace("generate_server_address");
    if (address.size() >= 6 && address.compare(0, 6, IPC_SCHEME) == 0) {
        return address;
    }
    // A full tcp endpoint (as a server reports its own) is already normalised;
    // prefixing it again would give an address no socket can connect to.
    if (address.compare(0, 6, TCP_SCHEME) == 0) {
        return address;
    }
    if (address.find(':') != std::string::npos) {
        return TCP_SCHEME + address;
    }
    return std::string(TCP_SCHEME) + LOOPBACK_HOST + ":" + address;
}

void RequestBroker::reset() {
    auto trace = create_trace("reset");
    // The previous socket goes in any case. The new one is kept only once it
    // is connected: a socket connected to nothing would make the next request
    // wait forever instead of failing the "null socket" check.
    m_socket.reset();
    std::unique_ptr<void, SocketCloser> socket(zmq_socket(m_context.get(), ZMQ_REQ));
    if (!socket) {
        throw zmq::error_t();
    }
    const int linger = 0;
    if (zmq_setsockopt(socket.get(), ZMQ_LINGER, &linger, sizeof linger) != 0) {
        throw zmq::error_t();
    }
    if (zmq_connect(socket.get(), m_server_address.c_str()) != 0) {
        throw zmq::error_t();
    }
    m_socket = std::move(socket);
}

void RequestBroker::send_request(Message& request, Message& reply) {
    common::contract::expects(m_socket != nullptr, "null socket");
    common::contract::expects(!request.empty() && request.type != MessageType::UNSET, "invalid request");

    const std::string request_name = message_type_as_string(request.type);
    write_hftrace("send_request", [&] { return request_name; });

    zmq::message_t frame;
    request.transfer_to_zmq(frame);

    m_last_send = m_clock();
    while (zmq_msg_send(frame.handle(), m_socket.get(), 0) == -1) {
        const int error = zmq_errno();
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN) {
            get_trace_context()->write_message("send_request",
                                               "Client zmq_msg_send failed. " + to_string_zmq_error(error));
            throw std::system_error(error, std::system_category(), "Client zmq_msg_send failed");
        }
        throw zmq::error_t();
    }

    zmq_pollitem_t item{m_socket.get(), 0, ZMQ_POLLIN, 0};
    int polls_left = POLLS_AFTER_FIRST;
    int poll_result = 0;
    while (true) {
        poll_result = zmq_poll(&item, 1, static_cast<long>(m_timeout_ms));
        if (poll_result == -1) {
            const int error = zmq_errno();
            if (error == EINTR) {
                continue;
            }
            get_trace_context()->write_message("send_request", "zmq::poll exception. " + to_string_zmq_error(error));
            throw zmq::error_t();
        }
        write_hftrace("send_request", [&] { return poll_result_as_string(poll_result, item); });
        if (polls_left == 0) {
            break;
        }
        --polls_left;
        if (poll_result > 0 && (item.revents & ZMQ_POLLIN) && !(item.revents & ZMQ_POLLERR)) {
            break;
        }
    }

    if (!(item.revents & ZMQ_POLLIN)) {
        const std::string text = "Timeout waiting for reply to request: " + request_name;
        get_trace_context()->write_message("send_request", text);
        throw TimeoutError(text);
    }
    if (poll_result == 0) {
        get_trace_context()->write_message("send_request",
                                           poll_result_as_string(poll_result, item) +
                                                   " Polling ambiguity waiting for reply to request: " + request_name);
        throw TimeoutError("Timeout waiting for reply to request {zero events}: " + request_name);
    }
    if (item.revents & ZMQ_POLLERR) {
        get_trace_context()->write_message("send_request",
                                           poll_result_as_string(poll_result, item) +
                                                   " Error on socket waiting for reply to request: " + request_name);
        throw TimeoutError("Timeout waiting for reply to request {error on socket}: " + request_name);
    }
    fetch_and_validate_reply(request_name, reply);
}

void RequestBroker::fetch_and_validate_reply(const std::string& request_name, Message& reply) {
    write_hftrace("fetch_and_validate_reply", [&] { return request_name; });

    zmq::message_t frame;
    while (zmq_msg_recv(frame.handle(), m_socket.get(), ZMQ_DONTWAIT) == -1) {
        const int error = zmq_errno();
        if (error == EINTR) {
            continue;
        }
        if (error == EAGAIN) {
            get_trace_context()->write_message("fetch_and_validate_reply",
                                               "Client zmq_msg_recv failed. " + to_string_zmq_error(error));
            throw std::system_error(error, std::system_category(), "Client zmq_msg_recv failed");
        }
        throw zmq::error_t();
    }

    try {
        if (zmq_msg_more(frame.handle())) {
            // A reply is one frame; anything longer is not this protocol.
            drain_remaining_parts(m_socket.get(), frame);
            reply = Message();
            reply.type = MessageType::INVALID_PROTOCOL;
        } else {
            reply = Message(frame);
        }
    } catch (const std::exception& error) {
        get_trace_context()->write_message("fetch_and_validate_reply", error.what());
        throw BadReply("Error parsing reply from server for request: " + request_name + ". " + error.what());
    }
    const std::string reply_name = message_type_as_string(reply.type);
    write_hftrace("fetch_and_validate_reply", [&] { return reply_name; });

    switch (reply.type) {
        case MessageType::CLIENT_NOT_RECOGNISED: {
            const std::string text = "Received CLIENT_NOT_RECOGNISED from server. Treating as a server restart.";
            get_trace_context()->write_message("fetch_and_validate_reply", text);
            VEMLA_LOG_INFO << text;
            throw TimeoutError(text);
        }
        case MessageType::UNSET:
        case MessageType::INVALID_PROTOCOL: {
            const std::string text = "Could not interpret message from server for request: " + request_name +
                                     ". Reply: " + reply_name;
            get_trace_context()->write_message("fetch_and_validate_reply", text);
            throw BadReply(text);
        }
        case MessageType::BAD_REQUEST: {
            const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
            const std::string text = "Bad request message: " + request_name + ". " +
                                     (content ? wire::as_string(content->text()) : std::string());
            get_trace_context()->write_message("fetch_and_validate_reply", text);
            throw BadRequest(text);
        }
        default: return;
    }
}

void RequestBroker::ping_server_if_quiet(const std::string& client_id) {
    if (m_clock() - m_last_send < HEARTBEAT_QUIET_PERIOD) {
        return;
    }
    auto trace = create_hftrace("ping_server_if_quiet");
    Message ping(MessageType::HEARTBEAT_PING, client_id, 0, "");
    Message reply;
    send_request(ping, reply);
    if (reply.type != MessageType::HEARTBEAT_ECHO) {
        const std::string reply_name = message_type_as_string(reply.type);
        trace.message("invalid response: " + reply_name);
        throw InvalidResponse("invalid response from server, expected: HEARTBEAT_ECHO, received: " + reply_name);
    }
}

}  // namespace ipc_tools
