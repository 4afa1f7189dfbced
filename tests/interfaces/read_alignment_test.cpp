#include "interfaces/read_alignment.h"

#include "bass/data_wrappers/data_view.h"
#include "interfaces/read_holder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;
using interfaces::ReadAlignmentHelper;
using interfaces::ReadHolder;

namespace {

// The alignment row as a C struct: the table's layout must match it byte for
// byte, since the Python module reads rows as this record.
struct AlignRow {
    char genome[254];
    int8_t direction;
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
    int32_t strand_score;
    int32_t bed_hits;
    int32_t mapping_quality;
    uint8_t is_secondary;
    uint8_t is_supplementary;
};

AlignRow row(const char* genome, int32_t start, int32_t bed_hits = 0) {
    AlignRow r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.genome, genome, sizeof r.genome - 1);
    r.direction = '+';
    r.genome_start = start;
    r.bed_hits = bed_hits;
    return r;
}

void store_rows(ReadHolder& read, const std::vector<AlignRow>& rows) {
    DataTable table = ReadAlignmentHelper::create_alignment_table(rows.size());
    if (!rows.empty()) {
        std::memcpy(table.data.data(), rows.data(), rows.size() * sizeof(AlignRow));
    }
    read.m_datasets.emplace(dataset::align_results, DataView(std::move(table)));
}

ReadHolder unaligned_read(const std::string& sequence = "ACGTC") {
    ReadHolder read;
    read.m_metadata.insert("strand_id", std::string("strand_7"));
    read.m_metadata.insert("read_id", std::string("read_7"));
    read.m_metadata.insert("model_stride", uint64_t(5));
    read.m_datasets.emplace(dataset::sequence, DataView(std::string(sequence)));
    read.m_datasets.emplace(dataset::qstring, DataView(std::string(sequence.size(), '5')));
    return read;
}

void add_modifications(ReadHolder& read, std::vector<uint8_t> probs) {
    read.m_metadata.insert("base_mod_alphabet", std::string("ACmGT"));
    read.m_metadata.insert("base_mod_long_names", std::string("5mC"));
    MatView<uint8_t> matrix;
    matrix.view(probs.data(), probs.size() / 5, 5, 5, 1);
    read.m_datasets.emplace(dataset::base_mod_probs, DataView(matrix, probs));
}

std::string server_line(const std::string& name, const std::string& genome) {
    return name + "\t0\t" + genome + "\t11\t60\t5M\t*\t0\t0\tACGTC\t55555";
}

std::vector<ReadAlignmentHelper::AlignmentSamLine> sam_lines(const ReadHolder& read,
                                                             uint8_t threshold = 0,
                                                             bool with_moves = true) {
    return ReadAlignmentHelper::extract_sam_and_bed_lines_from_read_holder(read, threshold, with_moves);
}

template <typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

}  // namespace

TEST(AlignmentTable, LayoutMatchesTheRecordStructByteForByte) {
    static_assert(sizeof(AlignRow) == 320, "oracle struct must be one row");
    const DataTable table = ReadAlignmentHelper::create_alignment_table(3);
    const std::pair<const char*, size_t> expected[] = {
            {"Genome", offsetof(AlignRow, genome)},
            {"Direction", offsetof(AlignRow, direction)},
            {"GenomeStart", offsetof(AlignRow, genome_start)},
            {"GenomeEnd", offsetof(AlignRow, genome_end)},
            {"StrandStart", offsetof(AlignRow, strand_start)},
            {"StrandEnd", offsetof(AlignRow, strand_end)},
            {"NumEvents", offsetof(AlignRow, num_events)},
            {"NumInsertions", offsetof(AlignRow, num_insertions)},
            {"NumDeletions", offsetof(AlignRow, num_deletions)},
            {"NumAligned", offsetof(AlignRow, num_aligned)},
            {"NumCorrect", offsetof(AlignRow, num_correct)},
            {"Coverage", offsetof(AlignRow, coverage)},
            {"Identity", offsetof(AlignRow, identity)},
            {"Accuracy", offsetof(AlignRow, accuracy)},
            {"StrandScore", offsetof(AlignRow, strand_score)},
            {"BedHits", offsetof(AlignRow, bed_hits)},
            {"MappingQuality", offsetof(AlignRow, mapping_quality)},
            {"IsSecondary", offsetof(AlignRow, is_secondary)},
            {"IsSupplementary", offsetof(AlignRow, is_supplementary)},
    };
    ASSERT_EQ(table.fields.size(), 19u);
    for (size_t i = 0; i < 19; ++i) {
        EXPECT_EQ(table.fields[i].name, expected[i].first);
        EXPECT_EQ(table.fields[i].offset, expected[i].second) << expected[i].first;
    }
    EXPECT_EQ(table.fields[0].type, DataSetType::fixed_string);
    EXPECT_EQ(table.fields[0].size, 253u);
    EXPECT_EQ(table.fields[1].type, DataSetType::int8);
    EXPECT_EQ(table.fields[11].type, DataSetType::float32);
    EXPECT_EQ(table.fields[15].type, DataSetType::int32);
    EXPECT_EQ(table.fields[18].type, DataSetType::uint8);
    EXPECT_EQ(table.row_size, sizeof(AlignRow));
    EXPECT_EQ(table.num_rows, 3u);
    EXPECT_EQ(table.data, std::vector<uint8_t>(960, 0));

    const DataTable empty = ReadAlignmentHelper::create_alignment_table(0);
    EXPECT_EQ(empty.fields.size(), 19u);
    EXPECT_EQ(empty.row_size, 320u);
    EXPECT_TRUE(empty.data.empty());
}

