#pragma once
// A minimal REQ peer for tests of the test server: builds requests with the
// generated FlatBuffers code and reads the replies back.
#include "vemla_ipc_generated.h"

#include <zmq.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wire_peer {

using Bytes = std::vector<uint8_t>;

inline Bytes finish(flatbuffers::FlatBufferBuilder& fbb,
                    vemla_ipc::Content type,
                    flatbuffers::Offset<void> content,
                    const std::string& client_id) {
    const auto id = client_id.empty() ? flatbuffers::Offset<flatbuffers::String>() : fbb.CreateString(client_id);
    const vemla_ipc::ProtocolVersion version(11, 0, 0);
    vemla_ipc::MessageDataBuilder message(fbb);
    message.add_version(&version);
    if (!client_id.empty()) {
        message.add_client_id(id);
    }
    message.add_content_type(type);
    message.add_content(content);
    fbb.Finish(message.Finish(), vemla_ipc::MessageDataIdentifier());
    return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

inline Bytes simple_request(vemla_ipc::SimpleRequestType type,
                            const std::string& client_id = {},
                            uint32_t value = 0,
                            const std::string& text = {}) {
    flatbuffers::FlatBufferBuilder fbb(256);
    const auto t = text.empty() ? flatbuffers::Offset<flatbuffers::String>() : fbb.CreateString(text);
    vemla_ipc::SimpleRequestDataBuilder request(fbb);
    request.add_type(type);
    request.add_value(value);
    if (!text.empty()) {
        request.add_text(t);
    }
    return finish(fbb, vemla_ipc::Content_SimpleRequestData, request.Finish().Union(), client_id);
}

struct RawBlockSpec {
    uint32_t read_tag = 1;
    uint32_t block_index = 0;
    uint32_t num_blocks = 1;
    uint32_t duration = 0;
    std::string read_id = "read";
    std::string strand_id = "strand";
};

inline Bytes raw_block(const std::string& client_id, const RawBlockSpec& spec, const std::vector<int16_t>& samples) {
    flatbuffers::FlatBufferBuilder fbb(2 * samples.size() + 256);
    const auto data = fbb.CreateVector(samples);
    const auto read_id = fbb.CreateString(spec.read_id);
    const auto strand_id = fbb.CreateString(spec.strand_id);
    vemla_ipc::ReadBlockDataBuilder block(fbb);
    block.add_type(spec.block_index == 0 ? vemla_ipc::ReadBlockType_PASS_FIRST_RAW_BLOCK
                                         : vemla_ipc::ReadBlockType_PASS_NEXT_RAW_BLOCK);
    block.add_read_tag(spec.read_tag);
    block.add_block_index(spec.block_index);
    block.add_num_blocks(spec.num_blocks);
    block.add_duration(spec.duration);
    block.add_daq_offset(2.0f);
    block.add_daq_scaling(0.25f);
    block.add_read_id(read_id);
    block.add_raw_data(data);
    block.add_strand_id(strand_id);
    return finish(fbb, vemla_ipc::Content_ReadBlockData, block.Finish().Union(), client_id);
}

inline const vemla_ipc::MessageData* root(const Bytes& reply) {
    return vemla_ipc::GetMessageData(reply.data());
}

// The reply kind of a simple reply; nothing for other content.
inline std::optional<vemla_ipc::SimpleReplyType> reply_type(const Bytes& reply) {
    if (reply.size() < 8) {
        return std::nullopt;
    }
    const auto* content = root(reply)->content_as_SimpleReplyData();
    if (!content) {
        return std::nullopt;
    }
    return content->type();
}

inline std::string reply_text(const Bytes& reply) {
    const auto* content = root(reply)->content_as_SimpleReplyData();
    return content && content->text() ? content->text()->str() : std::string();
}

inline uint32_t reply_value(const Bytes& reply) {
    const auto* content = root(reply)->content_as_SimpleReplyData();
    return content ? content->value() : 0;
}

// One REQ socket with its own context; `exchange` waits up to `wait_ms`.
class Peer {
public:
    explicit Peer(const std::string& endpoint) : m_context(1), m_socket(m_context, zmq::socket_type::req) {
        m_socket.set(zmq::sockopt::linger, 0);
        m_socket.connect(endpoint);
    }

    void send(const Bytes& request) { m_socket.send(zmq::buffer(request), zmq::send_flags::none); }

    std::optional<Bytes> receive(int wait_ms) {
        zmq::pollitem_t item{m_socket.handle(), 0, ZMQ_POLLIN, 0};
        zmq::poll(&item, 1, std::chrono::milliseconds(wait_ms));
        if (!(item.revents & ZMQ_POLLIN)) {
            return std::nullopt;
        }
        zmq::message_t reply;
        (void)m_socket.recv(reply, zmq::recv_flags::none);
        const auto* data = static_cast<const uint8_t*>(reply.data());
        return Bytes(data, data + reply.size());
    }

    // Bounded by a generous wait: a missing reply fails the test, not hangs it.
    Bytes exchange(const Bytes& request, int wait_ms = 20000) {
        send(request);
        auto reply = receive(wait_ms);
        return reply ? *reply : Bytes();
    }

private:
    zmq::context_t m_context;
    zmq::socket_t m_socket;
};

}  // namespace wire_peer
