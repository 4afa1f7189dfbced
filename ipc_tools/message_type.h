#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ipc_tools {

/// Kind of a wire message as the client reasons about it. Never travels
/// itself: it is derived from a frame's union type and the `type` field of
/// the table inside (see message_type.cpp for the wire tables).
enum class MessageType : int32_t {
    UNSET = 0,
    INVALID_PROTOCOL = 1,
    BAD_REQUEST = 2,
    CONNECT = 3,
    CONNECTED = 4,
    INVALID_CONFIG = 5,
    INVALID_BARCODE_KIT = 6,
    INVALID_INDEX = 7,
    INVALID_BED = 8,
    INDEX_NO_SEQ = 9,
    DISCONNECT = 10,
    DISCONNECTED = 11,
    TERMINATE = 12,
    SHUTTING_DOWN = 13,
    GET_STATISTICS = 14,
    RETURN_STATISTICS = 15,
    LOAD_CONFIG = 16,
    GET_CONFIGS = 17,
    RETURN_CONFIGS = 18,
    LOAD_INDEX = 19,
    GET_INDICES = 20,
    LOAD_BED = 21,
    PASS_FIRST_RAW_BLOCK = 22,
    NOT_READY = 23,
    PASS_NEXT_RAW_BLOCK = 24,
    CLIENT_NOT_RECOGNISED = 25,
    RAW_BLOCK_ACCEPTED = 26,
    GET_FIRST_CALLED_BLOCK = 27,
    RETURN_FIRST_CALLED_BLOCK = 28,
    NONE_PENDING = 29,
    GET_NEXT_CALLED_BLOCK = 30,
    RETURN_NEXT_CALLED_BLOCK = 31,
    GET_BARCODE_KITS = 32,
    GET_LAMP_KITS = 33,
    HEARTBEAT_PING = 34,
    HEARTBEAT_ECHO = 35,
    QUERY = 36,
    RESPONSE = 37,
    LOADING = 38,
    SUCCESS = 39,
    REQUEST_FAILED = 40,
};

/// Number of defined message kinds (values 0 to 40).
constexpr int32_t MESSAGE_TYPE_COUNT = 41;

/// The code carried in the `value` of a QUERY request. Any code of 2 or
/// more reads back as `unknown`.
enum class QueryCode : int32_t {
    undefined = 0,
    server_internal_state = 1,
    unknown = 2,
};

/// The kind's name, e.g. "CLIENT_NOT_RECOGNISED"; "<unknown>" for any value
/// outside the enumeration.
std::string message_type_as_string(MessageType type);

// The three wire tables are the only bridge between wire values and
// MessageType; building and reading both go through these functions.

/// MessageType of a SimpleRequestType wire value; UNSET when out of range.
MessageType from_simple_request_wire(int32_t wire_value);
/// MessageType of a SimpleReplyType wire value; UNSET when out of range.
MessageType from_simple_reply_wire(int32_t wire_value);
/// MessageType of a ReadBlockType wire value; UNSET when out of range.
MessageType from_read_block_wire(int32_t wire_value);

/// Wire value of a request kind; none when the kind is not a simple request.
std::optional<int32_t> simple_request_wire_value(MessageType type);
/// Wire value of a reply kind; none when the kind is not a simple reply.
std::optional<int32_t> simple_reply_wire_value(MessageType type);
/// Wire value of a read block kind; none when the kind is not a read block.
std::optional<int32_t> read_block_wire_value(MessageType type);

}  // namespace ipc_tools