TEST(AlignmentTable, CopyFromReadNeedsATableOf320ByteRows) {
    ReadHolder read;
    EXPECT_FALSE(ReadAlignmentHelper::read_holder_contains_alignment_data(read));
    EXPECT_EQ(error_of([&] { ReadAlignmentHelper::create_alignment_table_from_read_holder(read); }),
              "Could not find align results in read holder");

    read.m_datasets.emplace(dataset::align_results, DataView(std::vector<uint8_t>(640, 0)));
    EXPECT_TRUE(ReadAlignmentHelper::read_holder_contains_alignment_data(read));
    EXPECT_EQ(error_of([&] { ReadAlignmentHelper::create_alignment_table_from_read_holder(read); }),
              "Align results dataset is not a table.");

    // A table of another layout would have its bytes copied by the wrong row size.
    DataTable narrow;
    narrow.add_field("BedHits", DataSetType::int32);
    narrow.row_size = 8;
    narrow.num_rows = 2;
    narrow.data.assign(16, 0);
    ReadHolder other;
    other.m_datasets.emplace(dataset::align_results, DataView(std::move(narrow)));
    EXPECT_EQ(error_of([&] { ReadAlignmentHelper::create_alignment_table_from_read_holder(other); }),
              "Align results table has rows of 8 bytes, expected 320.");
    EXPECT_THROW(sam_lines(other), std::runtime_error);
    EXPECT_THROW(ReadAlignmentHelper::copy_alignment_results_to_metadata(other), std::runtime_error);

    // Right row size, but a column of another type than the layout's.
    const DataTable proper = ReadAlignmentHelper::create_alignment_table(1);
    DataTable retyped;
    for (const auto& field : proper.fields) {
        retyped.add_field(field.name, field.name == "BedHits" ? DataSetType::float32 : field.type, field.size);
    }
    retyped.row_size = 320;
    retyped.num_rows = 1;
    retyped.data.assign(320, 0);
    ReadHolder mistyped;
    mistyped.m_datasets.emplace(dataset::align_results, DataView(std::move(retyped)));
    EXPECT_EQ(error_of([&] { ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(mistyped); }),
              "Alignment table field 'BedHits' does not have the alignment layout.");

    // A row count beyond the bytes the table holds.
    DataTable short_table = ReadAlignmentHelper::create_alignment_table(1);
    short_table.num_rows = 1000;
    ReadHolder inflated;
    inflated.m_datasets.emplace(dataset::align_results, DataView(std::move(short_table)));
    EXPECT_EQ(error_of([&] { ReadAlignmentHelper::create_alignment_table_from_read_holder(inflated); }),
              "Align results table holds fewer bytes than its rows.");
}

