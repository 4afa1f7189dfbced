// BAM files: writing, sorting, reading back, and refusing broken input.
#include "bam_test_files.h"

#include <random>
#include <stdexcept>

using namespace bam_test;

namespace {

const std::string HEADER = "@SQ\tSN:chr1\tLN:1000000000\n@SQ\tSN:chr2\tLN:5000\n";

std::vector<std::string> lines_of(const BAMFileHandler& handler) {
    size_t count = 0;
    handler.get_num_alignments(count);
    std::vector<std::string> lines(count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(handler.get_alignment_sam(i, lines[i])) << handler.error_message();
    }
    return lines;
}

BAMFileHandler handler_with(const std::vector<std::string>& lines) {
    BAMFileHandler handler;
    EXPECT_TRUE(handler.add_header_lines(HEADER));
    for (const std::string& line : lines) {
        EXPECT_TRUE(handler.add_alignment_sam(line)) << handler.error_message();
    }
    return handler;
}

std::string line(const std::string& name, const std::string& rname, int pos) {
    return name + "\t0\t" + rname + "\t" + std::to_string(pos) + "\t60\t2M\t*\t0\t0\tAC\t!!";
}

std::string bam_header_text(const std::string& path) {
    const std::vector<char> stream = inflate_file(path);
    uint32_t l_text = 0;
    std::memcpy(&l_text, stream.data() + 4, 4);
    return std::string(stream.data() + 8, l_text);
}

}  // namespace

TEST(BamFile, RecordsAndHeaderComeBackAsWritten) {
    const std::vector<std::string> lines = {
            "r1\t0\tchr2\t100\t60\t3S4M1D2M1I\tchr1\t50\t-40\tACGTACGTAC\t!\"#$%&'()*\tXa:A:q\tXi:i:-5\t"
            "Xu:i:4294967295\tXf:f:0.25\tXz:Z:\tXh:H:0A1B\tXb:B:c,-1,2\tXB:B:I,4294967295\tXF:B:f,1.5",
            "r2\t4\t*\t0\t0\t*\t*\t0\t0\tAC\t*",
            "r3\t16\tchr1\t7\t0\t2M\t=\t9\t0\t*\t*",
    };
    BAMFileHandler writer = handler_with(lines);
    const std::string path = temp_path("round_trip.bam");
    ASSERT_TRUE(writer.write_to_bam_file(path, false)) << writer.error_message();
    EXPECT_EQ(bam_header_text(path), "@HD\tVN:1.6\tSO:unknown\n" + HEADER);

    BAMFileHandler reader;
    ASSERT_TRUE(reader.read_from_bam_file(path)) << reader.error_message();
    EXPECT_EQ(lines_of(reader), lines);
    std::string header;
    reader.get_header(header);
    EXPECT_EQ(header, "@HD\tVN:1.6\tSO:unknown\n" + HEADER);
}

TEST(BamFile, SortPutsUnplacedRecordsLastAndKeepsEqualOnesInOrder) {
    BAMFileHandler handler =
            handler_with({line("a", "chr2", 5), "b\t4\t*\t0\t0\t*\t*\t0\t0\tAC\t!!", line("c", "chr1", 9),
                          "d\t4\tchr1\t0\t0\t*\t*\t0\t0\tAC\t!!", line("e", "chr1", 9)});
    const std::string path = temp_path("sorted.bam");
    ASSERT_TRUE(handler.write_to_bam_file(path, true)) << handler.error_message();
    std::vector<std::string> names;
    for (const std::string& text : lines_of(handler)) {
        names.push_back(text.substr(0, 1));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"d", "c", "e", "a", "b"}));
    EXPECT_EQ(bam_header_text(path).rfind("@HD\tVN:1.6\tSO:coordinate\n", 0), 0u);
}

