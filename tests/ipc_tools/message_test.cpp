#include "ipc_tools/ipc_tools.h"
#include "ipc_tools/wire_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

// Wire pairs written out from the protocol tables, independent of the
// library's own lookup tables: {kind, content type, wire value}.
struct SimpleKind {
    MessageType type;
    uint8_t content_type;
    int32_t wire_value;
};

const std::vector<SimpleKind>& simple_kinds() {
    static const std::vector<SimpleKind> kinds{
            {MessageType::CONNECT, 1, 0},
            {MessageType::DISCONNECT, 1, 1},
            {MessageType::TERMINATE, 1, 2},
            {MessageType::GET_STATISTICS, 1, 3},
            {MessageType::LOAD_CONFIG, 1, 4},
            {MessageType::GET_CONFIGS, 1, 5},
            {MessageType::GET_FIRST_CALLED_BLOCK, 1, 6},
            {MessageType::GET_NEXT_CALLED_BLOCK, 1, 7},
            {MessageType::LOAD_INDEX, 1, 8},
            {MessageType::GET_INDICES, 1, 9},
            {MessageType::LOAD_BED, 1, 10},
            {MessageType::GET_BARCODE_KITS, 1, 11},
            {MessageType::GET_LAMP_KITS, 1, 12},
            {MessageType::HEARTBEAT_PING, 1, 13},
            {MessageType::QUERY, 1, 14},
            {MessageType::CONNECTED, 2, 0},
            {MessageType::DISCONNECTED, 2, 1},
            {MessageType::SHUTTING_DOWN, 2, 2},
            {MessageType::INVALID_CONFIG, 2, 3},
            {MessageType::INVALID_BARCODE_KIT, 2, 4},
            {MessageType::CLIENT_NOT_RECOGNISED, 2, 5},
            {MessageType::RAW_BLOCK_ACCEPTED, 2, 6},
            {MessageType::NOT_READY, 2, 7},
            {MessageType::NONE_PENDING, 2, 8},
            {MessageType::BAD_REQUEST, 2, 9},
            {MessageType::INVALID_INDEX, 2, 10},
            {MessageType::INVALID_BED, 2, 11},
            {MessageType::INDEX_NO_SEQ, 2, 12},
            {MessageType::HEARTBEAT_ECHO, 2, 13},
            {MessageType::RESPONSE, 2, 14},
            {MessageType::LOADING, 2, 15},
            {MessageType::SUCCESS, 2, 16},
            {MessageType::REQUEST_FAILED, 2, 17},
    };
    return kinds;
}

const SimpleKind* find_simple_kind(MessageType type) {
    for (const auto& kind : simple_kinds()) {
        if (kind.type == type) {
            return &kind;
        }
    }
    return nullptr;
}

zmq::message_t frame_of(const Message& message) {
    return zmq::message_t(message.data(), message.size());
}

zmq::message_t frame_of(const flatbuffers::FlatBufferBuilder& builder) {
    return zmq::message_t(builder.GetBufferPointer(), builder.GetSize());
}

// Raw slot access, so checks do not depend on the generated accessors.
const flatbuffers::Table* content_table(const vemla_ipc::MessageData* root) {
    return reinterpret_cast<const flatbuffers::Table*>(root)->GetPointer<const flatbuffers::Table*>(4 + 2 * 3);
}

// Finishes a MessageData with the given content type and content.
void finish_root(flatbuffers::FlatBufferBuilder& builder, uint8_t content_type, flatbuffers::Offset<void> content) {
    const vemla_ipc::ProtocolVersion version{11, 0, 0};
    vemla_ipc::MessageDataBuilder root(builder);
    root.add_version(&version);
    root.add_content_type(static_cast<vemla_ipc::Content>(content_type));
    if (!content.IsNull()) {
        root.add_content(content);
    }
    builder.Finish(root.Finish(), "0011");
}

MessageType type_of_reply_with_wire(int32_t wire_value) {
    flatbuffers::FlatBufferBuilder builder;
    vemla_ipc::SimpleReplyDataBuilder reply(builder);
    builder.ForceDefaults(true);
    reply.add_type(static_cast<vemla_ipc::SimpleReplyType>(wire_value));
    const auto content = reply.Finish().Union();
    builder.ForceDefaults(false);
    finish_root(builder, 2, content);
    auto frame = frame_of(builder);
    return Message(frame).type;
}

}  // namespace

