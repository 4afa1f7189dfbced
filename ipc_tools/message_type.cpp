#include "ipc_tools/message_type.h"

#include <array>

namespace ipc_tools {

namespace {

using MT = MessageType;

// Index = wire value of SimpleRequestType.
constexpr std::array<MT, 15> SIMPLE_REQUEST_TYPES{
        MT::CONNECT,
        MT::DISCONNECT,
        MT::TERMINATE,
        MT::GET_STATISTICS,
        MT::LOAD_CONFIG,
        MT::GET_CONFIGS,
        MT::GET_FIRST_CALLED_BLOCK,
        MT::GET_NEXT_CALLED_BLOCK,
        MT::LOAD_INDEX,
        MT::GET_INDICES,
        MT::LOAD_BED,
        MT::GET_BARCODE_KITS,
        MT::GET_LAMP_KITS,
        MT::HEARTBEAT_PING,
        MT::QUERY,
};

// Index = wire value of SimpleReplyType.
constexpr std::array<MT, 18> SIMPLE_REPLY_TYPES{
        MT::CONNECTED,
        MT::DISCONNECTED,
        MT::SHUTTING_DOWN,
        MT::INVALID_CONFIG,
        MT::INVALID_BARCODE_KIT,
        MT::CLIENT_NOT_RECOGNISED,
        MT::RAW_BLOCK_ACCEPTED,
        MT::NOT_READY,
        MT::NONE_PENDING,
        MT::BAD_REQUEST,
        MT::INVALID_INDEX,
        MT::INVALID_BED,
        MT::INDEX_NO_SEQ,
        MT::HEARTBEAT_ECHO,
        MT::RESPONSE,
        MT::LOADING,
        MT::SUCCESS,
        MT::REQUEST_FAILED,
};

// Index = wire value of ReadBlockType.
constexpr std::array<MT, 4> READ_BLOCK_TYPES{
        MT::PASS_FIRST_RAW_BLOCK,
        MT::PASS_NEXT_RAW_BLOCK,
        MT::RETURN_FIRST_CALLED_BLOCK,
        MT::RETURN_NEXT_CALLED_BLOCK,
};

// Index = MessageType value.
constexpr std::array<const char*, MESSAGE_TYPE_COUNT> MESSAGE_TYPE_NAMES{
        "UNSET",
        "INVALID_PROTOCOL",
        "BAD_REQUEST",
        "CONNECT",
        "CONNECTED",
        "INVALID_CONFIG",
        "INVALID_BARCODE_KIT",
        "INVALID_INDEX",
        "INVALID_BED",
        "INDEX_NO_SEQ",
        "DISCONNECT",
        "DISCONNECTED",
        "TERMINATE",
        "SHUTTING_DOWN",
        "GET_STATISTICS",
        "RETURN_STATISTICS",
        "LOAD_CONFIG",
        "GET_CONFIGS",
        "RETURN_CONFIGS",
        "LOAD_INDEX",
        "GET_INDICES",
        "LOAD_BED",
        "PASS_FIRST_RAW_BLOCK",
        "NOT_READY",
        "PASS_NEXT_RAW_BLOCK",
        "CLIENT_NOT_RECOGNISED",
        "RAW_BLOCK_ACCEPTED",
        "GET_FIRST_CALLED_BLOCK",
        "RETURN_FIRST_CALLED_BLOCK",
        "NONE_PENDING",
        "GET_NEXT_CALLED_BLOCK",
        "RETURN_NEXT_CALLED_BLOCK",
        "GET_BARCODE_KITS",
        "GET_LAMP_KITS",
        "HEARTBEAT_PING",
        "HEARTBEAT_ECHO",
        "QUERY",
        "RESPONSE",
        "LOADING",
        "SUCCESS",
        "REQUEST_FAILED",
};

template <std::size_t N>
MT from_wire(const std::array<MT, N>& table, int32_t wire_value) {
    if (wire_value < 0 || static_cast<std::size_t>(wire_value) >= N) {
        return MT::UNSET;
    }
    return table[static_cast<std::size_t>(wire_value)];
}

template <std::size_t N>
std::optional<int32_t> to_wire(const std::array<MT, N>& table, MT type) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i] == type) {
            return static_cast<int32_t>(i);
        }
    }
    return std::nullopt;
}

}  // namespace

std::string message_type_as_string(MessageType type) {
    const auto value = static_cast<int32_t>(type);
    if (value < 0 || value >= MESSAGE_TYPE_COUNT) {
        return "<unknown>";
    }
    return MESSAGE_TYPE_NAMES[static_cast<std::size_t>(value)];
}

MessageType from_simple_request_wire(int32_t wire_value) {
    return from_wire(SIMPLE_REQUEST_TYPES, wire_value);
}

MessageType from_simple_reply_wire(int32_t wire_value) {
    return from_wire(SIMPLE_REPLY_TYPES, wire_value);
}

MessageType from_read_block_wire(int32_t wire_value) {
    return from_wire(READ_BLOCK_TYPES, wire_value);
}

std::optional<int32_t> simple_request_wire_value(MessageType type) {
    return to_wire(SIMPLE_REQUEST_TYPES, type);
}

std::optional<int32_t> simple_reply_wire_value(MessageType type) {
    return to_wire(SIMPLE_REPLY_TYPES, type);
}

std::optional<int32_t> read_block_wire_value(MessageType type) {
    return to_wire(READ_BLOCK_TYPES, type);
}

}  // namespace ipc_tools
