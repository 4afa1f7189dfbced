// SAM alignment lines to records and back.
#include "bam_test_files.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

using bam_test::BAMFileHandler;
using Record = BAMFileHandler::BamRecord;

namespace {

const std::string HEADER = "@HD\tVN:1.6\n@SQ\tSN:chr1\tLN:100000\n@SQ\tSN:chr2\tLN:5000\n";

std::string columns(const std::string& rest) {
    return "r1\t0\tchr1\t100\t60\t" + rest;
}

// The line rebuilt from the record parsed out of it.
std::string rebuilt(BAMFileHandler& handler, const std::string& line) {
    Record record;
    EXPECT_TRUE(handler.parse_sam_line_to_bam_record(line, record)) << handler.error_message();
    record.sam_line.clear();
    EXPECT_TRUE(handler.update_sam_line(record)) << handler.error_message();
    return record.sam_line;
}

}  // namespace

TEST(SamLine, UnmappedReadParsesToTheBamFieldsAndRebuildsUnchanged) {
    BAMFileHandler handler;
    const std::string line = "r1\t4\t*\t0\t0\t*\t*\t0\t0\tACGT\t!!!!";
    Record record;
    ASSERT_TRUE(handler.parse_sam_line_to_bam_record(line, record));
    EXPECT_EQ(record.ref_id, -1);
    EXPECT_EQ(record.pos, -1);
    EXPECT_EQ(record.ref_length, 1u);
    EXPECT_EQ(record.bin, 4680);
    EXPECT_EQ(record.l_seq, 4);
    EXPECT_EQ(record.seq, (std::vector<uint8_t>{0x12, 0x48}));
    EXPECT_EQ(record.qual, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(rebuilt(handler, line), line);
}

TEST(SamLine, CigarPacksOperationsAndCountsReferenceBases) {
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines(HEADER));
    Record record;
    ASSERT_TRUE(handler.parse_sam_line_to_bam_record("r\t0\tchr2\t10\t60\t5S10M2D3N4I\t=\t1\t0\tAAAAAAAAAAAAAAAAAAA\t*",
                                                     record));
    EXPECT_EQ(record.cigar, (std::vector<uint32_t>{5 << 4 | 4, 10 << 4 | 0, 2 << 4 | 2, 3 << 4 | 3, 4 << 4 | 1}));
    EXPECT_EQ(record.ref_length, 15u);
    EXPECT_EQ(record.ref_id, 1);
    EXPECT_EQ(record.next_ref_id, 1);
    EXPECT_EQ(record.qual, std::vector<uint8_t>(19, 0xFF));
}

// Lines whose rebuilt text differs from the input only where the record
// normalises it; every value keeps its meaning.
TEST(SamLine, RebuiltLinesKeepEveryValue) {
    struct Case {
        std::string input;
        std::string expected;  // empty: the input unchanged
    };
    const Case cases[] = {
            {columns("4M\t*\t0\t0\tACGU\t*"), columns("4M\t*\t0\t0\tACGT\t*")},
            {columns("4M\tchr1\t150\t54\tACGT\t+,-.\tXa:A:q\tXh:H:1AE3\tXz:Z:two words"),
             columns("4M\t=\t150\t54\tACGT\t+,-.\tXa:A:q\tXh:H:1AE3\tXz:Z:two words")},
            {columns("*\tchr2\t7\t-3\tN\t!\tXi:i:-2147483648\tXu:i:4294967295"), ""},
            {columns("*\t*\t0\t0\t*\t*\tXf:f:3.0\tXg:f:0.25\tXs:f:-1e-07\tXt:f:1e-40\tXp:f:0.1234567"),
             columns("*\t*\t0\t0\t*\t*\tXf:f:3.\tXg:f:0.25\tXs:f:-1e-07\tXt:f:1e-40\tXp:f:0.1234567")},
            {columns("*\t*\t0\t0\t*\t*\tBc:B:c,-128,127\tBC:B:C,0,255\tBs:B:s,-32768\tBS:B:S,65535\t"
                     "Bi:B:i,-2147483648,7\tBI:B:I,4294967295\tBf:B:f,0.5,-2.\tBe:B:c"),
             ""},
    };
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines(HEADER));
    for (const Case& c : cases) {
        EXPECT_EQ(rebuilt(handler, c.input), c.expected.empty() ? c.input : c.expected);
        // Added to the handler, the line comes back as it was given.
        ASSERT_TRUE(handler.add_alignment_sam(c.input)) << handler.error_message();
        size_t count = 0;
        handler.get_num_alignments(count);
        std::string line;
        ASSERT_TRUE(handler.get_alignment_sam(count - 1, line));
        EXPECT_EQ(line, c.input);
    }
}