TEST(MessageKinds, EverySimpleKindRoundTripsAndEveryOtherKindThrows) {
    for (int32_t value = 0; value <= 41; ++value) {
        const auto type = static_cast<MessageType>(value);
        const SimpleKind* kind = find_simple_kind(type);
        SCOPED_TRACE(ipc_tools::message_type_as_string(type));
        if (kind == nullptr) {
            try {
                Message message(type, "client", 1, "text");
                FAIL() << "no simple form expected";
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "Invalid MessageType for simple message constructor.");
            }
            continue;
        }

        Message built(type, "client-7", 0xA1B2C3D4u, "some text");
        ASSERT_FALSE(built.empty());
        EXPECT_EQ(built.type, type);

        auto frame = frame_of(built);
        Message received(frame);
        ASSERT_EQ(received.type, type);
        const auto* root = received.get_message_data();
        EXPECT_EQ(static_cast<uint8_t>(root->content_type()), kind->content_type);
        const auto* content = content_table(root);
        ASSERT_NE(content, nullptr);
        EXPECT_EQ(content->GetField<int32_t>(4, 0), kind->wire_value);
        EXPECT_EQ(content->GetField<uint32_t>(6, 0), 0xA1B2C3D4u);
        EXPECT_EQ(ipc_tools::wire::as_string(content->GetPointer<const flatbuffers::String*>(8)), "some text");
        EXPECT_EQ(ipc_tools::wire::as_string(root->client_id()), "client-7");
        const auto version = received.get_protocol_version();
        EXPECT_EQ(version.major(), 11u);
        EXPECT_EQ(version.minor(), 0u);
        EXPECT_EQ(version.patch(), 0u);
    }
}

TEST(MessageKinds, NamesAreDistinctAndOutOfRangeIsUnknown) {
    std::set<std::string> names;
    for (int32_t value = 0; value < 41; ++value) {
        names.insert(ipc_tools::message_type_as_string(static_cast<MessageType>(value)));
    }
    EXPECT_EQ(names.size(), 41u);
    EXPECT_EQ(names.count("<unknown>"), 0u);
    EXPECT_EQ(ipc_tools::message_type_as_string(static_cast<MessageType>(41)), "<unknown>");
    EXPECT_EQ(ipc_tools::message_type_as_string(static_cast<MessageType>(-1)), "<unknown>");
    EXPECT_EQ(ipc_tools::message_type_as_string(static_cast<MessageType>(25)), "CLIENT_NOT_RECOGNISED");
    EXPECT_EQ(ipc_tools::message_type_as_string(MessageType::UNSET), "UNSET");
    EXPECT_EQ(ipc_tools::message_type_as_string(MessageType::REQUEST_FAILED), "REQUEST_FAILED");
    EXPECT_EQ(ipc_tools::current_version_as_string(), "11.0.0");
}

TEST(MessageBuild, BareConnectWritesNoOptionalField) {
    Message connect(MessageType::CONNECT, "", 0, "");
    ASSERT_EQ(connect.type, MessageType::CONNECT);
    const auto* root = connect.get_message_data();
    EXPECT_EQ(root->client_id(), nullptr);
    const auto* content = content_table(root);
    ASSERT_NE(content, nullptr);
    // A vtable of only its two header fields: type (wire 0), value and text all omitted.
    const auto* vtable = content->GetVTable();
    EXPECT_EQ(flatbuffers::ReadScalar<flatbuffers::voffset_t>(vtable), 4);

    auto frame = frame_of(connect);
    EXPECT_EQ(Message(frame).type, MessageType::CONNECT);
}

TEST(MessageBuild, TextIsTakenUpToFirstNul) {
    const std::string text("abc\0def", 7);
    Message message(MessageType::LOAD_CONFIG, "", 0, text);
    const auto* request = message.get_message_data()->content_as_SimpleRequestData();
    ASSERT_NE(request, nullptr);
    ASSERT_NE(request->text(), nullptr);
    EXPECT_EQ(request->text()->size(), 3u);
}

TEST(MessageReceive, ShortAndForeignFramesKeepNoBody) {
    Message sample(MessageType::CONNECT, "", 0, "x");
    zmq::message_t seven(sample.data(), 7);
    Message short_message(seven);
    EXPECT_EQ(short_message.type, MessageType::UNSET);
    EXPECT_TRUE(short_message.empty());
    EXPECT_EQ(seven.size(), 7u);  // stays with the caller

    const char foreign[8] = {8, 0, 0, 0, '0', '0', '1', '2'};
    zmq::message_t eight(foreign, 8);
    Message foreign_message(eight);
    EXPECT_EQ(foreign_message.type, MessageType::INVALID_PROTOCOL);
    EXPECT_TRUE(foreign_message.empty());
    EXPECT_EQ(foreign_message.get_protocol_version().major(), 0u);

    zmq::message_t nothing;
    EXPECT_EQ(Message(nothing).type, MessageType::UNSET);
}

