#pragma once

#include "basecall_service/called_block_metadata.h"
#include "bass/data_wrappers/data_table.h"
#include "bass/data_wrappers/metadata.h"
#include "interfaces/read_holder.h"

#include <vemla_ipc_generated.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace basecall_service {

/// A returned read whose duration is 0 or missing.
class CalledReadWithoutDuration : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What the client asked the server for with GET_FIRST_CALLED_BLOCK.
struct CalledReadOptions {
    bool events = true;  // moves, trace, runs and base modifications
    bool state_data = false;
};

/// Decodes the called blocks of one read aside, and applies the whole to a
/// read only after the last block: a read whose blocks stop half way, or
/// turn out not to hold together, stays exactly as it was sent.
///
/// Nothing the server states is trusted: every count is checked against the
/// vectors that carry it, every total against what the blocks deliver, and
/// the read-wide totals against the size of the read that was sent, so no
/// buffer is read or written past its end and none grows beyond the data
/// that really arrived. Failures throw BadCalledData (or
/// CalledReadWithoutDuration) before anything outside the decoder changes.
///
/// Moves, trace, state data and base-modification probabilities are
/// optional: a first block without one means the read has no such dataset.
/// A later block that carries positions (or bases) but not the vector for
/// them leaves the read without that dataset as well, rather than with one
/// that silently lacks part of the read; the rest of the read is kept.
class CalledReadDecoder {
public:
    /// `sample_limit`: the raw samples of the read that was sent; no
    /// position, base or run count of its call may exceed it.
    CalledReadDecoder(CalledReadOptions options, uint64_t sample_limit);

    /// `frame_bytes`: the size of the frame that carried the block; what is
    /// decoded from its shared tables is bounded by it.
    void add_first_block(const vemla_ipc::ReadBlockData& block, uint64_t frame_bytes);
    void add_next_block(const vemla_ipc::ReadBlockData& block);

    uint32_t num_blocks() const { return m_num_blocks; }
    const std::string& strand_id() const { return m_strand_id; }

    /// After the last block: checks that the blocks made up the whole read,
    /// then writes its metadata and datasets into `target`. Metadata keys
    /// replace the target's; a dataset the target holds already stays.
    /// Throws BadCalledData, leaving `target` untouched.
    void commit(interfaces::ReadHolder& target);

private:
    void take_first_block_metadata(const vemla_ipc::ReadBlockData& block,
                                   const vemla_ipc::CalledBlockData& called,
                                   uint64_t frame_bytes);
    void prepare_buffers(const vemla_ipc::CalledBlockData& called);
    void add_block_data(const vemla_ipc::CalledBlockData& called, bool first);
    void add_moves_and_trace(const vemla_ipc::CalledBlockData& called, uint64_t positions);
    void add_runs(const vemla_ipc::CalledBlockData& called);
    void add_state(const vemla_ipc::CalledBlockData& called, uint64_t positions);
    /// Whether a block's vector of an optional dataset is to be added: only
    /// while the read keeps that dataset and the block carries the vector. A
    /// block that carries `items` (positions or bases) without it drops the
    /// dataset from the read.
    template <typename Buffer>
    bool keep_optional(bool& kept, bool present, uint64_t items, const char* what, Buffer& buffer);
    void check_complete() const;
    interfaces::DatasetMap build_datasets();
    [[noreturn]] void refuse(const std::string& what) const;

    CalledReadOptions m_options;
    uint64_t m_sample_limit;
    uint32_t m_read_tag = 0;
    uint32_t m_num_blocks = 1;
    uint32_t m_blocks_added = 0;
    std::string m_strand_id;
    bass::data_wrappers::Metadata m_metadata;

    std::string m_sequence;
    std::string m_qstring;
    uint64_t m_sequence_length = 0;

    uint8_t m_event_type = 0;  // union type of the first block's event data
    uint64_t m_total_positions = 0;
    bool m_has_moves = false;
    bool m_has_trace = false;
    std::vector<uint8_t> m_moves;
    std::vector<uint8_t> m_trace;  // 8 bytes per position

    uint64_t m_rle_count = 0;
    std::vector<char> m_rle_base;
    std::vector<float> m_rle_scale;
    std::vector<float> m_rle_shape;
    std::vector<float> m_rle_weight;
    std::vector<uint32_t> m_rle_index;
    std::vector<uint32_t> m_rle_runlength;

    bool m_has_base_mods = false;
    uint64_t m_alphabet_size = 0;
    std::vector<uint8_t> m_base_mod_probs;

    bool m_has_state = false;
    uint64_t m_state_size = 0;
    std::vector<float> m_state;

    std::optional<DecodedAlignments> m_alignments;
};

}  // namespace basecall_service
