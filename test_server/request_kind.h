#pragma once
// The requests the test server tells apart, named as they travel in logs,
// fault rules and the QUERY report.
#include <optional>
#include <string>

namespace test_server {

enum class RequestKind {
    connect,
    disconnect,
    terminate,
    get_statistics,
    load_config,
    get_configs,
    get_first_called_block,
    get_next_called_block,
    load_index,
    get_indices,
    load_bed,
    get_barcode_kits,
    get_lamp_kits,
    heartbeat_ping,
    query,
    pass_first_raw_block,
    pass_next_raw_block,
    unknown,  // anything the server cannot classify
};

constexpr int request_kind_count = static_cast<int>(RequestKind::unknown) + 1;

// Upper-case wire name, e.g. "PASS_FIRST_RAW_BLOCK"; "UNKNOWN" for unknown.
const char* request_kind_name(RequestKind kind);

// Inverse of request_kind_name; nothing for a name that is not a request.
std::optional<RequestKind> request_kind_from_name(const std::string& name);

}  // namespace test_server