TEST(MessageReceive, CorruptBufferWithOurIdentifierIsInvalidProtocol) {
    Message sample(MessageType::RESPONSE, "id", 3, "a reply text");
    std::vector<uint8_t> bytes(sample.data(), sample.data() + sample.size());
    bytes[0] = 0xF0;  // root offset far past the end
    zmq::message_t frame(bytes.data(), bytes.size());
    Message corrupt(frame);
    EXPECT_EQ(corrupt.type, MessageType::INVALID_PROTOCOL);
    EXPECT_TRUE(corrupt.empty());
}

TEST(MessageReceive, ReplyTypesOutsideTheTableAreUnset) {
    EXPECT_EQ(type_of_reply_with_wire(17), MessageType::REQUEST_FAILED);
    EXPECT_EQ(type_of_reply_with_wire(18), MessageType::UNSET);
    EXPECT_EQ(type_of_reply_with_wire(-1), MessageType::UNSET);
    EXPECT_EQ(type_of_reply_with_wire(0), MessageType::CONNECTED);
}

TEST(MessageReceive, ContentTypeClassification) {
    auto type_for = [](uint8_t content_type, bool with_table) {
        flatbuffers::FlatBufferBuilder builder;
        flatbuffers::Offset<void> content;
        if (with_table) {
            // An empty table serves every content type; its fields read as defaults.
            vemla_ipc::ClientStatsDataBuilder empty(builder);
            content = empty.Finish().Union();
        }
        finish_root(builder, content_type, content);
        auto frame = frame_of(builder);
        return Message(frame).type;
    };
    EXPECT_EQ(type_for(0, false), MessageType::UNSET);
    EXPECT_EQ(type_for(1, true), MessageType::CONNECT);
    EXPECT_EQ(type_for(2, true), MessageType::CONNECTED);
    EXPECT_EQ(type_for(3, true), MessageType::PASS_FIRST_RAW_BLOCK);
    EXPECT_EQ(type_for(4, true), MessageType::RETURN_CONFIGS);
    EXPECT_EQ(type_for(5, true), MessageType::RETURN_STATISTICS);
    EXPECT_EQ(type_for(6, true), MessageType::UNSET);
    for (uint8_t content_type = 1; content_type <= 5; ++content_type) {
        EXPECT_EQ(type_for(content_type, false), MessageType::UNSET) << int(content_type);
    }
}

TEST(MessageReceive, ReadBlockKinds) {
    for (int32_t wire = 0; wire <= 4; ++wire) {
        flatbuffers::FlatBufferBuilder builder;
        const auto block = vemla_ipc::CreateReadBlockData(builder, static_cast<vemla_ipc::ReadBlockType>(wire), 9);
        finish_root(builder, 3, block.Union());
        auto frame = frame_of(builder);
        const MessageType expected[] = {MessageType::PASS_FIRST_RAW_BLOCK, MessageType::PASS_NEXT_RAW_BLOCK,
                                        MessageType::RETURN_FIRST_CALLED_BLOCK, MessageType::RETURN_NEXT_CALLED_BLOCK,
                                        MessageType::UNSET};
        EXPECT_EQ(Message(frame).type, expected[wire]);
    }
}

TEST(MessageReceive, MisalignedFrameIsReadSafely) {
    Message sample(MessageType::NONE_PENDING, "conn", 1, "text");
    std::vector<uint8_t> storage(sample.size() + 16);
    uint8_t* odd = storage.data() + 3;
    std::memcpy(odd, sample.data(), sample.size());
    zmq::message_t frame(odd, sample.size(), nullptr, nullptr);
    Message received(frame);
    ASSERT_EQ(received.type, MessageType::NONE_PENDING);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(received.data()) % 8, 0u);
    EXPECT_EQ(received.get_message_data()->content_as_SimpleReplyData()->value(), 1u);
}

TEST(MessageBody, BuilderBufferIsAdoptedWithoutCopy) {
    flatbuffers::FlatBufferBuilder builder;
    const auto block = vemla_ipc::CreateReadBlockData(builder, vemla_ipc::ReadBlockType_PASS_NEXT_RAW_BLOCK);
    finish_root(builder, 3, block.Union());
    const uint8_t* built_at = builder.GetBufferPointer();

    Message message(builder);
    EXPECT_EQ(message.type, MessageType::PASS_NEXT_RAW_BLOCK);
    EXPECT_EQ(message.data(), built_at);
    EXPECT_EQ(builder.GetSize(), 0u);

    zmq::message_t frame;
    message.transfer_to_zmq(frame);
    EXPECT_EQ(frame.data<uint8_t>(), built_at);
    EXPECT_TRUE(message.empty());
    EXPECT_EQ(message.type, MessageType::UNSET);
}

