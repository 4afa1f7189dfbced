#include "python/align_results.h"

#include "interfaces/read_alignment.h"

#include <pybind11/numpy.h>

#include <cstddef>

namespace vemla {

static_assert(sizeof(AlignResults) == interfaces::ReadAlignmentHelper::ROW_SIZE,
              "a record must span one alignment table row");
static_assert(sizeof(AlignResults::genome) == interfaces::ReadAlignmentHelper::GENOME_NAME_CAPACITY + 1,
              "the genome field holds the table's text and its NUL");
static_assert(offsetof(AlignResults, genome_start) == 256, "");
static_assert(offsetof(AlignResults, coverage) == 292, "");
static_assert(offsetof(AlignResults, score) == 304, "");
static_assert(offsetof(AlignResults, secondary_alignment) == 316, "");
static_assert(offsetof(AlignResults, supplementary_alignment) == 317, "");

void register_align_results_dtype() {
    PYBIND11_NUMPY_DTYPE(AlignResults, genome, direction, genome_start, genome_end, strand_start, strand_end,
                         num_events, num_insertions, num_deletions, num_aligned, num_correct, coverage, identity,
                         accuracy, score, bed_hits, mapping_quality, secondary_alignment, supplementary_alignment);
}

}  // namespace vemla
