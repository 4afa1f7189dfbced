#include "interfaces/read_alignment.h"

#include "bass/data_wrappers/data_view.h"
#include "bass/data_wrappers/metadata_keys.h"
#include "bass/util/bam/bam_file.h"
#include "interfaces/read_holder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace interfaces {

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;
using bass::data_wrappers::Field;
using bass::data_wrappers::Metadata;
using bass::util::bam::BAMFileHandler;

namespace {

struct ColumnSpec {
    const char* name;
    DataSetType type;
    uint64_t size;
};

// Order, types and sizes fix the row layout that the engine fills and the
// Python module reads; never reorder.
const ColumnSpec ALIGNMENT_COLUMNS[] = {
        {"Genome", DataSetType::fixed_string, ReadAlignmentHelper::GENOME_NAME_CAPACITY},
        {"Direction", DataSetType::int8, 1},
        {"GenomeStart", DataSetType::int32, 4},
        {"GenomeEnd", DataSetType::int32, 4},
        {"StrandStart", DataSetType::int32, 4},
        {"StrandEnd", DataSetType::int32, 4},
        {"NumEvents", DataSetType::int32, 4},
        {"NumInsertions", DataSetType::int32, 4},
        {"NumDeletions", DataSetType::int32, 4},
        {"NumAligned", DataSetType::int32, 4},
        {"NumCorrect", DataSetType::int32, 4},
        {"Coverage", DataSetType::float32, 4},
        {"Identity", DataSetType::float32, 4},
        {"Accuracy", DataSetType::float32, 4},
        {"StrandScore", DataSetType::int32, 4},
        {"BedHits", DataSetType::int32, 4},
        {"MappingQuality", DataSetType::int32, 4},
        {"IsSecondary", DataSetType::uint8, 1},
        {"IsSupplementary", DataSetType::uint8, 1},
};

constexpr uint64_t ROW_ALIGNMENT = 8;

uint64_t round_up_row_size(uint64_t size) {
    return (size + ROW_ALIGNMENT - 1) / ROW_ALIGNMENT * ROW_ALIGNMENT;
}

// The table's field of that name, checked to have the type and size the
// alignment layout gives it, so that a cell read never leaves its row.
const Field& alignment_field(const DataTable& table, const std::string& name) {
    const auto found = table.field_index.find(name);
    if (found == table.field_index.end() || found->second >= table.fields.size()) {
        throw std::out_of_range("map::at:  key not found");
    }
    const Field& field = table.fields[found->second];
    for (const ColumnSpec& column : ALIGNMENT_COLUMNS) {
        if (name == column.name) {
            const uint64_t stored = field.size + (field.type == DataSetType::fixed_string ? 1 : 0);
            if (field.type != column.type || field.size != column.size || field.offset > table.row_size ||
                stored > table.row_size - field.offset) {
                throw std::runtime_error("Alignment table field '" + name + "' does not have the alignment layout.");
            }
            return field;
        }
    }
    return field;
}

template <typename T>
T read_cell(const DataTable& table, const Field& field, uint64_t row) {
    T value;
    std::memcpy(&value, table.data.data() + row * table.row_size + field.offset, sizeof(T));
    return value;
}

// The name up to its NUL; a name that fills the field without one ends at
// the field's end rather than running into the next column.
std::string read_genome(const DataTable& table, const Field& field, uint64_t row) {
    const char* start = reinterpret_cast<const char*>(table.data.data() + row * table.row_size + field.offset);
    return std::string(start, strnlen(start, field.size));
}

std::string metadata_text(const Metadata& metadata, const std::string& key) {
    std::string* value = nullptr;
    return metadata.extract(key, value) && value ? *value : std::string();
}

std::string read_name_for_errors(const ReadHolder& read) {
    return metadata_text(read.m_metadata, read_data::read_id::name);
}

const std::string& text_of(const DataView& view) {
    if (view.info.type != DataSetType::string || view.string == nullptr) {
        throw std::runtime_error("Data does not view string data.");
    }
    return *view.string;
}

const std::string& read_sequence(const ReadHolder& read) {
    const auto found = read.m_datasets.find(dataset::sequence);
    if (found == read.m_datasets.end()) {
        throw std::runtime_error("Read " + read_name_for_errors(read) +
                                 " does not contain a sequence! Cannot generate SAM line.");
    }
    return text_of(found->second);
}

const std::string& read_qstring(const ReadHolder& read) {
    const auto found = read.m_datasets.find(dataset::qstring);
    if (found == read.m_datasets.end()) {
        throw std::runtime_error("Read " + read_name_for_errors(read) +
                                 " does not contain a qstring! Cannot generate SAM line.");
    }
    return text_of(found->second);
}

// Newline-separated lines of a text, one at a time.
class LineReader {
public:
    explicit LineReader(const std::string& text) : m_text(text) {}

    bool exhausted() const { return m_pos >= m_text.size(); }