TEST(AlignmentSummary, FirstRowAndCountsGoIntoMetadata) {
    AlignRow first = row("chr_first", 100, 2);
    first.direction = '-';
    first.genome_end = 150;
    first.strand_start = 1;
    first.strand_end = 51;
    first.num_events = 60;
    first.num_insertions = 3;
    first.num_deletions = 4;
    first.num_aligned = 47;
    first.num_correct = 45;
    first.coverage = 0.25f;
    first.identity = 0.5f;
    first.accuracy = 0.75f;
    first.strand_score = 88;
    first.mapping_quality = 60;
    AlignRow none = row("", 0);
    none.is_secondary = 1;
    AlignRow third = row("chr3", 5);
    third.is_secondary = 7;
    third.is_supplementary = 1;

    ReadHolder read;
    read.m_metadata.insert("alignment_genome", std::string("stale"));
    store_rows(read, {first, none, third});
    ReadAlignmentHelper::copy_alignment_results_to_metadata(read);

    const auto& md = read.m_metadata;
    EXPECT_EQ(md.get_value<std::string>("alignment_genome"), "chr_first");
    EXPECT_EQ(md.get_value<std::string>("alignment_direction"), "-");
    EXPECT_EQ(md.get_value<int32_t>("alignment_genome_start"), 100);
    EXPECT_EQ(md.get_value<int32_t>("alignment_genome_end"), 150);
    EXPECT_EQ(md.get_value<int32_t>("alignment_strand_start"), 1);
    EXPECT_EQ(md.get_value<int32_t>("alignment_strand_end"), 51);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_events"), 60);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_insertions"), 3);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_deletions"), 4);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_aligned"), 47);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_correct"), 45);
    EXPECT_EQ(md.get_value<float>("alignment_coverage"), 0.25f);
    EXPECT_EQ(md.get_value<float>("alignment_identity"), 0.5f);
    EXPECT_EQ(md.get_value<float>("alignment_accuracy"), 0.75f);
    EXPECT_EQ(md.get_value<int32_t>("alignment_score"), 88);
    EXPECT_EQ(md.get_value<int32_t>("alignment_mapping_quality"), 60);
    EXPECT_EQ(md.get_value<int32_t>("alignment_bed_hits"), 2);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_alignments"), 2);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_secondary_alignments"), 2);
    EXPECT_EQ(md.get_value<int32_t>("alignment_num_supplementary_alignments"), 1);
}

TEST(AlignmentSummary, GenomeNameStopsAtTheEndOfItsField) {
    // A name without NUL that fills the field and its terminator slot, with a
    // printable direction byte right after it.
    AlignRow full = row("", 1);
    std::memset(full.genome, 'g', sizeof full.genome);
    full.direction = 'h';
    ReadHolder read;
    store_rows(read, {full});
    ReadAlignmentHelper::copy_alignment_results_to_metadata(read);
    EXPECT_EQ(read.m_metadata.get_value<std::string>("alignment_genome"), std::string(253, 'g'));
}

TEST(AlignmentSummary, TableWithoutRowsGivesZeroCountsAndNoFirstRow) {
    ReadHolder read;
    store_rows(read, {});
    ReadAlignmentHelper::copy_alignment_results_to_metadata(read);
    EXPECT_FALSE(read.m_metadata.exists("alignment_genome"));
    EXPECT_EQ(read.m_metadata.get_value<int32_t>("alignment_num_alignments"), 0);
    EXPECT_EQ(read.m_metadata.get_value<int32_t>("alignment_num_secondary_alignments"), 0);
    EXPECT_EQ(read.m_metadata.get_value<int32_t>("alignment_num_supplementary_alignments"), 0);

    ReadHolder absent;
    EXPECT_EQ(error_of([&] { ReadAlignmentHelper::copy_alignment_results_to_metadata(absent); }),
              "Could not find align results in read holder");
}

TEST(AlignmentLines, BedLinesAreHandedOutByEachRowsBedHits) {
    ReadHolder read;
    store_rows(read, {row("chr1", 1, 2), row("chr1", 2, 0), row("chr1", 3, -4)});
    read.m_metadata.insert("alignment_sam_record", std::string("s1\ns2\ns3\n"));
    read.m_metadata.insert("alignment_bed_lines", std::string("b1\nb2\nb3\n"));
    const auto entries = ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(read);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].sam_line, "s1");
    EXPECT_EQ(entries[0].bed_lines, (std::vector<std::string>{"b1", "b2"}));
    EXPECT_EQ(entries[1].sam_line, "s2");
    EXPECT_TRUE(entries[1].bed_lines.empty());
    EXPECT_EQ(entries[2].sam_line, "s3");
    EXPECT_TRUE(entries[2].bed_lines.empty());

    EXPECT_TRUE(ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(ReadHolder()).empty());
}