TEST(SamLine, CigarOfMoreThan65535OperationsTravelsInACgField) {
    std::string cigar;
    for (int i = 0; i < 40000; ++i) {
        cigar += "1M1I";
    }
    const std::string seq(80000, 'A');
    const std::string line = "long\t0\tchr1\t1\t60\t" + cigar + "\t*\t0\t0\t" + seq + "\t*";
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines(HEADER));
    Record record;
    ASSERT_TRUE(handler.parse_sam_line_to_bam_record(line, record));
    EXPECT_EQ(record.cigar, (std::vector<uint32_t>{80000 << 4 | 4, 40000 << 4 | 3}));
    EXPECT_EQ(record.ref_length, 40000u);
    ASSERT_EQ(record.aux.size(), 1u);
    EXPECT_EQ(record.aux[0].tag, "CG");
    EXPECT_EQ(rebuilt(handler, line), line);

    // Without SEQ the placeholder clips no bases.
    const std::string no_seq = "long\t0\tchr1\t1\t60\t" + cigar + "\t*\t0\t0\t*\t*";
    Record bare;
    ASSERT_TRUE(handler.parse_sam_line_to_bam_record(no_seq, bare));
    EXPECT_EQ(bare.cigar, (std::vector<uint32_t>{0 << 4 | 4, 40000 << 4 | 3}));
    EXPECT_EQ(rebuilt(handler, no_seq), no_seq);
}

TEST(SamLine, LinesThatCannotBePackedAreRefusedWithoutARecord) {
    struct Case {
        std::string line;
        std::string error;  // the handler's text after "Sam to Bam parsing failed: "
    };
    const Case cases[] = {
            {columns("4M\t*\t0\t0\tACGt\t*"), "Invalid sequence code detected"},
            {columns("3M\t*\t0\t0\tACa\t*"), "Invalid sequence code detected"},
            {columns("10M5Q\t*\t0\t0\t*\t*"), "Invalid cigar op detected: 'Q'"},
            {columns("10M5\t*\t0\t0\t*\t*"), "Invalid cigar op detected: ''"},
            {columns("-5M\t*\t0\t0\t*\t*"), "Invalid cigar op detected: '-'"},
            {columns("M\t*\t0\t0\t*\t*"), "Invalid cigar op length detected in 'M'"},
            {columns("268435456M\t*\t0\t0\t*\t*"), "Invalid cigar op length detected in '268435456M'"},
            {columns("4M\t*\t0\t0\tACGT\t!!!"), "QUAL length 3 does not match SEQ length 4"},
            {columns("4M\t*\t0\t0\t*\tIIII"), "QUAL length 4 does not match SEQ length 0"},
            {columns("2M\t*\t0\t0\tAC\t!\x7f"), "Invalid quality code detected"},
            {columns("2M\t*\t0\t0\tAC\t!\x01"), "Invalid quality code detected"},
            {"@r\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*", "Read name may not begin with '@': @r"},
            {"r 4 * 0 0 * * 0 0 * *", "Malformed SAM line detected"},
            {" r\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*", "Malformed SAM line detected"},
            {"r\t4\t*\t0\t0\t*\t\t*\t0\t0\t*\t*", "Malformed SAM line detected"},
            {columns("*\t*\t0\t0\t*\t*\tXa:A:"), "Invalid aux data detected: Xa:A:"},
            {columns("*\t*\t0\t0\t*\t*\tXa:A:\x01"), "Invalid aux data detected: Xa:A:\x01"},
            {columns("*\t*\t0\t0\t*\t*\tXh:H:1AE"), "Invalid aux data detected: Xh:H:1AE"},
            {std::string(255, 'n') + "\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*", "Read name longer than 254 characters: "},
            {"r\t4\t*\t0\t256\t*\t*\t0\t0\t*\t*", "Malformed SAM line detected"},
            {"r\t4\t*\t-1\t0\t*\t*\t0\t0\t*\t*", "Malformed SAM line detected"},
            {"r\t4\t*\t1x\t0\t*\t*\t0\t0\t*\t*", "Malformed SAM line detected"},
            {"r\t4\t*\t0\t0\t*\t*\t0\t0\t*", "Malformed SAM line detected"},
            {columns("*\t*\t0\t0\t*\t*\tXi:i"), "Invalid aux data detected: Xi:i"},
            {columns("*\t*\t0\t0\tAC\t!!\t"), "Invalid aux data detected: "},
            {columns("*\t*\t0\t0\t*\t*\tXa:A:q\t"), "Invalid aux data detected: "},
            {columns("*\t*\t0\t0\t*\t*\tXi-i:5"), "Invalid aux data detected: Xi-i:5"},
            {columns("*\t*\t0\t0\t*\t*\tXq:Q:5"), "Invalid auxiliary data type) 'Q' found in alignment record in "},
            {columns("*\t*\t0\t0\t*\t*\tXb:B:x,1"), "Invalid auxiliary array subtype 'x' in aux data: Xb:B:x,1"},
            {columns("*\t*\t0\t0\t*\t*\tXb:B:x"), "Invalid auxiliary array subtype 'x' in aux data: Xb:B:x"},
            {columns("*\t*\t0\t0\t*\t*\tXb:B:c5"), "Invalid aux data detected: Xb:B:c5"},
    };
    for (const Case& c : cases) {
        BAMFileHandler handler;
        ASSERT_TRUE(handler.add_header_lines(HEADER));
        EXPECT_FALSE(handler.add_alignment_sam(c.line)) << c.line;
        EXPECT_EQ(handler.error_message().rfind("Sam to Bam parsing failed: " + c.error, 0), 0u)
                << handler.error_message();
        size_t count = 1;
        handler.get_num_alignments(count);
        EXPECT_EQ(count, 0u);
    }
}

