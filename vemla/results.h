#pragma once

// The result codes and statuses of the exported API, their texts, and the
// version value type. The numbers are part of the API (the Python module
// exposes them unchanged), so they never change.

#include "common/export.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace basecall_service {
enum class ClientStatus : int32_t;  // the engine's statuses
}  // namespace basecall_service

namespace vemla {

enum class Result : int32_t {
    success = 0,
    no_connection = 1,                // no engine exists, or the client is disconnected
    already_connected = 2,            // a setting changed or connect called while not disconnected
    not_ready = 3,                    // finish ended without all reads back, client disconnected
    timed_out = 4,                    // a request to the server timed out
    invalid_response = 5,             // a reply that does not fit the request
    basecall_config_unavailable = 6,  // the server does not know the basecall configuration
    barcode_kit_unavailable = 7,      // the server does not know a requested barcode kit
    align_index_unavailable = 8,      // the alignment index could not be loaded
    bed_file_unavailable = 9,         // the BED file could not be loaded
    align_index_no_seq = 10,          // the alignment index holds no sequences
    file_load_timeout = 11,           // the server did not finish loading a file in time
    failed = 12,                      // any other failure
    bad_request = 13,                 // the server rejected the request
    bad_reply = 14,                   // the reply could not be decoded
};

// The engine's connection statuses, with the same numbers.
enum class ConnectionStatus : int32_t {
    disconnected = 0,
    preparing_connection = 1,
    loading_config = 2,
    loading_alignment_index = 3,
    loading_bed_file = 4,
    connecting = 5,
    connected = 6,
    error = 7,
};

enum class PassReadResult : int32_t {
    success = 0,              // queued (or returned unsent when too short)
    not_accepting_reads = 1,  // not connected, finishing, finished or in error
    queue_full = 2,           // no room in the input queue within the wait
    bad_read = 3,             // the read failed validation; nothing was sent
};

// Texts of the values; any other value throws std::runtime_error whose text
// begins "unrecognised".
VEMLA_EXPORT std::string to_string(Result result);
VEMLA_EXPORT std::string to_string(ConnectionStatus status);
VEMLA_EXPORT std::string to_string(PassReadResult result);

// Write the to_string text; an unknown value throws before anything is written.
VEMLA_EXPORT std::ostream& operator<<(std::ostream& stream, Result result);
VEMLA_EXPORT std::ostream& operator<<(std::ostream& stream, ConnectionStatus status);
VEMLA_EXPORT std::ostream& operator<<(std::ostream& stream, PassReadResult result);

// The status with the same number as an engine status; any other value
// throws std::runtime_error "unrecognised basecall_service::ClientStatus value".
VEMLA_EXPORT ConnectionStatus to_connection_status(basecall_service::ClientStatus status);

// Runs `query` and returns its result. When it throws a std::exception, the
// exception becomes a code (time-out, bad request, bad reply, invalid
// response; anything else is `failed`) and `on_error` receives its text
// first. Other exceptions pass through.
VEMLA_EXPORT Result get_result(const std::function<Result()>& query, const std::function<void(std::string)>& on_error);

struct VEMLA_EXPORT VersionTag {
    // `text` becomes "major.minor.patch".
    VersionTag(int major, int minor, int patch);

    int major;
    int minor;
    int patch;
    std::string text;
};

}  // namespace vemla
