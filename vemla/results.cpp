#include "vemla/results.h"

#include <array>
#include <stdexcept>

namespace vemla {

namespace {

constexpr std::array<const char*, 15> result_names = {
        "success",
        "no_connection",
        "already_connected",
        "not_ready",
        "timed_out",
        "invalid_response",
        "basecall_config_unavailable",
        "barcode_kit_unavailable",
        "align_index_unavailable",
        "bed_file_unavailable",
        "align_index_no_seq",
        "file_load_timeout",
        "failed",
        "bad_request",
        "bad_reply",
};

constexpr std::array<const char*, 8> status_names = {
        "disconnected",     "preparing_connection", "loading_config", "loading_alignment_index",
        "loading_bed_file", "connecting",           "connected",      "error",
};

constexpr std::array<const char*, 4> pass_read_names = {
        "success",
        "not_accepting_reads",
        "queue_full",
        "bad_read",
};

// The name of `value` in `names`, or std::runtime_error(`unknown`).
template <typename Enum, std::size_t N>
std::string name_of(Enum value, const std::array<const char*, N>& names, const char* unknown) {
    const auto index = static_cast<int64_t>(value);
    if (index < 0 || index >= static_cast<int64_t>(N)) {
        throw std::runtime_error(unknown);
    }
    return names[static_cast<std::size_t>(index)];
}

}  // namespace

std::string to_string(Result result) {
    return name_of(result, result_names, "unrecognised Result value");
}

std::string to_string(ConnectionStatus status) {
    return name_of(status, status_names, "unrecognised connection status");
}

std::string to_string(PassReadResult result) {
    return name_of(result, pass_read_names, "unrecognised PassReadResult");
}

std::ostream& operator<<(std::ostream& stream, Result result) {
    return stream << to_string(result);
}

std::ostream& operator<<(std::ostream& stream, ConnectionStatus status) {
    return stream << to_string(status);
}

std::ostream& operator<<(std::ostream& stream, PassReadResult result) {
    return stream << to_string(result);
}

VersionTag::VersionTag(int major_number, int minor_number, int patch_number)
    : major(major_number),
      minor(minor_number),
      patch(patch_number),
      text(std::to_string(major_number) + "." + std::to_string(minor_number) + "." + std::to_string(patch_number)) {}

}  // namespace vemla
