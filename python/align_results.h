#pragma once

#include <cstdint>

namespace vemla {

// One row of a read's alignment table as Python sees it: a NumPy structured
// type whose fields lie at the byte offsets of the library's table columns.
// Natural alignment gives those offsets and the 320-byte row (the last two
// bytes are padding); the asserts in align_results.cpp keep it so.
struct AlignResults {
    char genome[254];
    char direction[2];
    int32_t genome_start;
    int32_t genome_end;
    int32_t strand_start;
    int32_t strand_end;
    int32_t num_events;
    int32_t num_insertions;
    int32_t num_deletions;
    int32_t num_aligned;
    int32_t num_correct;
    float coverage;
    float identity;
    float accuracy;
    int32_t score;
    int32_t bed_hits;
    int32_t mapping_quality;
    uint8_t secondary_alignment;
    uint8_t supplementary_alignment;
};

// Registers AlignResults with NumPy; called once at import.
void register_align_results_dtype();

}  // namespace vemla
