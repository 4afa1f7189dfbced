#pragma once
// Puts the raw blocks of one client's reads back together and checks that
// they form a whole read: blocks in order, the same header in every block,
// equal block lengths except a shorter last one, and exactly `duration`
// samples in total.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_server {

// What every raw block of a read repeats, and what the assembled read keeps.
struct ReadHeader {
    uint32_t read_tag = 0;
    uint32_t sub_tag = 0;
    uint32_t num_blocks = 0;
    uint32_t duration = 0;
    float daq_offset = 0.0f;
    float daq_scaling = 0.0f;
    std::string read_id;
    std::string strand_id;
    uint64_t start_time = 0;
};

// One raw block as it came off the wire.
struct RawBlock : ReadHeader {
    bool first = false;  // PASS_FIRST_RAW_BLOCK rather than PASS_NEXT_RAW_BLOCK
    uint32_t block_index = 0;
    std::vector<int16_t> samples;
};

// A read whose every block has arrived.
struct AssembledRead : ReadHeader {
    std::vector<int16_t> signal;
};

class RawReadAssembler {
public:
    struct Outcome {
        bool accepted = false;
        std::string error;                  // why the block was refused
        std::optional<AssembledRead> read;  // set when this block completed a read
    };

    // A refused block also discards the read it belonged to: the client has
    // to start that read again from its first block.
    Outcome add(RawBlock block);

    size_t reads_in_progress() const { return m_partial.size(); }
    void clear() { m_partial.clear(); }

private:
    struct Partial {
        AssembledRead read;
        uint32_t next_index = 0;
        size_t first_block_size = 0;
    };
    using Key = std::pair<uint32_t, uint32_t>;  // read tag, sub tag
    std::map<Key, Partial> m_partial;
};

// FNV-1a over the little-endian bytes of the samples: a digest the server
// reports so that tests can tell the signal arrived intact.
uint64_t signal_digest(const std::vector<int16_t>& signal);

}  // namespace test_server