TEST(BamFile, AnIndexIsWrittenOnlyForRecordsReallySortedAndRefusedBeforeTruncating) {
    const std::string path = temp_path("refused.bam");
    write_bytes(path, {'o', 'l', 'd'});
    // Declared sorted, but a record added later breaks the order.
    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines("@HD\tVN:1.6\tSO:coordinate\n" + HEADER));
    ASSERT_TRUE(handler.add_alignment_sam(line("a", "chr1", 50)));
    ASSERT_TRUE(handler.add_alignment_sam(line("b", "chr1", 5)));
    const BAMFileHandler& as_const = handler;
    EXPECT_FALSE(as_const.write_to_bam_file(path, true));
    EXPECT_EQ(handler.error_message(), "Index can be written only for sorted files");
    EXPECT_EQ(read_bytes(path), (std::vector<char>{'o', 'l', 'd'}));

    // A position past what a BAI can index is refused the same way, also
    // when only the end of the alignment lies there.
    for (const std::string& text :
         {std::string("wide\t0\tchr1\t0\t60\t1M268435455D268435455D268435455D1M\t*\t0\t0\tAC\t!!"),
          line("far", "chr1", 536870912)}) {
        BAMFileHandler beyond = handler_with({text});
        EXPECT_FALSE(beyond.write_to_bam_file(path, true)) << text;
        EXPECT_NE(beyond.error_message().find("which a BAI index cannot hold"), std::string::npos);
        EXPECT_EQ(read_bytes(path), (std::vector<char>{'o', 'l', 'd'}));
    }
    BAMFileHandler far = handler_with({line("far", "chr1", 536870912)});
    EXPECT_TRUE(far.write_to_bam_file(path, false)) << far.error_message();

    // The non-const overload sorts first.
    ASSERT_TRUE(handler.write_to_bam_file(path, true)) << handler.error_message();
    EXPECT_EQ(lines_of(handler)[0], line("b", "chr1", 5));

    // A file whose header claims an order its records do not follow: the
    // claim is not passed on, and no index is built on it.
    std::vector<char> stream =
            bam_header("@HD\tVN:1.6\tSO:coordinate\n" + HEADER, {{"chr1", 1000000000}, {"chr2", 5000}});
    for (const std::string& text : {line("a", "chr1", 50), line("b", "chr1", 5)}) {
        const std::vector<char> record = record_bytes(far, text);
        stream.insert(stream.end(), record.begin(), record.end());
    }
    write_bgzf(path, stream);
    BAMFileHandler reader;
    ASSERT_TRUE(reader.read_from_bam_file(path)) << reader.error_message();
    const std::string copy = temp_path("copy.bam");
    EXPECT_FALSE(static_cast<const BAMFileHandler&>(reader).write_to_bam_file(copy, true));
    ASSERT_TRUE(reader.write_to_bam_file(copy, false));
    EXPECT_EQ(bam_header_text(copy).rfind("@HD\tVN:1.6\tSO:unknown\n", 0), 0u);
}

TEST(BamFile, WriteFailuresAreReported) {
    BAMFileHandler handler = handler_with({line("a", "chr1", 5)});
    EXPECT_FALSE(handler.write_to_bam_file("/dev/full", false));
    EXPECT_EQ(handler.error_message(), "BAM file reported error on close /dev/full");
    const std::string missing = temp_path("no_such_dir/x.bam");
    EXPECT_FALSE(handler.write_to_bam_file(missing, false));
    EXPECT_EQ(handler.error_message(), "Cannot open file " + missing);

    // A record built by hand that the format cannot carry is refused before
    // anything is written.
    BAMFileHandler::BamRecord record;
    record.read_name = std::string(300, 'n');
    std::vector<char> bytes;
    EXPECT_FALSE(handler.serialise_bam_record_to_buffer(record, bytes));
    record.read_name = "n";
    record.cigar = {5 << 4 | 9};
    EXPECT_FALSE(handler.serialise_bam_record_to_buffer(record, bytes));
    EXPECT_EQ(handler.error_message(), "Record n cannot be written: CIGAR operation code 9 out of range");
    record.cigar.clear();
    record.l_seq = 3;  // but no bases held
    EXPECT_FALSE(handler.serialise_bam_record_to_buffer(record, bytes));
    EXPECT_EQ(handler.error_message(),
              "Record n cannot be written: sequence and quality bytes do not match the sequence length");

    // Nor an array of a subtype without an element width, even empty.
    record.l_seq = 0;
    BAMFileHandler::AuxData field;
    field.tag = "Xb";
    field.type = 'B';
    field.value = BAMFileHandler::AuxNumericalArray{'x', 0, {}};
    record.aux = {field};
    EXPECT_FALSE(handler.serialise_bam_record_to_buffer(record, bytes));
    EXPECT_EQ(handler.error_message(), "Record n cannot be written: Invalid auxiliary array in field Xb");
}

