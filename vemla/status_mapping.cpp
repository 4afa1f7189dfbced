#include "vemla/status_mapping.h"

#include <array>
#include <stdexcept>

namespace vemla {

using basecall_service::ClientStatus;
using basecall_service::ConnectionError;

ConnectionStatus to_connection_status(ClientStatus status) {
    const auto value = static_cast<int32_t>(status);
    if (value < static_cast<int32_t>(ClientStatus::disconnected) || value > static_cast<int32_t>(ClientStatus::error)) {
        throw std::runtime_error("unrecognised basecall_service::ClientStatus value");
    }
    return static_cast<ConnectionStatus>(value);
}

Result to_result(ConnectionError error) {
    static constexpr std::array<Result, 12> results = {
            Result::success,                      // no_error
            Result::bad_request,                  // bad_request
            Result::bad_reply,                    // bad_reply
            Result::timed_out,                    // timed_out
            Result::invalid_response,             // invalid_response
            Result::basecall_config_unavailable,  // basecall_config_unavailable
            Result::barcode_kit_unavailable,      // barcode_kit_unavailable
            Result::align_index_unavailable,      // align_index_unavailable
            Result::bed_file_unavailable,         // bed_file_unavailable
            Result::align_index_no_seq,           // align_index_no_seq
            Result::file_load_timeout,            // file_load_timeout
            Result::failed,                       // failed
    };
    const auto value = static_cast<int32_t>(error);
    if (value < 0 || value >= static_cast<int32_t>(results.size())) {
        throw std::runtime_error("unrecognised ConnectionError value");
    }
    return results[static_cast<size_t>(value)];
}

}  // namespace vemla
