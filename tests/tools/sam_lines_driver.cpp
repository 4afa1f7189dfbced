// Turns reads described in a JSON file into their SAM and BED lines, the way
// the client hands them to callers, so that Python tests can check the
// output with samtools and pysam.
//
// Input (argv[1]): a JSON array of reads, each an object with
//   strand_id, read_id, sequence, qstring (texts; absent ones are left out),
//   threshold (0..255), with_moves (bool), model_stride (unsigned),
//   moves (byte array), base_mod {alphabet, long_names, context, probs
//   (sequence length x alphabet length bytes, base-major)},
//   alignment {sam_record, bed_lines, rows: [{Genome, Direction, GenomeStart,
//   BedHits, IsSecondary, IsSupplementary, ...}]}.
// Output (stdout): a JSON array with one object per read: {"lines": [{"sam":
// ..., "bed": [...]}]} or {"error": text}.

#include "bass/data_wrappers/data_view.h"
#include "interfaces/read_alignment.h"
#include "interfaces/read_holder.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;
using interfaces::ReadAlignmentHelper;
using interfaces::ReadHolder;
using nlohmann::json;

namespace {

void put_text(ReadHolder& read, const json& spec, const char* key) {
    if (spec.contains(key)) {
        read.m_metadata.insert(key, spec.at(key).get<std::string>());
    }
}

template <typename T>
void put_cell(DataTable& table, size_t row, const std::string& field, T value) {
    std::memcpy(table.data.data() + row * table.row_size + table.field_offset(field), &value, sizeof(T));
}

DataTable alignment_table(const json& rows) {
    DataTable table = ReadAlignmentHelper::create_alignment_table(rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
        for (const auto& cell : rows[r].items()) {
            const std::string& name = cell.key();
            if (name == "Genome") {
                const std::string genome = cell.value().get<std::string>();
                std::memcpy(table.data.data() + r * table.row_size + table.field_offset(name), genome.data(),
                            std::min<size_t>(genome.size(), 253));
            } else if (name == "Direction") {
                put_cell<int8_t>(table, r, name, cell.value().get<std::string>().at(0));
            } else if (name == "IsSecondary" || name == "IsSupplementary") {
                put_cell<uint8_t>(table, r, name, cell.value().get<uint8_t>());
            } else if (name == "Coverage" || name == "Identity" || name == "Accuracy") {
                put_cell<float>(table, r, name, cell.value().get<float>());
            } else {
                put_cell<int32_t>(table, r, name, cell.value().get<int32_t>());
            }
        }
    }
    return table;
}

ReadHolder make_read(const json& spec) {
    ReadHolder read;
    put_text(read, spec, "strand_id");
    put_text(read, spec, "read_id");
    if (spec.contains("model_stride")) {
        read.m_metadata.insert("model_stride", spec.at("model_stride").get<uint64_t>());
    }
    if (spec.contains("sequence")) {
        read.m_datasets.emplace(dataset::sequence, DataView(spec.at("sequence").get<std::string>()));
    }
    if (spec.contains("qstring")) {
        read.m_datasets.emplace(dataset::qstring, DataView(spec.at("qstring").get<std::string>()));
    }
    if (spec.contains("moves")) {
        read.m_datasets.emplace(dataset::movement, DataView(spec.at("moves").get<std::vector<uint8_t>>()));
    }
    if (spec.contains("base_mod")) {
        const json& mods = spec.at("base_mod");
        read.m_metadata.insert("base_mod_alphabet", mods.at("alphabet").get<std::string>());
        read.m_metadata.insert("base_mod_long_names", mods.at("long_names").get<std::string>());
        read.m_metadata.insert("base_mod_context", mods.at("context").get<std::string>());
        std::vector<uint8_t> probs = mods.at("probs").get<std::vector<uint8_t>>();
        const uint64_t channels = mods.at("alphabet").get<std::string>().size();
        MatView<uint8_t> matrix;
        matrix.view(probs.data(), channels ? probs.size() / channels : 0, channels, channels ? channels : 1, 1);
        read.m_datasets.emplace(dataset::base_mod_probs, DataView(matrix, probs));
    }
    if (spec.contains("alignment")) {
        const json& alignment = spec.at("alignment");
        put_text(read, alignment, "alignment_sam_record");
        put_text(read, alignment, "alignment_bed_lines");
        read.m_datasets.emplace(dataset::align_results, DataView(alignment_table(alignment.at("rows"))));
    }
    return read;
}

json sam_output(const json& spec) {
    try {
        const ReadHolder read = make_read(spec);
        const auto entries = ReadAlignmentHelper::extract_sam_and_bed_lines_from_read_holder(
                read, spec.value("threshold", 0u), spec.value("with_moves", false));
        json lines = json::array();
        for (const auto& entry : entries) {
            lines.push_back({{"sam", entry.sam_line}, {"bed", entry.bed_lines}});
        }
        return {{"lines", lines}};
    } catch (const std::exception& e) {
        return {{"error", e.what()}};
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " reads.json\n";
        return 2;
    }
    std::ifstream input(argv[1]);
    if (!input) {
        std::cerr << "cannot open " << argv[1] << "\n";
        return 2;
    }
    const json reads = json::parse(input);
    json results = json::array();
    for (const json& spec : reads) {
        results.push_back(sam_output(spec));
    }
    std::cout << results.dump() << "\n";
    return 0;
}