TEST(BamFile, RecordsLargerThanABlockSpanSeveralBlocks) {
    std::mt19937 rng(7);
    std::string seq(150000, 'A'), qual(150000, 'I');
    for (size_t i = 0; i < seq.size(); ++i) {
        seq[i] = "ACGT"[rng() % 4];
        qual[i] = char(33 + rng() % 60);
    }
    const std::string big = "big\t4\t*\t0\t0\t*\t*\t0\t0\t" + seq + "\t" + qual;
    BAMFileHandler writer = handler_with({big, line("small", "chr1", 3)});
    const std::string path = temp_path("big.bam");
    ASSERT_TRUE(writer.write_to_bam_file(path, true));
    EXPECT_GT(read_bytes(path).size(), 2 * 65536u);  // random bases and qualities: three blocks or more
    BAMFileHandler reader;
    ASSERT_TRUE(reader.read_from_bam_file(path)) << reader.error_message();
    EXPECT_EQ(lines_of(reader), (std::vector<std::string>{line("small", "chr1", 3), big}));
}

TEST(BamFile, ReaderKeepsOneReferenceListAndAcceptsATrailingNul) {
    BAMFileHandler maker;
    ASSERT_TRUE(maker.add_header_lines("@SQ\tSN:c1\tLN:10\n@SQ\tSN:c2\tLN:20\n"));
    const std::string text = "@HD\tVN:1.6\tSO:unknown\n@SQ\tSN:c1\tLN:10\n@SQ\tSN:c2\tLN:20\n";
    std::vector<char> stream = bam_header(text + std::string(1, '\0'), {{"c1", 10}, {"c2", 20}});
    // 16-bit optional integers only come from BAM input; they must go back
    // out with two bytes each.
    std::vector<char> record = record_bytes(maker, "r\t0\tc2\t3\t9\t2M\t*\t0\t0\tGG\t!!");
    const char extra[] = {'X', 's', 's', char(0xFE), char(0xFF), 'X', 'S', 'S', char(0xFF), char(0xFF)};
    record.insert(record.end(), extra, extra + sizeof extra);
    const uint32_t block_size = uint32_t(record.size() - 4);
    std::memcpy(record.data(), &block_size, 4);
    stream.insert(stream.end(), record.begin(), record.end());
    const std::string in_path = temp_path("nul_in.bam"), out_path = temp_path("nul_out.bam");
    write_bgzf(in_path, stream);

    BAMFileHandler reader;
    ASSERT_TRUE(reader.read_from_bam_file(in_path)) << reader.error_message();
    EXPECT_EQ(lines_of(reader), (std::vector<std::string>{"r\t0\tc2\t3\t9\t2M\t*\t0\t0\tGG\t!!\tXs:i:-2\tXS:i:65535"}));
    ASSERT_TRUE(reader.write_to_bam_file(out_path, false));
    std::vector<char> expected = stream;  // the same, but for the NUL after the text
    expected.erase(expected.begin() + 8 + std::ptrdiff_t(text.size()));
    expected[4] = char(text.size());
    EXPECT_EQ(inflate_file(out_path), expected);
}

