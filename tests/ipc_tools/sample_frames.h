#pragma once

// Finished wire buffers of every frame kind, filled in every field, for
// tests that need realistic frames (mutation, broker replies).

#include <cstdint>
#include <string>
#include <vector>

namespace ipc_tools::test {

using Bytes = std::vector<uint8_t>;

struct SampleFrame {
    std::string name;
    Bytes bytes;
};

/// A raw block request carrying `samples`.
Bytes raw_block_frame(const std::vector<int16_t>& samples, const std::string& client_id);

/// A called block reply with every table filled; `run_length` picks the
/// run-length form of the event data instead of moves and trace.
Bytes called_block_frame(bool run_length);

/// RETURN_CONFIGS with one entry in each of the four lists.
Bytes config_list_frame();

/// RETURN_STATISTICS with two client entries.
Bytes server_stats_frame();

/// Every simple kind plus the frames above.
std::vector<SampleFrame> all_sample_frames();

}  // namespace ipc_tools::test
