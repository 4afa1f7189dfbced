#pragma once
// What a test server offers (configs, alignment indices, BED files, kits)
// and how it behaves (latency, loading replies, called-block size).
#include <cstdint>
#include <string>
#include <vector>

namespace test_server {

enum class EventKind { move_trace, run_length };

// A genome an aligned read maps to, and how many BED lines its row carries.
struct AlignmentTarget {
    std::string genome;
    int32_t bed_hits = 0;
};

struct BasecallConfig {
    std::string name;
    uint32_t model_stride = 5;
    uint32_t label_length = 1;
    EventKind events = EventKind::move_trace;
    bool base_mods = false;
    std::string model_type = "test_moves";
    std::string model_version_id;
    float qscore_offset = 0.5f;
    float qscore_scale = 1.25f;
    float temp_weight = 1.0f;
    float temp_bias = 0.25f;
};

struct AlignmentIndex {
    std::string name;
    bool has_sequence = true;  // without it a "full" alignment is refused
};

struct BarcodeKit {
    std::string kit_name;
    bool is_dual = false;
    bool is_both_ends = false;
    bool add_a_to_barcode_12 = false;
    uint32_t first_index = 0;
    uint32_t last_index = 0;
    uint32_t first_inner_index = 0;
    uint32_t last_inner_index = 0;
    std::string barcode_name_format;
};

struct LampKit {
    std::string kit_name;
    uint32_t first_index = 0;
    uint32_t last_index = 0;
    std::string barcode_name_format;
    std::vector<std::string> targets;
};

struct ServerSettings {
    std::vector<BasecallConfig> configs;
    std::vector<AlignmentIndex> indices;
    std::vector<std::string> bed_files;
    std::vector<BarcodeKit> barcode_kits;
    std::vector<LampKit> lamp_kits;
    uint32_t reply_latency_ms = 0;           // added before every reply
    uint32_t call_delay_ms = 0;              // a read is ready this long after its last block
    uint32_t loading_replies = 0;            // LOADING answers before SUCCESS, per file
    uint32_t called_block_positions = 1000;  // positions per called block
    uint32_t split_min_positions = 40;       // a split read yields two halves of at least this
    bool discard_reads = false;              // count finished reads but call none (benchmarks)
    // One alignment row per target for every aligned read; empty: one or two
    // rows on test_chr1 and test_chr2, by read tag.
    std::vector<AlignmentTarget> alignment_targets;

    // Three configs (moves and trace, base modifications, run-length), two
    // indices (one without sequence), one BED file and a few kits.
    static ServerSettings defaults();

    const BasecallConfig* find_config(const std::string& name) const;
    const AlignmentIndex* find_index(const std::string& name) const;
    bool has_bed_file(const std::string& name) const;
    const BarcodeKit* find_barcode_kit(const std::string& name) const;
};

// Reads "name[:stride[:moves|modbase|rle]]" into a config; false on a
// malformed text.
bool parse_config_spec(const std::string& text, BasecallConfig& config);

// Same file name ignoring the folders: the client sends canonical paths at
// registration while it loads files under the name it was given.
bool same_file_name(const std::string& a, const std::string& b);

}  // namespace test_server