// Broken files: each is refused with its message (or, for a stream that
// ends inside a field, the overrun exception), never read past.
TEST(BamFile, BrokenFilesAreRefused) {
    BAMFileHandler maker;
    ASSERT_TRUE(maker.add_header_lines(HEADER));
    const std::vector<char> header = bam_header("", {{"chr1", 1000}});
    const std::vector<char> good = record_bytes(maker, "r\t0\tchr1\t3\t9\t2M\t*\t0\t0\tGG\t!!\tXi:i:1");
    const std::string path = temp_path("broken.bam");

    auto stream_with = [&](std::vector<char> record) {
        std::vector<char> stream = header;
        stream.insert(stream.end(), record.begin(), record.end());
        return stream;
    };
    auto patched = [&](size_t offset, std::vector<char> bytes) {
        std::vector<char> record = good;
        std::copy(bytes.begin(), bytes.end(), record.begin() + std::ptrdiff_t(offset));
        return record;
    };
    struct Case {
        const char* what;
        std::vector<char> stream;
        std::string error;  // prefix; empty: the overrun exception
    };
    std::vector<Case> cases = {
            {"wrong magic",
             {'B', 'A', 'X', 1, 0, 0, 0, 0, 0, 0, 0, 0},
             "BAM file did not contain well formed header: "},
            {"only the end-of-file block", {}, ""},
            {"reference count past the end", {'B', 'A', 'M', 1, 0, 0, 0, 0, char(0xFF), char(0xFF), 0, 0}, ""},
            {"record cut short",
             [&] {
                 auto s = stream_with(good);
                 s.resize(s.size() - 3);
                 return s;
             }(),
             ""},
            {"sequence length past the end", stream_with(patched(20, {0, 0, 0, 0x10})), ""},
            {"CIGAR count past the end", stream_with(patched(16, {char(0xFF), char(0xFF)})), ""},
            {"block size too small for the fields", stream_with(patched(0, {20, 0, 0, 0})),
             "BAM file block length mismatch in file "},
            {"unknown optional type", stream_with(patched(good.size() - 5, {'q'})),
             "Invalid auxiliary data type found in alignment record in "},
            {"CIGAR code without a letter", stream_with(patched(38, {0x29})),
             "SAM line generation failed: Invalid cigar op code detected: 9"},
            {"reference id outside the list", stream_with(patched(4, {5})),
             "SAM line generation failed: Invalid next segment ref ID detected"},
            {"negative sequence length", stream_with(patched(20, {0, 0, 0, char(0x80)})),
             "Negative sequence length in alignment record in file "},
    };
    for (const Case& c : cases) {
        write_bgzf(path, c.stream);
        BAMFileHandler reader;
        if (c.error.empty()) {
            EXPECT_THROW(reader.read_from_bam_file(path), std::runtime_error) << c.what;
        } else {
            EXPECT_FALSE(reader.read_from_bam_file(path)) << c.what;
            EXPECT_EQ(reader.error_message().rfind(c.error, 0), 0u) << c.what << ": " << reader.error_message();
        }
    }

    // Damage to the blocks themselves.
    write_bgzf(path, stream_with(good));
    const std::vector<char> file = read_bytes(path);
    struct BlockCase {
        const char* what;
        std::vector<char> bytes;
        std::string error;
    };
    auto with = [&](size_t offset, char value) {
        std::vector<char> bytes = file;
        bytes[offset] = value;
        return bytes;
    };
    const size_t first_block = size_t(uint8_t(file[16]) | uint8_t(file[17]) << 8) + 1;
    const std::vector<BlockCase> block_cases = {
            {"no end-of-file block", std::vector<char>(file.begin(), file.end() - 28),
             "Final BGZF block was not the EOF sequence as expected in file "},
            {"cut inside a block", std::vector<char>(file.begin(), file.begin() + 40),
             "Encountered truncated BGZF block in file "},
            {"empty file", {}, "Final BGZF block was not the EOF sequence as expected in file "},
            {"bad gzip magic", with(1, 0x00), "Encountered malformed BGZF header in file "},
            {"extra field length", with(10, 7), "Encountered unknown sub fields in BGZF header in file "},
            {"subfield id", with(12, 'X'), "Encountered malformed BGZF subfield in file "},
            {"block size below 25",
             [&] {
                 auto b = with(16, 20);
                 b[17] = 0;
                 return b;
             }(),
             "Encountered over-sized BGZF block in file "},
            {"CRC", with(first_block - 8, char(file[first_block - 8] ^ 1)),
             "CRC mismatch after decompressing BGZF block!"},
            {"length", with(first_block - 4, char(file[first_block - 4] + 1)),
             "BGZF block did not unzip correctly in file "},
    };
    for (const BlockCase& c : block_cases) {
        write_bytes(path, c.bytes);
        BAMFileHandler reader;
        EXPECT_FALSE(reader.read_from_bam_file(path)) << c.what;
        EXPECT_EQ(reader.error_message().rfind(c.error, 0), 0u) << c.what << ": " << reader.error_message();
    }
}

