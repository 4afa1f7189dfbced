#include "basecall_service/called_block_metadata.h"

#include "interfaces/read_alignment.h"
#include "ipc_tools/wire_access.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace basecall_service {

namespace {

using bass::data_wrappers::DataTable;
using bass::data_wrappers::Metadata;
using ipc_tools::wire::as_string;

// One end of the read matched against a reference; `index_key` is
// "_begin_index" for a front match and "_end_index" for a rear one.
void add_sequence_match(Metadata& metadata,
                        const std::string& prefix,
                        const vemla_ipc::SequenceMatchData* match,
                        const char* index_key) {
    const std::string foundseq = match ? as_string(match->foundseq()) : std::string();
    metadata.insert(prefix + "_id", match ? as_string(match->id()) : std::string());
    metadata.insert(prefix + "_refseq", match ? as_string(match->refseq()) : std::string());
    metadata.insert(prefix + "_foundseq", foundseq);
    metadata.insert(prefix + "_foundseq_length", static_cast<int32_t>(foundseq.size()));
    metadata.insert(prefix + "_score", match ? match->score() : 0.0f);
    metadata.insert(prefix + index_key, match ? match->index() : int32_t(0));
}

void add_mid_match(Metadata& metadata, const std::string& prefix, const vemla_ipc::MidMatchData* match) {
    metadata.insert(prefix + "_id", match ? as_string(match->id()) : std::string());
    metadata.insert(prefix + "_score", match ? match->score() : 0.0f);
    metadata.insert(prefix + "_end_index", match ? match->end_index() : int32_t(0));
}

void add_lamp(Metadata& metadata, const vemla_ipc::LampResultData* lamp) {
    metadata.insert("lamp_barcode_id", lamp ? as_string(lamp->lamp_barcode_id()) : std::string());
    metadata.insert("lamp_barcode_score", lamp ? lamp->lamp_barcode_score() : 0.0f);
    metadata.insert("lamp_target_id", lamp ? as_string(lamp->lamp_target_id()) : std::string());
    metadata.insert("lamp_target_score", lamp ? lamp->lamp_target_score() : 0.0f);
}

// A vector of tables may name one table many times, and tables may share
// their strings: each row is decoded in full (a table row and its texts), so
// a small frame could stand for far more than it carries. Every row must be
// a table of its own, and the texts together must fit the frame.
void refuse_rows_beyond_frame(const flatbuffers::Vector<flatbuffers::Offset<vemla_ipc::AlignmentRowData>>& rows,
                              uint64_t frame_bytes) {
    std::vector<const vemla_ipc::AlignmentRowData*> tables(rows.begin(), rows.end());
    std::sort(tables.begin(), tables.end());
    if (std::adjacent_find(tables.begin(), tables.end()) != tables.end()) {
        throw BadCalledData("Alignment rows share a table: " + std::to_string(rows.size()) + " rows in a frame of " +
                            std::to_string(frame_bytes) + " bytes");
    }
    uint64_t text_bytes = 0;
    for (const auto* row : tables) {
        text_bytes += ipc_tools::wire::as_view(row->sam_record()).size() +
                      ipc_tools::wire::as_view(row->bed_lines()).size();
    }
    if (text_bytes > frame_bytes) {
        throw BadCalledData("Alignment texts of " + std::to_string(text_bytes) + " bytes in a frame of " +
                            std::to_string(frame_bytes) + " bytes");
    }
}

template <typename T>
void write_cell(DataTable& table, uint64_t row, const char* column, T value) {
    std::memcpy(table.data.data() + row * table.row_size + table.field_offset(column), &value, sizeof value);
}

}  // namespace

void add_scaling_metadata(Metadata& metadata, const vemla_ipc::ScalingResultData& scaling) {
    metadata.insert("scaling_median", scaling.scaling_median());
    metadata.insert("scaling_med_abs_dev", scaling.scaling_med_abs_dev());
    metadata.insert("pt_median", scaling.pt_median());
    metadata.insert("ptsd", scaling.ptsd());
    metadata.insert("adapter_max", scaling.adapter_max());
    metadata.insert("pt_detect_success", scaling.pt_detect_success());
}

