#pragma once

// Cutting a read's raw signal into the PASS_FIRST_RAW_BLOCK and
// PASS_NEXT_RAW_BLOCK messages that carry it to the server.

#include "interfaces/read_holder.h"
#include "ipc_tools/ipc_tools.h"

#include <vemla_ipc_generated.h>

#include <cstdint>
#include <string>
#include <vector>

namespace basecall_service {

// Reads shorter than this many model strides are not worth a basecall and
// are handed back unsent.
constexpr uint64_t MIN_STRIDES_TO_SEND = 20;

// True when the read's duration is below MIN_STRIDES_TO_SEND model strides.
// Throws std::out_of_range when either value is missing from its metadata.
bool read_is_too_short_to_send(const interfaces::ReadHolder& read);

// The read's ScalingOverrideData table, or a null offset when its metadata
// does not set "scaling_override".
flatbuffers::Offset<vemla_ipc::ScalingOverrideData> AppendScalingOverride(flatbuffers::FlatBufferBuilder& builder,
                                                                          const interfaces::ReadHolder& read);

// One message per block of `block_size` model strides, stamped with
// `connection_id`. The samples are copied once, straight into each block's
// builder, which is sized so that it never has to grow. Input faults throw
// before anything is built: missing metadata (std::out_of_range), no raw
// data (std::out_of_range), raw data that is not 16-bit
// (std::runtime_error), and a zero stride or block size, or a duration
// beyond the raw data or beyond 32 bits (std::invalid_argument).
std::vector<ipc_tools::Message> build_read_block_messages(const interfaces::ReadHolder& read,
                                                          uint64_t block_size,
                                                          const std::string& connection_id);

}  // namespace basecall_service
