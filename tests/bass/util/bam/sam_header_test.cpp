// SAM header rules and SAM files.
#include "bam_test_files.h"

#include <fstream>
#include <sstream>
#include <string>

using bam_test::temp_path;
using bass::util::bam::BAMFileHandler;

namespace {

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The @HD line a handler writes into a SAM file.
std::string written_hd_line(const BAMFileHandler& handler) {
    const std::string path = temp_path("hd.sam");
    EXPECT_TRUE(handler.write_to_sam_file(path)) << handler.error_message();
    return first_line(read_text(path));
}

}  // namespace

TEST(SamHeader, AcceptsOrRefusesHeaderTextsWithTheirMessages) {
    struct Case {
        std::string text;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
            {"@HD\tVN:1.6\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000\n", ""},
            {"@HD\tVN:1.6\tSO:coordinate\tSS:coordinate:foo", ""},
            {"@HD\tVN:1.5\tSO:coordinate\tSS:coordinate:foo",
             "Unsupported 'SS' field encountered in @HD header line with VN < 1.6: "},
            {"@HD\tVN:1.4\tGO:query", "Unsupported 'GO' field encountered in @HD header line with VN < 1.5: "},
            {"@HD\tVN:1.6\tSO:coordinate\tGO:query",
             "Mutually exclusive 'SO' and 'GO' fields encountered in @HD header line: "},
            {"@HD\tVN:1.6\tSO:sideways", "Invalid 'SO' field 'sideways' encountered in @HD header line: "},
            {"@HD\tVN:1.6\tGO:sideways", "Invalid 'GO' field 'sideways' encountered in @HD header line: "},
            {"@HD\tSO:coordinate", "Mandatory 'VN' field not found in @HD header line: "},
            {"@HD\tVN:\tSO:coordinate", "Mandatory 'VN' field not found in @HD header line: "},
            {"@HD\tVN:1.6\tXX:1", "Invalid field 'XX:1' encountered in @HD header line: "},
            {"@HD\tVN:1.0", ""},
            {"@HD\tVN:1", "Invalid 'VN' field '1' encountered in @HD header line: "},
            {"@HD\tVN:1.6.1", "Invalid 'VN' field '1.6.1' encountered in @HD header line: "},
            {"@HD\tVN:2.0", "Invalid 'VN' field '2.0' encountered in @HD header line: "},
            {"@HD\tVN:abc", "Invalid 'VN' field 'abc' encountered in @HD header line: "},
            {"@HD\tVN:1.-1", "Invalid 'VN' field '1.-1' encountered in @HD header line: "},
            {"@HD\tVN:1.2\n@RG\tID:a", "Unsupported '@RG' line encountered in @HD header line with VN < 1.3: "},
            {"@HD\tVN:1.3\n@RG\tID:a\n@PG\tID:p\n@CO\tfree text", ""},
            {"@SQ\tSN:chr1\tLN:5\n@HD\tVN:1.6", "@HD lines encountered after first header line: "},
            {"@HD\tVN:1.6\tSO:unsorted\n@HD\tVN:1.6", "Multiple @HD lines encountered in header line: "},
            {"@HD\tVN:1.6\n@HD\tVN:1.6", "Multiple @HD lines encountered in header line: "},
            {"@SQ\tSN:chr1", "Malformed @SQ line encountered in header lines: "},
            {"@SQ\tLN:10", "Malformed @SQ line encountered in header lines: "},
            {"@SQ\tSN:chr1\tLN:0", "Malformed @SQ line encountered in header lines: "},
            {"@SQ\tSN:chr1\tLN:10\tM5:abc", ""},
            {"@SQ\tSN:chr1\tLN:10\n@SQ\tSN:chr1\tLN:20", "Duplicate @SQ name 'chr1' encountered in header lines: "},
            {"@SQ SN:chr1 LN:10", "Malformed @SQ line encountered in header lines: "},
            {"@SQ\tSN:chr1\tLN:10\t", "Malformed @SQ line encountered in header lines: "},
            {"@SQ\tSN:chr1\t\tLN:10", "Malformed @SQ line encountered in header lines: "},
            {"@SQ\tSN:chr1\tLN:10\tfoo", "Malformed @SQ line encountered in header lines: "},
            {"@HD VN:1.6", "Malformed @HD line encountered in header lines: "},
            {"@RG\tID:a\tX:1", "Malformed @RG line encountered in header lines: "},
            {"@RG\tID:a\tDS:two words", ""},
            {"@RG\tSM:x", "Mandatory 'ID' field not found in @RG header line: "},
            {"@PG\tPN:x\tDS:ID:x", "Mandatory 'ID' field not found in @PG header line: "},
            {"@CO free text", "Malformed @CO line encountered in header lines: "},
            {"@CO", ""},
            {"@XY\tfoo", "Invalid line encountered in header lines: @XY\tfoo"},
            {"@CO\ta\n\n@CO\tb", "Invalid line encountered in header lines: "},
    };
    for (const Case& c : cases) {
        BAMFileHandler handler;
        const bool accepted = handler.add_header_lines(c.text);
        EXPECT_EQ(accepted, c.error.empty()) << c.text;
        if (!c.error.empty()) {
            EXPECT_EQ(handler.error_message().rfind(c.error, 0), 0u) << handler.error_message();
        }
    }
}