void add_barcoding_metadata(Metadata& metadata, const vemla_ipc::BarcodingResultData& barcoding) {
    metadata.insert("trim_front", barcoding.trim_front());
    metadata.insert("trim_rear", barcoding.trim_rear());
    metadata.insert("barcode_full_arrangement", as_string(barcoding.barcode_full_arrangement()));
    metadata.insert("barcode_arrangement", as_string(barcoding.barcode_arrangement()));
    metadata.insert("barcode_kit", as_string(barcoding.barcode_kit()));
    metadata.insert("barcode_variant", as_string(barcoding.barcode_variant()));
    metadata.insert("barcode_score", barcoding.barcode_score());
    add_sequence_match(metadata, "barcode_front", barcoding.barcode_front(), "_begin_index");
    add_sequence_match(metadata, "barcode_rear", barcoding.barcode_rear(), "_end_index");
    add_mid_match(metadata, "barcode_mid_front", barcoding.barcode_mid_front());
    add_mid_match(metadata, "barcode_mid_rear", barcoding.barcode_mid_rear());
    metadata.insert("barcode_front_id_inner", as_string(barcoding.barcode_front_id_inner()));
    metadata.insert("barcode_front_score_inner", barcoding.barcode_front_score_inner());
    metadata.insert("barcode_rear_id_inner", as_string(barcoding.barcode_rear_id_inner()));
    metadata.insert("barcode_rear_score_inner", barcoding.barcode_rear_score_inner());
    add_lamp(metadata, barcoding.lamp());
    add_sequence_match(metadata, "adapter_front", barcoding.adapter_front(), "_begin_index");
    add_sequence_match(metadata, "adapter_rear", barcoding.adapter_rear(), "_end_index");
    add_mid_match(metadata, "adapter_mid", barcoding.adapter_mid());
    add_sequence_match(metadata, "primer_front", barcoding.primer_front(), "_begin_index");
    add_sequence_match(metadata, "primer_rear", barcoding.primer_rear(), "_end_index");
}

DecodedAlignments decode_alignments(const flatbuffers::Vector<flatbuffers::Offset<vemla_ipc::AlignmentRowData>>& rows,
                                    uint64_t frame_bytes) {
    constexpr uint64_t capacity = interfaces::ReadAlignmentHelper::GENOME_NAME_CAPACITY;
    refuse_rows_beyond_frame(rows, frame_bytes);
    DecodedAlignments result;
    result.table = interfaces::ReadAlignmentHelper::create_alignment_table(rows.size());
    DataTable& table = result.table;
    const uint64_t genome_offset = table.field_offset("Genome");
    for (flatbuffers::uoffset_t r = 0; r < rows.size(); ++r) {
        const vemla_ipc::AlignmentRowData* row = rows.Get(r);
        const std::string genome = as_string(row->Genome());
        if (genome.size() >= capacity) {
            throw BadCalledData("Alignment genome name " + genome + " exceeds maximum allowed size of " +
                                std::to_string(capacity));
        }
        // With its NUL; the rest of the column is already zero.
        std::memcpy(table.data.data() + r * table.row_size + genome_offset, genome.c_str(), genome.size() + 1);
        write_cell(table, r, "Direction", row->Direction());
        write_cell(table, r, "GenomeStart", row->GenomeStart());
        write_cell(table, r, "GenomeEnd", row->GenomeEnd());
        write_cell(table, r, "StrandStart", row->StrandStart());
        write_cell(table, r, "StrandEnd", row->StrandEnd());
        write_cell(table, r, "NumEvents", row->NumEvents());
        write_cell(table, r, "NumInsertions", row->NumInsertions());
        write_cell(table, r, "NumDeletions", row->NumDeletions());
        write_cell(table, r, "NumAligned", row->NumAligned());
        write_cell(table, r, "NumCorrect", row->NumCorrect());
        write_cell(table, r, "Coverage", row->Coverage());
        write_cell(table, r, "Identity", row->Identity());
        write_cell(table, r, "Accuracy", row->Accuracy());
        write_cell(table, r, "StrandScore", row->StrandScore());
        write_cell(table, r, "BedHits", row->BedHits());
        write_cell(table, r, "MappingQuality", row->MappingQuality());
        write_cell(table, r, "IsSecondary", static_cast<uint8_t>(row->IsSecondary() ? 1 : 0));
        write_cell(table, r, "IsSupplementary", static_cast<uint8_t>(row->IsSupplementary() ? 1 : 0));

        if (r > 0) {
            result.sam_text += '\n';
        }
        result.sam_text += as_string(row->sam_record());
        // Rows without hits bring no text, and no separator either, so the
        // lines of later rows keep their place whatever row 0 held.
        const std::string bed = as_string(row->bed_lines());
        if (!bed.empty()) {
            if (!result.bed_text.empty()) {
                result.bed_text += '\n';
            }
            result.bed_text += bed;
        }
    }
    return result;
}

}  // namespace basecall_service