// Readers stop at a record whose CIGAR does not describe its sequence, and
// with it at every record after it. H and P consume no query, SEQ "*" has
// none to compare, and for an over-long CIGAR the real one counts.
TEST(SamLine, CigarQueryLengthMustMatchTheSequence) {
    std::string long_cigar;
    for (int i = 0; i < 40000; ++i) {
        long_cigar += "1M1I";
    }
    struct Case {
        std::string cigar;
        std::string seq;
        size_t query;  // bases the CIGAR consumes
    };
    const Case cases[] = {
            {"3M", "ACGT", 3},
            {"5M", "ACGT", 5},
            {"2H1S2M1I3D1N1P2=1X2H", "ACGTACG", 7},
            {"2H1S2M1I3D1N1P2=1X2H", "ACGTAC", 7},
            {"4M", "*", 4},
            {long_cigar, std::string(80000, 'A'), 80000},
            {long_cigar, std::string(79999, 'A'), 80000},
    };
    for (const Case& c : cases) {
        for (const char* flag : {"0", "4"}) {
            BAMFileHandler handler;
            const bool fits = c.seq == "*" || c.seq.size() == c.query;
            EXPECT_EQ(handler.add_alignment_sam("r\t" + std::string(flag) + "\t*\t0\t0\t" + c.cigar + "\t*\t0\t0\t" +
                                                c.seq + "\t*"),
                      fits)
                    << c.cigar.substr(0, 20) << " " << c.seq.size();
            if (!fits) {
                EXPECT_EQ(handler.error_message(), "Sam to Bam parsing failed: CIGAR query length " +
                                                           std::to_string(c.query) + " does not match SEQ length " +
                                                           std::to_string(c.seq.size()));
            }
        }
    }

    // A placeholder CIGAR given with its CG field is checked against the
    // real CIGAR there (48: 3M, 64: 4M).
    for (const auto& [real, fits] : {std::pair<const char*, bool>{"48", false}, {"64", true}}) {
        BAMFileHandler handler;
        EXPECT_EQ(handler.add_alignment_sam(std::string("r\t0\t*\t0\t0\t4S10N\t*\t0\t0\tACGT\t*\tCG:B:I,") + real),
                  fits)
                << handler.error_message();
    }

    // Such a record is not written, and not taken from a BAM file either.
    BAMFileHandler handler;
    Record record;
    ASSERT_TRUE(handler.parse_sam_line_to_bam_record("r\t0\t*\t0\t0\t4M\t*\t0\t0\tACGT\t*", record));
    std::vector<char> bytes;
    ASSERT_TRUE(handler.serialise_bam_record_to_buffer(record, bytes));
    record.cigar = {3 << 4};
    EXPECT_FALSE(handler.serialise_bam_record_to_buffer(record, bytes));
    const uint32_t three_matches = 3 << 4;
    std::memcpy(bytes.data() + 36 + 2, &three_matches, 4);  // the CIGAR word after the name "r"
    std::vector<char> stream = bam_test::bam_header("", {});
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    const std::string path = bam_test::temp_path("cigar_mismatch.bam");
    bam_test::write_bgzf(path, stream);
    EXPECT_FALSE(handler.read_from_bam_file(path));
    EXPECT_EQ(handler.error_message(), "SAM line generation failed: CIGAR query length 3 does not match SEQ length 4");
}

