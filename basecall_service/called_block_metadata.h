#pragma once

// The read-level tables of a first called block (scaling, barcoding,
// alignments) turned into a read's metadata keys and alignment table.

#include "bass/data_wrappers/data_table.h"
#include "bass/data_wrappers/metadata.h"

#include <vemla_ipc_generated.h>

#include <stdexcept>
#include <string>

namespace basecall_service {

/// Called data that does not hold together (counts beyond the vectors that
/// carry them, sizes beyond the read that was sent, ...): the reply is bad.
class BadCalledData : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The six scaling keys, named as the table's fields.
void add_scaling_metadata(bass::data_wrappers::Metadata& metadata, const vemla_ipc::ScalingResultData& scaling);

/// Every barcoding, adapter, primer and LAMP key. A sub-table the server
/// left out gives its keys their empty and zero values.
void add_barcoding_metadata(bass::data_wrappers::Metadata& metadata, const vemla_ipc::BarcodingResultData& barcoding);

/// The alignment rows of a read as the alignment table, with the SAM records
/// and BED lines joined into one text each.
struct DecodedAlignments {
    bass::data_wrappers::DataTable table;
    std::string sam_text;  // one record per row, "\n" between rows
    std::string bed_text;  // the rows' non-empty BED texts, "\n" between them
};

/// Throws BadCalledData for a genome name that does not fit its column, and
/// for rows that could not all have been carried by a frame of `frame_bytes`:
/// rows sharing one table, or texts longer together than the frame. So what
/// is allocated stays in proportion to what really arrived.
DecodedAlignments decode_alignments(const flatbuffers::Vector<flatbuffers::Offset<vemla_ipc::AlignmentRowData>>& rows,
                                    uint64_t frame_bytes);

}  // namespace basecall_service
