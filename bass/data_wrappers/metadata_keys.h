#pragma once

#include <cstdint>
#include <string>

// Compile-time names of well-known Metadata entries: each key type carries
// its key string (`name`, equal to the type's own name) and the `value_type`
// the entry is stored as. Read them with Metadata::get<Key>().

#define VEMLA_METADATA_KEY(key_name, value)            \
    struct key_name {                                  \
        using value_type = value;                      \
        static constexpr const char* name = #key_name; \
    };

namespace read_data {
VEMLA_METADATA_KEY(read_id, std::string)
VEMLA_METADATA_KEY(strand_id, std::string)
VEMLA_METADATA_KEY(daq_offset, float)
VEMLA_METADATA_KEY(daq_scaling, float)
VEMLA_METADATA_KEY(duration, uint64_t)
}  // namespace read_data

namespace basecall_data {
VEMLA_METADATA_KEY(sequence_length, uint64_t)
VEMLA_METADATA_KEY(base_mod_alphabet, std::string)
VEMLA_METADATA_KEY(state_size, uint64_t)
VEMLA_METADATA_KEY(trimmed_events, uint64_t)
VEMLA_METADATA_KEY(num_events, uint64_t)
VEMLA_METADATA_KEY(model_stride, uint64_t)
}  // namespace basecall_data

namespace client_options {
VEMLA_METADATA_KEY(move_and_trace_enabled, bool)
}  // namespace client_options

#undef VEMLA_METADATA_KEY