TEST(MessageBody, BuilderAllocatorGetsItsBufferBackOnce) {
    struct CountingAllocator : flatbuffers::DefaultAllocator {
        int freed = 0;
        void deallocate(uint8_t* p, size_t size) override {
            ++freed;
            flatbuffers::DefaultAllocator::deallocate(p, size);
        }
    } allocator;
    {
        flatbuffers::FlatBufferBuilder builder(64, &allocator);
        finish_root(builder, 0, {});
        Message message(builder);
        EXPECT_EQ(allocator.freed, 0);
    }
    EXPECT_EQ(allocator.freed, 1);
}

TEST(MessageBody, TransferOfEmptyMessageGivesEmptyFrame) {
    Message empty;
    zmq::message_t frame("junk", 4);
    empty.transfer_to_zmq(frame);
    EXPECT_EQ(frame.size(), 0u);
    EXPECT_EQ(empty.type, MessageType::UNSET);
}

TEST(MessageBody, ReceivedFrameIsMovedNotCopied) {
    Message sample(MessageType::SUCCESS, "", 0, "");
    zmq::message_t frame(sample.data(), sample.size());
    const void* frame_data = frame.data();
    Message received(frame);
    EXPECT_EQ(received.data(), frame_data);
    EXPECT_EQ(frame.size(), 0u);
}

TEST(MessageBody, CopyIsDeepAndMoveLeavesSourceUnset) {
    Message original(MessageType::RESPONSE, "cid", 5, "{\"a\":1}");
    Message copy = original.copy();
    EXPECT_EQ(copy.type, MessageType::RESPONSE);
    ASSERT_EQ(copy.size(), original.size());
    EXPECT_NE(copy.data(), original.data());
    EXPECT_EQ(std::memcmp(copy.data(), original.data(), copy.size()), 0);

    Message moved(std::move(original));
    EXPECT_EQ(moved.type, MessageType::RESPONSE);
    EXPECT_TRUE(original.empty());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(original.type, MessageType::UNSET);

    Message target(MessageType::LOADING, "", 0, "");
    target = std::move(moved);
    EXPECT_EQ(target.type, MessageType::RESPONSE);
    EXPECT_EQ(std::memcmp(copy.data(), target.data(), copy.size()), 0);

    Message typed_but_empty;
    typed_but_empty.type = MessageType::QUERY;
    const Message empty_copy = typed_but_empty.copy();
    EXPECT_EQ(empty_copy.type, MessageType::QUERY);
    EXPECT_TRUE(empty_copy.empty());
}

TEST(MessageBody, ProtocolVersionAbsentReadsZero) {
    flatbuffers::FlatBufferBuilder builder;
    const auto reply = vemla_ipc::CreateSimpleReplyData(builder, vemla_ipc::SimpleReplyType_SUCCESS);
    vemla_ipc::MessageDataBuilder root(builder);
    root.add_content_type(vemla_ipc::Content_SimpleReplyData);
    root.add_content(reply.Union());
    builder.Finish(root.Finish(), "0011");
    auto frame = frame_of(builder);
    Message message(frame);
    ASSERT_EQ(message.type, MessageType::SUCCESS);
    EXPECT_EQ(message.get_protocol_version().major(), 0u);
}

TEST(QueryMessages, CodeTravelsInValueAndReadsBackClamped) {
    const Message query = ipc_tools::create_query_request(ipc_tools::QueryCode::server_internal_state, "");
    ASSERT_EQ(query.type, MessageType::QUERY);
    EXPECT_EQ(ipc_tools::get_query_code(query), ipc_tools::QueryCode::server_internal_state);
    EXPECT_EQ(query.get_message_data()->content_as_SimpleRequestData()->value(), 1u);

    EXPECT_EQ(ipc_tools::get_query_code(Message(MessageType::QUERY, "", 7, "")), ipc_tools::QueryCode::unknown);
    EXPECT_EQ(ipc_tools::get_query_code(Message(MessageType::QUERY, "", 0, "")), ipc_tools::QueryCode::undefined);
}

TEST(QueryMessages, ContractViolationsThrowLogicError) {
    try {
        ipc_tools::create_query_request(ipc_tools::QueryCode::undefined, "");
        FAIL() << "undefined code accepted";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(),
                     "Contract violation. The query code for a QUERY request message may not be "
                     "undefined");
    }
    EXPECT_THROW(ipc_tools::get_query_code(Message(MessageType::RESPONSE, "", 1, "")), std::logic_error);
}