TEST(AlignmentLines, MissingLinesAreEmptyAndHugeBedHitsStayWithinTheText) {
    ReadHolder read;
    store_rows(read, {row("chr1", 1, INT32_MAX), row("chr1", 2, 1)});
    read.m_metadata.insert("alignment_sam_record", std::string("only"));
    read.m_metadata.insert("alignment_bed_lines", std::string("b1\n\nb3"));
    const auto entries = ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(read);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].sam_line, "only");
    EXPECT_EQ(entries[0].bed_lines, (std::vector<std::string>{"b1", "", "b3"}));
    EXPECT_EQ(entries[1].sam_line, "");
    EXPECT_TRUE(entries[1].bed_lines.empty());
}

TEST(SamOutput, UnalignedReadGetsOneUnmappedLine) {
    const ReadHolder read = unaligned_read();
    const auto entries = sam_lines(read);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].sam_line, "strand_7\t4\t*\t0\t0\t*\t*\t0\t5\tACGTC\t55555");
    EXPECT_TRUE(entries[0].bed_lines.empty());
}

TEST(SamOutput, UnalignedReadNeedsNameSequenceAndQualities) {
    ReadHolder nameless = unaligned_read();
    nameless.m_metadata.remove("strand_id");
    EXPECT_EQ(error_of([&] { sam_lines(nameless); }), "Key 'strand_id' not found.");

    ReadHolder no_sequence = unaligned_read();
    no_sequence.m_datasets.erase(dataset::sequence);
    EXPECT_EQ(error_of([&] { sam_lines(no_sequence); }),
              "Read read_7 does not contain a sequence! Cannot generate SAM line.");

    ReadHolder no_qstring = unaligned_read();
    no_qstring.m_datasets.erase(dataset::qstring);
    EXPECT_EQ(error_of([&] { sam_lines(no_qstring); }),
              "Read read_7 does not contain a qstring! Cannot generate SAM line.");

    ReadHolder numeric_sequence = unaligned_read();
    numeric_sequence.m_datasets.erase(dataset::sequence);
    numeric_sequence.m_datasets.emplace(dataset::sequence, DataView(std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(error_of([&] { sam_lines(numeric_sequence); }), "Data does not view string data.");

    ReadHolder short_qstring = unaligned_read();
    short_qstring.m_datasets.erase(dataset::qstring);
    short_qstring.m_datasets.emplace(dataset::qstring, DataView(std::string("55")));
    EXPECT_EQ(error_of([&] { sam_lines(short_qstring); }),
              "make_unmapped_sam_line failed: sequence and qscore do not match size!");

    ReadHolder tabbed = unaligned_read();
    tabbed.m_metadata.insert("strand_id", std::string("a\tb"));
    EXPECT_EQ(error_of([&] { sam_lines(tabbed); }),
              "make_unmapped_sam_line failed: read_name contains a tab or line break!");
}

TEST(SamOutput, AlignedReadKeepsServerLinesAndTagsOnlyTheFirst) {
    ReadHolder read = unaligned_read();
    store_rows(read, {row("chr1", 11, 1), row("chr2", 40, 1)});
    const std::string first = server_line("strand_7", "chr1");
    const std::string second = server_line("strand_7", "chr2");
    read.m_metadata.insert("alignment_sam_record", first + "\n" + second + "\n");
    read.m_metadata.insert("alignment_bed_lines", std::string("chr1\t10\t15\nchr2\t39\t44\n"));
    add_modifications(read, {0, 0, 0, 0, 0, 0, 0, 77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0});
    read.m_datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{1, 0, 200}));

    const auto entries = sam_lines(read, 50);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].sam_line, first + "\tMm:Z:C+m,0;\tMl:B:C,77\tmv:B:c,5,1,0,127,73");
    EXPECT_EQ(entries[0].bed_lines, (std::vector<std::string>{"chr1\t10\t15"}));
    EXPECT_EQ(entries[1].sam_line, second);
    EXPECT_EQ(entries[1].bed_lines, (std::vector<std::string>{"chr2\t39\t44"}));

    const auto without_moves = sam_lines(read, 50, false);
    EXPECT_EQ(without_moves[0].sam_line, first + "\tMm:Z:C+m,0;\tMl:B:C,77");
}