    // The next line without its newline; empty once the text is used up.
    std::string next() {
        if (exhausted()) {
            return std::string();
        }
        const size_t end = std::min(m_text.find('\n', m_pos), m_text.size());
        std::string line = m_text.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        return line;
    }

private:
    const std::string& m_text;
    size_t m_pos = 0;
};

std::string sam_column(const std::string& line, size_t column) {
    size_t start = 0;
    for (size_t i = 0; i < column; ++i) {
        start = line.find('\t', start);
        if (start == std::string::npos) {
            return std::string();
        }
        ++start;
    }
    return line.substr(start, line.find('\t', start) - start);
}

void append_tag(std::string& line, const std::string& tag) {
    if (!tag.empty()) {
        line += '\t';
        line += tag;
    }
}

std::string base_modification_tags(const ReadHolder& read, const DataView& probs, uint8_t threshold) {
    const Metadata& metadata = read.m_metadata;
    const std::string alphabet = metadata_text(metadata, "base_mod_alphabet");
    const std::string long_names = metadata_text(metadata, "base_mod_long_names");
    const std::string context = metadata_text(metadata, "base_mod_context");
    const auto view = probs.vec_view<uint8_t>();
    std::string tags, error;
    if (!BAMFileHandler::generate_modbase_string(tags, read_sequence(read), alphabet, long_names, context, view,
                                                 threshold, error)) {
        throw std::runtime_error("generate_modbase_string failed: " + error);
    }
    return tags;
}

std::string move_table_tag(const ReadHolder& read, const DataView& moves) {
    const auto view = moves.vec_view<uint8_t>();
    const uint64_t stride = read.m_metadata.get<basecall_data::model_stride>();
    // The tag stores the stride as a signed byte; a wrapped value would
    // misplace every move, so such a read gets no move table at all.
    if (stride > uint64_t(std::numeric_limits<int8_t>::max())) {
        return std::string();
    }
    std::string tag, error;
    if (!BAMFileHandler::generate_move_table_string(tag, view, static_cast<int8_t>(stride), error)) {
        return std::string();
    }
    return tag;
}

}  // namespace

DataTable ReadAlignmentHelper::create_alignment_table(std::size_t rows) {
    DataTable table;
    for (const ColumnSpec& column : ALIGNMENT_COLUMNS) {
        table.add_field(column.name, column.type, column.size);
    }
    table.row_size = round_up_row_size(table.row_size);
    table.num_rows = rows;
    table.data.assign(rows * table.row_size, 0);
    return table;
}

bool ReadAlignmentHelper::read_holder_contains_alignment_data(const ReadHolder& read) {
    return read.m_datasets.count(dataset::align_results) != 0;
}

DataTable ReadAlignmentHelper::create_alignment_table_from_read_holder(const ReadHolder& read) {
    const auto found = read.m_datasets.find(dataset::align_results);
    if (found == read.m_datasets.end()) {
        throw std::runtime_error("Could not find align results in read holder");
    }
    const DataView& view = found->second;
    if (view.info.type != DataSetType::table) {
        throw std::runtime_error("Align results dataset is not a table.");
    }

    DataTable table;
    for (const Field& field : view.info.fields) {
        table.add_field(field.name, field.type, field.size);
    }
    table.row_size = round_up_row_size(table.row_size);
    // The bytes are copied by the rebuilt row size, so it must be the one the
    // dataset was stored with.
    if (table.row_size != view.info.element_size || table.row_size != ROW_SIZE) {
        throw std::runtime_error("Align results table has rows of " + std::to_string(view.info.element_size) +
                                 " bytes, expected " + std::to_string(ROW_SIZE) + ".");
    }
    const uint64_t rows = view.info.count;
    if (rows > std::numeric_limits<size_t>::max() / table.row_size) {
        throw std::runtime_error("Align results table has too many rows.");
    }
    if (rows > 0 && view.data == nullptr) {
        throw std::runtime_error("Align results table has rows but no data.");
    }
    // An owned table knows how many bytes it really holds; a row count beyond
    // them would make the copy read past its end.
    using TableOwner = DataView::Owner<DataTable>;
    if (auto* owned = dynamic_cast<TableOwner*>(view.owner.get())) {
        if (owned->value().data.size() < rows * table.row_size) {
            throw std::runtime_error("Align results table holds fewer bytes than its rows.");
        }
    }
    table.num_rows = rows;
    const auto* bytes = static_cast<const uint8_t*>(view.data);
    table.data.assign(bytes, bytes + rows * table.row_size);
    return table;
}

