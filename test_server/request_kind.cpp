#include "test_server/request_kind.h"

#include <array>

namespace test_server {

namespace {
constexpr std::array<const char*, request_kind_count> names = {
        "CONNECT",
        "DISCONNECT",
        "TERMINATE",
        "GET_STATISTICS",
        "LOAD_CONFIG",
        "GET_CONFIGS",
        "GET_FIRST_CALLED_BLOCK",
        "GET_NEXT_CALLED_BLOCK",
        "LOAD_INDEX",
        "GET_INDICES",
        "LOAD_BED",
        "GET_BARCODE_KITS",
        "GET_LAMP_KITS",
        "HEARTBEAT_PING",
        "QUERY",
        "PASS_FIRST_RAW_BLOCK",
        "PASS_NEXT_RAW_BLOCK",
        "UNKNOWN",
};
}  // namespace

const char* request_kind_name(RequestKind kind) {
    const auto index = static_cast<size_t>(kind);
    return index < names.size() ? names[index] : "UNKNOWN";
}

std::optional<RequestKind> request_kind_from_name(const std::string& name) {
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        if (name == names[i]) {
            return static_cast<RequestKind>(i);
        }
    }
    return std::nullopt;
}

}  // namespace test_server