TEST(SamOutput, UnplacedServerLineFallsBackToTheUnmappedLine) {
    ReadHolder read = unaligned_read();
    store_rows(read, {row("", 0, 1)});
    read.m_metadata.insert("alignment_sam_record", server_line("strand_7", "*") + "\n");
    read.m_metadata.insert("alignment_bed_lines", std::string("ignored\n"));
    read.m_datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{1, 1}));
    const auto entries = sam_lines(read);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].sam_line, "strand_7\t4\t*\t0\t0\t*\t*\t0\t5\tACGTC\t55555\tmv:B:c,5,1,1");
    EXPECT_TRUE(entries[0].bed_lines.empty());
}

TEST(SamOutput, FirstServerLineNeedsElevenColumns) {
    const std::string ten_tabs = "q\t0\tchr1\t1\t60\t5M\t*\t0\t0\tACGTC\t55555";
    const std::string nine_tabs = "q\t0\tchr1\t1\t60\t5M\t*\t0\t0\tACGTC";

    ReadHolder good = unaligned_read();
    store_rows(good, {row("chr1", 1)});
    good.m_metadata.insert("alignment_sam_record", ten_tabs);
    EXPECT_EQ(sam_lines(good)[0].sam_line, ten_tabs);

    ReadHolder bad = unaligned_read();
    store_rows(bad, {row("chr1", 1)});
    bad.m_metadata.insert("alignment_sam_record", nine_tabs);
    EXPECT_EQ(error_of([&] { sam_lines(bad); }), "Malformed alignment SAM line: \n" + nine_tabs);

    // A table without any SAM text has an empty first line.
    ReadHolder textless = unaligned_read();
    store_rows(textless, {row("chr1", 1)});
    EXPECT_EQ(error_of([&] { sam_lines(textless); }), "Malformed alignment SAM line: \n");

    // A table without rows is no alignment.
    ReadHolder rowless = unaligned_read();
    store_rows(rowless, {});
    EXPECT_EQ(sam_lines(rowless)[0].sam_line, "strand_7\t4\t*\t0\t0\t*\t*\t0\t5\tACGTC\t55555");
}

TEST(SamOutput, MoveTagNeedsMovesAndAStrideThatFitsASignedByte) {
    ReadHolder empty_moves = unaligned_read();
    empty_moves.m_datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{}));
    EXPECT_EQ(sam_lines(empty_moves)[0].sam_line.find("mv:"), std::string::npos);

    ReadHolder fits = unaligned_read();
    fits.m_metadata.insert("model_stride", uint64_t(127));
    fits.m_datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{1}));
    EXPECT_NE(sam_lines(fits)[0].sam_line.find("\tmv:B:c,127,1"), std::string::npos);

    for (uint64_t stride : {uint64_t(128), uint64_t(255), uint64_t(261)}) {
        ReadHolder wide = unaligned_read();
        wide.m_metadata.insert("model_stride", stride);
        wide.m_datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{1}));
        EXPECT_EQ(sam_lines(wide)[0].sam_line.find("mv:"), std::string::npos) << stride;
    }

    ReadHolder strideless = unaligned_read();
    strideless.m_metadata.remove("model_stride");
    strideless.m_datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{1}));
    EXPECT_EQ(error_of([&] { sam_lines(strideless); }), "Key 'model_stride' not found.");
    EXPECT_NO_THROW(sam_lines(strideless, 0, false));

    ReadHolder float_moves = unaligned_read();
    float_moves.m_datasets.emplace(dataset::movement, DataView(std::vector<float>{1.0f}));
    EXPECT_EQ(error_of([&] { sam_lines(float_moves); }), "Invalid array type requested.");
}

TEST(SamOutput, BaseModificationFailuresNameTheBuilder) {
    ReadHolder short_probs = unaligned_read();
    add_modifications(short_probs, std::vector<uint8_t>(20, 0));
    EXPECT_EQ(error_of([&] { sam_lines(short_probs); }),
              "generate_modbase_string failed: Mismatch between modbase_probs size and sequence "
              "length * num channels in modbase_alphabet!");

    ReadHolder float_probs = unaligned_read();
    float_probs.m_datasets.emplace(dataset::base_mod_probs, DataView(std::vector<float>(25, 0.f)));
    EXPECT_EQ(error_of([&] { sam_lines(float_probs); }), "Invalid array type requested.");

    // Absent metadata counts as empty: no alphabet means no channels.
    ReadHolder bare = unaligned_read("");
    bare.m_datasets.emplace(dataset::base_mod_probs, DataView(std::vector<uint8_t>{}));
    EXPECT_EQ(sam_lines(bare)[0].sam_line, "strand_7\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*\tMm:Z:\tMl:B:C");
}