TEST(BamFile, CodecRefusesArgumentsOutsideABlock) {
    BAMFileHandler handler;
    const std::vector<char> data(70000, 'x');
    EXPECT_TRUE(handler.compress_data(data.data(), 70000).empty());
    EXPECT_EQ(handler.error_message(), "Arguments to compress_data incorrect");
    EXPECT_TRUE(handler.decompress_data(data.data(), 10, 70000).empty());
    EXPECT_EQ(handler.error_message(), "Arguments to decompress_data incorrect");

    const std::vector<char> packed = handler.compress_data(data.data(), 65536);
    ASSERT_FALSE(packed.empty());
    EXPECT_EQ(handler.decompress_data(packed.data(), unsigned(packed.size()), 65536),
              std::vector<char>(data.begin(), data.begin() + 65536));
    EXPECT_TRUE(handler.decompress_data(packed.data(), unsigned(packed.size()), 1000).empty());
}

// The path of the client's reads: SAM lines with basecall tags become a
// sorted, indexed BAM file.
TEST(BamFile, BasecalledReadLinesBecomeASortedIndexedBam) {
    const std::string sequence = "ACGCGTTACG";
    std::vector<uint8_t> probs(sequence.size() * 5, 0);  // channels A, C, m, G, T per base
    probs[1 * 5 + 2] = 200;
    probs[3 * 5 + 2] = 250;
    const std::vector<uint8_t> moves = {1, 0, 1, 1, 0, 200};
    bass::data_wrappers::VecView<uint8_t> prob_view, move_view;
    prob_view.view(probs.data(), probs.size(), 1);
    move_view.view(moves.data(), moves.size(), 1);
    std::string line, modbase, move_table, error;
    ASSERT_TRUE(BAMFileHandler::make_unmapped_sam_line(line, "read_1", sequence, "!#%'+-/135", error));
    ASSERT_TRUE(BAMFileHandler::generate_modbase_string(modbase, sequence, "ACmGT", "5mC", prob_view, 100, error));
    ASSERT_TRUE(BAMFileHandler::generate_move_table_string(move_table, move_view, 5, error));
    line += "\t" + modbase + "\t" + move_table;

    BAMFileHandler handler;
    ASSERT_TRUE(handler.add_header_lines("@HD\tVN:1.6\n"));
    ASSERT_TRUE(handler.add_alignment_sam(line)) << handler.error_message();
    const std::string path = temp_path("reads.bam");
    ASSERT_TRUE(handler.write_to_bam_file(path, true)) << handler.error_message();
    BAMFileHandler reader;
    ASSERT_TRUE(reader.read_from_bam_file(path)) << reader.error_message();
    EXPECT_EQ(lines_of(reader), std::vector<std::string>{line});
}
