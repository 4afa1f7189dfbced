#pragma once

#include "bass/data_wrappers/data_table.h"
#include "interfaces/read_holder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace interfaces {

// A read's alignment results: the alignment table (dataset align_results,
// one row per alignment), its summary in the read's metadata, and the read's
// SAM and BED lines. Static operations only; nothing is kept between calls.
class ReadAlignmentHelper {
public:
    // One SAM record and the BED lines of that alignment, without line ends.
    struct AlignmentSamLine {
        std::string sam_line;
        std::vector<std::string> bed_lines;
    };

    // Bytes per table row; the Python module's record type has the same size
    // and field offsets.
    static constexpr uint64_t ROW_SIZE = 320;
    // Capacity of the "Genome" text field, not counting its terminating NUL.
    static constexpr uint64_t GENOME_NAME_CAPACITY = 253;

    // The 19-column alignment table with `rows` zero-filled rows.
    static bass::data_wrappers::DataTable create_alignment_table(std::size_t rows);

    static bool read_holder_contains_alignment_data(const ReadHolder& read);

    // An owned copy of the read's table. Throws std::runtime_error when the
    // read has no table, or the dataset is not a table of ROW_SIZE-byte rows.
    static bass::data_wrappers::DataTable create_alignment_table_from_read_holder(const ReadHolder& read);

    // The server's SAM lines (metadata "alignment_sam_record"), one per table
    // row, each with its "BedHits" lines of "alignment_bed_lines".
    static std::vector<AlignmentSamLine> extract_alignment_sam_and_bed_lines_from_read_holder(const ReadHolder& read);

    // The read's complete SAM output: the server's lines, or one unmapped line
    // when the read did not align; the first line gets the base-modification
    // tags and, with `with_moves`, the move-table tag.
    static std::vector<AlignmentSamLine> extract_sam_and_bed_lines_from_read_holder(const ReadHolder& read,
                                                                                    uint8_t threshold,
                                                                                    bool with_moves);

    // Row 0's values and the alignment counts into the read's metadata.
    static void copy_alignment_results_to_metadata(ReadHolder& read);
};

}  // namespace interfaces