// f values keep six decimals where those hold the value to a millionth of
// it; other values, small ones above all, get the shortest text that reads
// back as the same float. B:f elements follow the same rule.
TEST(SamLine, FloatTextKeepsTheStoredValue) {
    const std::pair<std::string, std::string> cases[] = {
            {"6e-7", "6e-07"},
            {"1.5e-6", "1.5e-06"},
            {"-0.0152485", "-0.0152485"},
            {"0.1234567", "0.1234567"},
            {"3.25", "3.25"},
            {"3.0", "3."},
            {"0", "0."},
            {"0.000001", "0.000001"},
            {"123456.7", "123456.703125"},
            {"1e10", "10000000000."},
            {"1e-40", "1e-40"},
    };
    auto line = [](const std::string& f, const std::string& b) {
        return columns("*\t*\t0\t0\t*\t*\tXf:f:" + f + "\tXb:B:f," + b + "," + b);
    };
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines(HEADER));
    for (const auto& [given, written] : cases) {
        EXPECT_EQ(rebuilt(handler, line(given, given)), line(written, written));
    }
    // Across magnitudes and signs, the text reads back within a millionth.
    for (float magnitude = 1e-30f; magnitude < 1e30f; magnitude *= 1.37f) {
        for (const float value : {magnitude, -magnitude}) {
            char text[32];
            const std::string given(text, std::to_chars(text, text + sizeof text, value).ptr);
            const std::string out = rebuilt(handler, line(given, given));
            const std::string f = out.substr(out.find("Xf:f:") + 5, out.find("\tXb") - out.find("Xf:f:") - 5);
            EXPECT_LE(std::fabs(std::strtof(f.c_str(), nullptr) - value), 1e-6 * std::fabs(value)) << given << " " << f;
        }
    }
}

TEST(SamLine, OptionalValuesThatDoNotConvertThrowAndLeaveNoRecord) {
    const std::string invalid[] = {"Xi:i:abc", "Xi:i:12abc", "Xf:f:", "Xb:B:c,1,,2"};
    const std::string out_of_range[] = {"Xi:i:4294967296", "Xi:i:-2147483649", "Xf:f:1e39", "Xb:B:c,128",
                                        "Xb:B:C,-1",       "Xb:B:S,65536",     "Xb:B:I,-1"};
    BAMFileHandler handler;
    for (const std::string& field : invalid) {
        EXPECT_THROW(handler.add_alignment_sam(columns("*\t*\t0\t0\t*\t*\t" + field)), std::invalid_argument) << field;
    }
    for (const std::string& field : out_of_range) {
        EXPECT_THROW(handler.add_alignment_sam(columns("*\t*\t0\t0\t*\t*\t" + field)), std::out_of_range) << field;
    }
    size_t count = 1;
    handler.get_num_alignments(count);
    EXPECT_EQ(count, 0u);
}

TEST(SamLine, RebuildingRefusesReferenceIdsOutsideTheList) {
    BAMFileHandler handler;
    Record record;
    ASSERT_TRUE(handler.parse_sam_line_to_bam_record("r\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*", record));
    record.sam_line = "kept";
    record.next_ref_id = 0;  // no references at all
    EXPECT_FALSE(handler.update_sam_line(record));
    EXPECT_EQ(handler.error_message(), "Invalid next segment ref ID detected");
    EXPECT_EQ(record.sam_line, "kept");
}
