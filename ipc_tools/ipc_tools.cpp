#include "ipc_tools/ipc_tools.h"

#include "common/contract.h"

#include <cstring>
#include <stdexcept>

namespace ipc_tools {

namespace {

constexpr std::size_t MIN_FRAME_SIZE = 8;
constexpr std::size_t IDENTIFIER_OFFSET = 4;
// FlatBuffers scalars are at most 8 bytes wide; a buffer starting on such a
// boundary keeps every verified field naturally aligned.
constexpr std::uintptr_t BUFFER_ALIGNMENT = 8;

bool has_client_identifier(const void* data) {
    return std::memcmp(static_cast<const uint8_t*>(data) + IDENTIFIER_OFFSET, vemla_ipc::MessageDataIdentifier(),
                       flatbuffers::kFileIdentifierLength) == 0;
}

bool is_aligned(const void* data) {
    return reinterpret_cast<std::uintptr_t>(data) % BUFFER_ALIGNMENT == 0;
}

bool verifies(const zmq_msg_t* body) {
    const auto* data = static_cast<const uint8_t*>(zmq_msg_data(const_cast<zmq_msg_t*>(body)));
    const std::size_t size = zmq_msg_size(const_cast<zmq_msg_t*>(body));
    if (size >= FLATBUFFERS_MAX_BUFFER_SIZE) {
        return false;
    }
    flatbuffers::Verifier verifier(data, size);
    return vemla_ipc::VerifyMessageDataBuffer(verifier);
}

}  // namespace

const vemla_ipc::ProtocolVersion& current_version() {
    static const vemla_ipc::ProtocolVersion version{11, 0, 0};
    return version;
}

std::string current_version_as_string() {
    const auto& version = current_version();
    return std::to_string(version.major()) + "." + std::to_string(version.minor()) + "." +
           std::to_string(version.patch());
}

void Message::ZmqMessageCloser::operator()(zmq_msg_t* message) const {
    zmq_msg_close(message);
    delete message;
}

Message::Message(MessageType kind, const std::string& client_id, uint32_t value, const std::string& text) {
    // `type` itself is set from the finished buffer, as for any message.
    const auto request_wire = simple_request_wire_value(kind);
    const auto reply_wire = simple_reply_wire_value(kind);
    if (!request_wire && !reply_wire) {
        throw std::runtime_error("Invalid MessageType for simple message constructor.");
    }

    flatbuffers::FlatBufferBuilder builder(256);
    flatbuffers::Offset<flatbuffers::String> text_offset;
    if (!text.empty()) {
        text_offset = builder.CreateString(text.c_str());
    }

    flatbuffers::Offset<void> content;
    vemla_ipc::Content content_type;
    if (request_wire) {
        content = vemla_ipc::CreateSimpleRequestData(builder, static_cast<vemla_ipc::SimpleRequestType>(*request_wire),
                                                     value, text_offset)
                          .Union();
        content_type = vemla_ipc::Content_SimpleRequestData;
    } else {
        content = vemla_ipc::CreateSimpleReplyData(builder, static_cast<vemla_ipc::SimpleReplyType>(*reply_wire), value,
                                                   text_offset)
                          .Union();
        content_type = vemla_ipc::Content_SimpleReplyData;
    }

    flatbuffers::Offset<flatbuffers::String> client_id_offset;
    if (!client_id.empty()) {
        client_id_offset = builder.CreateString(client_id.c_str());
    }

    const auto root =
            vemla_ipc::CreateMessageData(builder, &current_version(), client_id_offset, content_type, content);
    vemla_ipc::FinishMessageDataBuffer(builder, root);
    adopt_builder(builder);
}

Message::Message(flatbuffers::FlatBufferBuilder& builder) {
    adopt_builder(builder);
}

void Message::adopt_builder(flatbuffers::FlatBufferBuilder& builder) {
    // The detached buffer itself is the free callback's hint: deleting it
    // gives the memory back through whatever allocator the builder used.
    flatbuffers::DetachedBuffer released = builder.Release();
    auto* holder = new (std::nothrow) flatbuffers::DetachedBuffer(std::move(released));
    Body body(new (std::nothrow) zmq_msg_t);
    if (!holder || !body ||
        zmq_msg_init_data(body.get(), holder->data(), holder->size(), &Message::free_builder_buffer, holder) != 0) {
        // Absorbed: the message stays UNSET and empty and a later send refuses
        // it. The buffer goes back to its allocator with the holder (or with
        // `released` when the holder could not be made).
        delete body.release();
        delete holder;
        return;
    }
    m_body = std::move(body);
    type = check_message_type(get_message_data());
}

void Message::free_builder_buffer(void* /*data*/, void* hint) {
    delete static_cast<flatbuffers::DetachedBuffer*>(hint);
}

Message::Message(zmq::message_t& frame) {
    const void* frame_data = frame.data();
    if (frame_data == nullptr || frame.size() < MIN_FRAME_SIZE) {
        return;
    }
    if (!has_client_identifier(frame_data)) {
        type = MessageType::INVALID_PROTOCOL;
        return;
    }

    Body body(new zmq_msg_t);
    if (zmq_msg_init(body.get()) != 0) {
        delete body.release();
        throw zmq::error_t();
    }
    if (is_aligned(frame_data)) {
        if (zmq_msg_move(body.get(), frame.handle()) != 0) {
            throw zmq::error_t();
        }
    } else {
        // ZeroMQ may hand over a frame that points into its receive batch at
        // any offset; reading FlatBuffers scalars from there would be
        // misaligned, so such a frame is copied once into fresh storage.
        if (zmq_msg_close(body.get()) != 0 || zmq_msg_init_size(body.get(), frame.size()) != 0) {
            // Re-initialise so the closer has a valid message to close.
            zmq_msg_init(body.get());
            throw zmq::error_t();
        }
        std::memcpy(zmq_msg_data(body.get()), frame_data, frame.size());
        frame.rebuild();
    }

    // Frames come from the network: nothing is read from one before the
    // verifier has checked every offset and length in it.
    if (!verifies(body.get())) {
        type = MessageType::INVALID_PROTOCOL;
        return;
    }
    m_body = std::move(body);
    type = check_message_type(get_message_data());
}

Message::Message(Message&& other) noexcept : type(other.type), m_body(std::move(other.m_body)) {
    other.type = MessageType::UNSET;
}

Message& Message::operator=(Message&& other) noexcept {
    if (this != &other) {
        m_body = std::move(other.m_body);
        type = other.type;
        other.type = MessageType::UNSET;
    }
    return *this;
}

Message Message::copy() const {
    Message result;
    result.type = type;
    if (!m_body || size() == 0) {
        return result;
    }
    Body body(new zmq_msg_t);
    if (zmq_msg_init_size(body.get(), size()) != 0) {
        zmq_msg_init(body.get());
        throw zmq::error_t();
    }
    std::memcpy(zmq_msg_data(body.get()), data(), size());
    result.m_body = std::move(body);
    return result;
}

const vemla_ipc::MessageData* Message::get_message_data() const {
    return m_body ? vemla_ipc::GetMessageData(data()) : nullptr;
}

const uint8_t* Message::data() const {
    return m_body ? static_cast<const uint8_t*>(zmq_msg_data(m_body.get())) : nullptr;
}

std::size_t Message::size() const {
    return m_body ? zmq_msg_size(m_body.get()) : 0;
}

void Message::transfer_to_zmq(zmq::message_t& frame) {
    if (!m_body) {
        frame.rebuild();
    } else if (zmq_msg_move(frame.handle(), m_body.get()) != 0) {
        throw zmq::error_t();
    }
    m_body.reset();
    type = MessageType::UNSET;
}

vemla_ipc::ProtocolVersion Message::get_protocol_version() const {
    if (!m_body || type == MessageType::UNSET || type == MessageType::INVALID_PROTOCOL) {
        return {};
    }
    const auto* version = get_message_data()->version();
    return version ? *version : vemla_ipc::ProtocolVersion{};
}

MessageType Message::check_message_type(const vemla_ipc::MessageData* root) {
    if (root == nullptr) {
        return MessageType::UNSET;
    }
    switch (root->content_type()) {
        case vemla_ipc::Content_SimpleRequestData: return simple_request_type(root->content_as_SimpleRequestData());
        case vemla_ipc::Content_SimpleReplyData: return simple_reply_type(root->content_as_SimpleReplyData());
        case vemla_ipc::Content_ReadBlockData: return read_block_type(root->content_as_ReadBlockData());
        // A list or statistics reply whose table is missing cannot be used
        // by anyone, so it classifies as no valid message.
        case vemla_ipc::Content_ConfigListData:
            return root->content() ? MessageType::RETURN_CONFIGS : MessageType::UNSET;
        case vemla_ipc::Content_ServerStats:
            return root->content() ? MessageType::RETURN_STATISTICS : MessageType::UNSET;
        default: return MessageType::UNSET;
    }
}

MessageType Message::simple_request_type(const vemla_ipc::SimpleRequestData* table) {
    return table ? from_simple_request_wire(static_cast<int32_t>(table->type())) : MessageType::UNSET;
}

MessageType Message::simple_reply_type(const vemla_ipc::SimpleReplyData* table) {
    return table ? from_simple_reply_wire(static_cast<int32_t>(table->type())) : MessageType::UNSET;
}

MessageType Message::read_block_type(const vemla_ipc::ReadBlockData* table) {
    return table ? from_read_block_wire(static_cast<int32_t>(table->type())) : MessageType::UNSET;
}

Message create_query_request(QueryCode code, const std::string& client_id) {
    common::contract::expects(code != QueryCode::undefined,
                              "The query code for a QUERY request message may not be undefined");
    return Message(MessageType::QUERY, client_id, static_cast<uint32_t>(code), "");
}

QueryCode get_query_code(const Message& message) {
    common::contract::expects(message.type == MessageType::QUERY, "Can only extract query code from a QUERY message");
    const auto* root = message.get_message_data();
    const auto* request = root ? root->content_as_SimpleRequestData() : nullptr;
    const uint32_t value = request ? request->value() : 0;
    return value >= static_cast<uint32_t>(QueryCode::unknown) ? QueryCode::unknown : static_cast<QueryCode>(value);
}

}  // namespace ipc_tools