std::vector<ReadAlignmentHelper::AlignmentSamLine>
ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(const ReadHolder& read) {
    std::vector<AlignmentSamLine> entries;
    if (!read_holder_contains_alignment_data(read)) {
        return entries;
    }
    const DataTable table = create_alignment_table_from_read_holder(read);
    const Field& bed_hits = alignment_field(table, "BedHits");

    const std::string sam_text = metadata_text(read.m_metadata, "alignment_sam_record");
    const std::string bed_text = metadata_text(read.m_metadata, "alignment_bed_lines");
    LineReader sam_lines(sam_text);
    LineReader bed_lines(bed_text);

    entries.reserve(table.num_rows);
    for (uint64_t row = 0; row < table.num_rows; ++row) {
        AlignmentSamLine entry;
        entry.sam_line = sam_lines.next();
        // The count comes from the server; only lines the text really has
        // are handed out, so a huge count cannot make us allocate.
        const int32_t hits = read_cell<int32_t>(table, bed_hits, row);
        for (int32_t k = 0; k < hits && !bed_lines.exhausted(); ++k) {
            entry.bed_lines.push_back(bed_lines.next());
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<ReadAlignmentHelper::AlignmentSamLine> ReadAlignmentHelper::extract_sam_and_bed_lines_from_read_holder(
        const ReadHolder& read,
        uint8_t threshold,
        bool with_moves) {
    std::vector<AlignmentSamLine> entries;
    if (read_holder_contains_alignment_data(read)) {
        entries = extract_alignment_sam_and_bed_lines_from_read_holder(read);
    }
    if (!entries.empty()) {
        const std::string& first = entries.front().sam_line;
        if (std::count(first.begin(), first.end(), '\t') < 10) {
            throw std::runtime_error("Malformed alignment SAM line: \n" + first);
        }
        if (sam_column(first, 2) == "*") {
            entries.clear();
        }
    }

    if (entries.empty()) {
        const std::string& read_name = read.m_metadata.get<read_data::strand_id>();
        const std::string& sequence = read_sequence(read);
        const std::string& qstring = read_qstring(read);
        AlignmentSamLine entry;
        std::string error;
        if (!BAMFileHandler::make_unmapped_sam_line(entry.sam_line, read_name, sequence, qstring, error)) {
            throw std::runtime_error("make_unmapped_sam_line failed: " + error);
        }
        entries.push_back(std::move(entry));
    }

    const auto probs = read.m_datasets.find(dataset::base_mod_probs);
    if (probs != read.m_datasets.end()) {
        append_tag(entries.front().sam_line, base_modification_tags(read, probs->second, threshold));
    }
    const auto moves = read.m_datasets.find(dataset::movement);
    if (with_moves && moves != read.m_datasets.end()) {
        append_tag(entries.front().sam_line, move_table_tag(read, moves->second));
    }
    return entries;
}

void ReadAlignmentHelper::copy_alignment_results_to_metadata(ReadHolder& read) {
    const DataTable table = create_alignment_table_from_read_holder(read);
    Metadata& metadata = read.m_metadata;

    // A table without rows has no first alignment to summarise.
    if (table.num_rows > 0) {
        const auto int_cell = [&table](const char* name) {
            return read_cell<int32_t>(table, alignment_field(table, name), 0);
        };
        const auto float_cell = [&table](const char* name) {
            return read_cell<float>(table, alignment_field(table, name), 0);
        };
        metadata.insert("alignment_genome", read_genome(table, alignment_field(table, "Genome"), 0));
        metadata.insert("alignment_direction",
                        std::string(1, read_cell<char>(table, alignment_field(table, "Direction"), 0)));
        metadata.insert("alignment_genome_start", int_cell("GenomeStart"));
        metadata.insert("alignment_genome_end", int_cell("GenomeEnd"));
        metadata.insert("alignment_strand_start", int_cell("StrandStart"));
        metadata.insert("alignment_strand_end", int_cell("StrandEnd"));
        metadata.insert("alignment_num_events", int_cell("NumEvents"));
        metadata.insert("alignment_num_insertions", int_cell("NumInsertions"));
        metadata.insert("alignment_num_deletions", int_cell("NumDeletions"));
        metadata.insert("alignment_num_aligned", int_cell("NumAligned"));
        metadata.insert("alignment_num_correct", int_cell("NumCorrect"));
        metadata.insert("alignment_coverage", float_cell("Coverage"));
        metadata.insert("alignment_identity", float_cell("Identity"));
        metadata.insert("alignment_accuracy", float_cell("Accuracy"));
        metadata.insert("alignment_score", int_cell("StrandScore"));
        metadata.insert("alignment_mapping_quality", int_cell("MappingQuality"));
        metadata.insert("alignment_bed_hits", int_cell("BedHits"));
    }

    const Field& genome_start = alignment_field(table, "GenomeStart");
    const Field& is_secondary = alignment_field(table, "IsSecondary");
    const Field& is_supplementary = alignment_field(table, "IsSupplementary");
    int32_t alignments = 0;
    int32_t secondary = 0;
    int32_t supplementary = 0;
    for (uint64_t row = 0; row < table.num_rows; ++row) {
        alignments += read_cell<int32_t>(table, genome_start, row) != 0;
        secondary += read_cell<uint8_t>(table, is_secondary, row) != 0;
        supplementary += read_cell<uint8_t>(table, is_supplementary, row) != 0;
    }
    metadata.insert("alignment_num_alignments", alignments);
    metadata.insert("alignment_num_secondary_alignments", secondary);
    metadata.insert("alignment_num_supplementary_alignments", supplementary);
}

}  // namespace interfaces
