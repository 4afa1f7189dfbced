#pragma once

#include "ipc_tools/message_type.h"

#include <vemla_ipc_generated.h>
#include <zmq.h>
#include <zmq.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace ipc_tools {

/// The client's protocol version, 11.0.0, written into every message built.
const vemla_ipc::ProtocolVersion& current_version();
/// "11.0.0".
std::string current_version_as_string();

/// One wire frame: a finished `vemla_ipc` FlatBuffers buffer held in a
/// ZeroMQ message, plus the kind derived from it. Move-only; deep copies only
/// through `copy`. Building and sending never copy the buffer: a builder's
/// buffer becomes the ZeroMQ frame and is released by ZeroMQ once sent.
class Message {
public:
    /// Empty, UNSET.
    Message() = default;

    /// A SimpleRequestData or SimpleReplyData message. `client_id` and `text`
    /// are left out when empty (each is taken up to its first NUL).
    /// Throws std::runtime_error for a kind that has no simple form.
    Message(MessageType type, const std::string& client_id, uint32_t value, const std::string& text);

    /// Takes over the finished buffer of `builder` without copying; the
    /// builder is left empty. A ZeroMQ failure leaves the message UNSET and
    /// empty rather than throwing.
    explicit Message(flatbuffers::FlatBufferBuilder& builder);

    /// Adopts a received frame. Too short: UNSET; foreign file identifier or
    /// a buffer that fails verification: INVALID_PROTOCOL; in those cases no
    /// body is kept. Otherwise the frame's contents move into this message.
    explicit Message(zmq::message_t& frame);

    Message(Message&& other) noexcept;
    Message& operator=(Message&& other) noexcept;
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    ~Message() = default;

    /// Same kind; the body (if any, and not of size 0) copied byte for byte.
    Message copy() const;

    bool empty() const { return !m_body; }

    /// Root of the body; nullptr when `empty()`.
    const vemla_ipc::MessageData* get_message_data() const;

    /// Raw body bytes (nullptr / 0 when empty).
    const uint8_t* data() const;
    std::size_t size() const;

    /// Moves the body into `frame` (ZeroMQ's move, no copy) and leaves this
    /// message UNSET and empty. Without a body `frame` becomes an empty frame.
    void transfer_to_zmq(zmq::message_t& frame);

    /// The message's version; {0,0,0} when there is none to tell.
    vemla_ipc::ProtocolVersion get_protocol_version() const;

    static MessageType check_message_type(const vemla_ipc::MessageData* root);
    static MessageType simple_request_type(const vemla_ipc::SimpleRequestData* table);
    static MessageType simple_reply_type(const vemla_ipc::SimpleReplyData* table);
    static MessageType read_block_type(const vemla_ipc::ReadBlockData* table);

    /// ZeroMQ free callback for an adopted builder buffer; may run on
    /// ZeroMQ's I/O thread after the frame was sent.
    static void free_builder_buffer(void* data, void* hint);

    /// Read directly by the message's users.
    MessageType type = MessageType::UNSET;

private:
    struct ZmqMessageCloser {
        void operator()(zmq_msg_t* message) const;
    };
    using Body = std::unique_ptr<zmq_msg_t, ZmqMessageCloser>;

    void adopt_builder(flatbuffers::FlatBufferBuilder& builder);

    Body m_body;
};

/// QUERY request carrying `code`; `code` must not be undefined.
Message create_query_request(QueryCode code, const std::string& client_id);

/// The code of a QUERY message; codes above 2 read as QueryCode::unknown.
QueryCode get_query_code(const Message& message);

}  // namespace ipc_tools
