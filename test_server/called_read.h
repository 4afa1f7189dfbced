#pragma once
// The deterministic "basecall" of one assembled read. Every value follows
// from the samples by simple rules, so a test can compute what to expect:
//
//   positions P = duration / stride, trimmed_samples = duration - P * stride
//   w(p)  = sum of the stride samples of position p (as signed integers)
//   move  = 1 for p == 0, else 1 when w(p) mod 3 != 0 (mod is floored, 0..m-1)
//   base  = "ACGT"[w(p) mod 4] at each position with a move
//   qual  = 5 + w(p) mod 31, written as the character 33 + qual
//   trace row j of position p = (w(p) + 37 j) mod 256, j = 0..7
//   state row p = (samples[p*stride + j mod stride] + daq_offset) * daq_scaling, j = 0..3
//   runs  = maximal stretches of equal bases (run-length configs)
//   base-modification probabilities per base: (w mod 256, 255 - w mod 256)
#include "test_server/connection_string_reader.h"
#include "test_server/raw_read_assembler.h"
#include "test_server/server_settings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_server {

struct SequenceMatch {
    std::string id, refseq, foundseq;
    float score = 0.0f;
    int32_t index = 0;
};

struct MidMatch {
    std::string id;
    float score = 0.0f;
    int32_t end_index = 0;
};

struct Barcoding {
    int32_t trim_front = 0, trim_rear = 0;
    std::string full_arrangement, arrangement, kit, variant;
    float score = 0.0f;
    SequenceMatch barcode_front, barcode_rear;
    MidMatch barcode_mid_front, barcode_mid_rear;
    std::string front_id_inner, rear_id_inner;
    float front_score_inner = 0.0f, rear_score_inner = 0.0f;
    std::string lamp_barcode_id, lamp_target_id;
    float lamp_barcode_score = 0.0f, lamp_target_score = 0.0f;
    SequenceMatch adapter_front, adapter_rear;
    MidMatch adapter_mid;
    SequenceMatch primer_front, primer_rear;
};

struct AlignmentRow {
    std::string genome;
    int32_t genome_start = 0, genome_end = 0, strand_start = 0, strand_end = 0;
    int32_t num_events = 0, num_insertions = 0, num_deletions = 0, num_aligned = 0, num_correct = 0;
    float coverage = 0.0f, identity = 0.0f, accuracy = 0.0f;
    int32_t strand_score = 0;
    std::string sam_record;
    int32_t bed_hits = 0;
    std::string bed_lines;
    int8_t direction = 0;
    int32_t mapping_quality = 0;
    bool is_secondary = false, is_supplementary = false;
};

struct ScalingResult {
    float median = 0.0f, med_abs_dev = 0.0f, pt_median = 0.0f, ptsd = 0.0f, adapter_max = 0.0f;
    bool pt_detect_success = false;
};

struct RunLengths {
    std::vector<uint8_t> base;
    std::vector<float> scale, shape, weight;
    std::vector<uint32_t> index;  // position of the run's first base
    std::vector<uint32_t> runlength;
};

struct BaseMods {
    std::string alphabet, long_names, context;
    std::vector<uint8_t> probs;  // alphabet.size() per called base
};

constexpr uint32_t state_size = 4;
constexpr size_t trace_width = 8;

struct CalledRead {
    uint32_t read_tag = 0;
    uint32_t sub_tag = 0;
    std::string read_id;
    std::string strand_id;
    uint32_t duration = 0;
    uint64_t start_time = 0;
    float daq_offset = 0.0f;
    float daq_scaling = 0.0f;

    uint32_t model_stride = 1;
    uint32_t label_length = 1;
    uint32_t trimmed_samples = 0;
    std::string basecall_type;
    std::string model_version_id;
    float mean_qscore = 0.0f, call_score = 0.0f;
    float stay_prob = 0.0f, step_prob = 0.0f, skip_prob = 0.0f;
    float median = 0.0f, med_abs_dev = 0.0f;

    std::vector<uint8_t> moves;                           // one per position
    std::vector<std::array<uint8_t, trace_width>> trace;  // one per position, empty without trace
    std::vector<float> state;                             // state_size per position
    std::string sequence;
    std::string qstring;
    std::vector<uint32_t> base_positions;  // position of each base
    std::optional<RunLengths> runs;        // run-length configs only
    std::optional<BaseMods> base_mods;
    std::optional<ScalingResult> scaling;
    std::optional<Barcoding> barcoding;
    std::vector<AlignmentRow> alignments;

    uint32_t total_positions() const { return static_cast<uint32_t>(moves.size()); }
};

// What a connection asked for, fixed at CONNECT.
struct CallOptions {
    BasecallConfig config;
    bool trace = false;  // move_and_trace_enabled
    std::vector<std::string> barcode_kits;
    bool detect_barcodes = false;
    std::string lamp_kit;
    std::string align_ref;  // empty: no alignment
    std::string bed_file;
    bool split_reads = false;  // do_read_splitting
    uint32_t split_min_positions = 40;
    std::vector<AlignmentTarget> alignment_targets;  // as ServerSettings

    static CallOptions from(const ConnectionRequest& request,
                            const BasecallConfig& config,
                            uint32_t split_min_positions);
};

// The called reads one assembled read yields, in the order the server
// returns them: the sub-reads of a split read (sub tags 1, 2) first, the
// read itself (sub tag of the raw read) last.
std::vector<CalledRead> call_read(const AssembledRead& read, const CallOptions& options);

// The call of one signal, without splitting.
CalledRead call_signal(const AssembledRead& read, const CallOptions& options);

}  // namespace test_server