TEST(SamHeader, AcceptedTextIsKeptAsGivenWithAFinalLineEnd) {
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines("@HD\tVN:1.6\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000"));
    std::string header;
    handler.get_header(header);
    EXPECT_EQ(header, "@HD\tVN:1.6\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000\n");
    EXPECT_EQ(written_hd_line(handler), "@HD\tVN:1.6\tSO:coordinate");
    EXPECT_TRUE(handler.add_alignment_sam("r\t0\tchr1\t5\t60\t2M\t*\t0\t0\tAC\t!!"));  // chr1 is known
}

TEST(SamHeader, AFailedCallCommitsNothing) {
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines("@SQ\tSN:chr1\tLN:1000\n"));
    EXPECT_FALSE(handler.add_header_lines("@SQ\tSN:chr2\tLN:50\n@CO\tc\n@XY\tbad"));
    EXPECT_THROW(handler.add_header_lines("@SQ\tSN:chr3\tLN:abc"), std::invalid_argument);

    std::string header;
    handler.get_header(header);
    EXPECT_EQ(header, "@SQ\tSN:chr1\tLN:1000\n");
    // chr2 and chr3 were not added, or adding them now would be refused as
    // duplicates.
    EXPECT_TRUE(handler.add_header_lines("@SQ\tSN:chr2\tLN:50"));
    EXPECT_TRUE(handler.add_header_lines("@SQ\tSN:chr3\tLN:60"));
}

TEST(SamHeader, SamFileReadsAndWritesBackWithoutItsEmptyLines) {
    const std::string in_path = temp_path("in.sam"), out_path = temp_path("out.sam");
    const std::string header = "@HD\tVN:1.6\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000\n@CO\tnote\n";
    const std::string lines = "a\t0\tchr1\t5\t60\t2M\t*\t0\t0\tAC\t!!\nb\t0\tchr1\t9\t60\t2M\t*\t0\t0\tGT\t##\n";
    write_text(in_path, header + "\n" + lines + "\n\n");

    BAMFileHandler handler;
    ASSERT_TRUE(handler.read_from_sam_file(in_path)) << handler.error_message();
    size_t count = 0;
    handler.get_num_alignments(count);
    EXPECT_EQ(count, 2u);
    std::string line;
    EXPECT_TRUE(handler.get_alignment_sam(1, line));
    EXPECT_EQ(line, "b\t0\tchr1\t9\t60\t2M\t*\t0\t0\tGT\t##");
    EXPECT_FALSE(handler.get_alignment_sam(2, line));
    EXPECT_EQ(handler.error_message(), "alignment sam index out of range!");

    ASSERT_TRUE(handler.write_to_sam_file(out_path));
    EXPECT_EQ(read_text(out_path), header + lines);
}

TEST(SamHeader, SamFileErrorsNameTheFileAndTheLine) {
    BAMFileHandler handler;
    const std::string missing = temp_path("missing.sam");
    EXPECT_FALSE(handler.read_from_sam_file(missing));
    EXPECT_EQ(handler.error_message(), "Cannot open file " + missing);

    const std::string path = temp_path("bad.sam");
    write_text(path, "@HD\tVN:1.6\nr\t0\t*\t0\t0\t*\t*\t0\t0\tACGx\t*\n");
    EXPECT_FALSE(handler.read_from_sam_file(path));
    EXPECT_EQ(handler.error_message(), "Could not parse alignment from SAM file " + path +
                                               " : Sam to Bam parsing failed: Invalid sequence code detected");
    write_text(path, "@HD\tVN:1.6\n@HD\tVN:1.6\n");
    EXPECT_FALSE(handler.read_from_sam_file(path));
    EXPECT_EQ(handler.error_message().rfind("Could not parse header from SAM file " + path + " : Multiple", 0), 0u);

    EXPECT_FALSE(handler.write_to_sam_file(temp_path("no_such_dir/out.sam")));
    EXPECT_EQ(handler.error_message(), "Cannot open SAM file : " + temp_path("no_such_dir/out.sam"));
    EXPECT_FALSE(handler.write_to_sam_file("/dev/full"));
    EXPECT_EQ(handler.error_message(), "Error while writing SAM file /dev/full");
}

// The @HD line written with the records says the order they are really in.
TEST(SamHeader, WrittenHdLineFollowsTheRecords) {
    const std::string sorted_lines[] = {"a\t0\tchr1\t5\t60\t2M\t*\t0\t0\tAC\t!!",
                                        "b\t0\tchr1\t9\t60\t2M\t*\t0\t0\tAC\t!!"};
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines("@HD\tVN:1.5\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000"));
    for (const std::string& line : sorted_lines) {
        ASSERT_TRUE(handler.add_alignment_sam(line));
    }
    EXPECT_EQ(written_hd_line(handler), "@HD\tVN:1.5\tSO:coordinate");  // still true
    ASSERT_TRUE(handler.add_alignment_sam("c\t0\tchr1\t2\t60\t2M\t*\t0\t0\tAC\t!!"));
    EXPECT_EQ(written_hd_line(handler), "@HD\tVN:1.5\tSO:unknown");  // no longer true
    handler.sort();
    EXPECT_EQ(written_hd_line(handler), "@HD\tVN:1.5\tSO:coordinate");

    BAMFileHandler unsorted;
    ASSERT_TRUE(unsorted.add_header_lines("@HD\tVN:1.6\tSO:unsorted\n@SQ\tSN:chr1\tLN:1000"));
    ASSERT_TRUE(unsorted.add_alignment_sam("c\t0\tchr1\t2\t60\t2M\t*\t0\t0\tAC\t!!"));
    EXPECT_EQ(written_hd_line(unsorted), "@HD\tVN:1.6\tSO:unsorted");
    unsorted.sort();
    EXPECT_EQ(written_hd_line(unsorted), "@HD\tVN:1.6\tSO:coordinate");

    BAMFileHandler bare;  // no header at all: one is written once the records are sorted
    ASSERT_TRUE(bare.add_alignment_sam("c\t4\t*\t0\t0\t*\t*\t0\t0\tAC\t!!"));
    EXPECT_EQ(written_hd_line(bare), "c\t4\t*\t0\t0\t*\t*\t0\t0\tAC\t!!");
    bare.sort();
    EXPECT_EQ(written_hd_line(bare), "@HD\tVN:1.6\tSO:coordinate");
}

// A transcriptome-sized reference list, where a search through the list per
// record would take hours: names are found at their place in the list, a
// refused header call adds none, and a BAM file's list replaces the header's.
TEST(SamHeader, ReferencesAreFoundByNameAmongHundredsOfThousands) {
    constexpr int n = 400000;
    auto name = [](int r) { return "tx" + std::to_string(r); };
    std::string header;
    for (int r = 0; r < n; ++r) {
        header += "@SQ\tSN:" + name(r) + "\tLN:1000\n";
    }
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines(header));
    EXPECT_FALSE(handler.add_header_lines("@SQ\tSN:late\tLN:5\n@SQ\tSN:" + name(7) + "\tLN:5"));

    auto ids = [](BAMFileHandler& h, const std::string& rname, const std::string& rnext) {
        BAMFileHandler::BamRecord record;
        EXPECT_TRUE(
                h.parse_sam_line_to_bam_record("r\t0\t" + rname + "\t1\t60\t1M\t" + rnext + "\t1\t0\tA\t*", record));
        return std::make_pair(record.ref_id, record.next_ref_id);
    };
    EXPECT_EQ(ids(handler, name(n - 1), name(0)), std::make_pair(n - 1, 0));
    EXPECT_EQ(ids(handler, "late", "="), std::make_pair(-1, -1));

    constexpr int records = 150000;
    for (int i = 0; i < records; ++i) {
        ASSERT_TRUE(handler.add_alignment_sam("r" + std::to_string(i) + "\t0\t" + name(n - 1) + "\t" +
                                              std::to_string(i + 1) + "\t60\t1M\t*\t0\t0\tA\t*"));
    }
    const std::string path = temp_path("many_references.bam");
    ASSERT_TRUE(handler.write_to_bam_file(path, false)) << handler.error_message();
    BAMFileHandler reader;
    ASSERT_TRUE(reader.read_from_bam_file(path)) << reader.error_message();
    std::string line;
    ASSERT_TRUE(reader.get_alignment_sam(records - 1, line));
    EXPECT_EQ(line, "r149999\t0\t" + name(n - 1) + "\t150000\t60\t1M\t*\t0\t0\tA\t*");
    EXPECT_EQ(ids(reader, name(n - 1), name(n / 2)), std::make_pair(n - 1, n / 2));
}
