// The BAI index written beside a sorted BAM file.
#include "bam_test_files.h"

#include <map>

using namespace bam_test;

namespace {

struct ParsedIndex {
    struct Reference {
        std::vector<uint64_t> pseudo;  // begin, end, mapped, unmapped
        std::map<uint32_t, std::vector<std::pair<uint64_t, uint64_t>>> bins;
        std::vector<uint32_t> bin_order;
        std::vector<uint64_t> windows;
    };
    std::vector<Reference> references;
    uint64_t n_no_coor = 0;
    size_t size = 0;
};

template <typename T>
T take(const std::vector<char>& bytes, size_t& p) {
    EXPECT_LE(p + sizeof(T), bytes.size());
    T value{};
    if (p + sizeof(T) <= bytes.size()) {
        std::memcpy(&value, bytes.data() + p, sizeof(T));
    }
    p += sizeof(T);
    return value;
}

ParsedIndex parse_index(const std::string& path) {
    const std::vector<char> bytes = read_bytes(path);
    ParsedIndex index;
    index.size = bytes.size();
    size_t p = 0;
    EXPECT_EQ(std::string(bytes.data(), 4), std::string("BAI\1", 4));
    p = 4;
    index.references.resize(take<uint32_t>(bytes, p));
    for (auto& ref : index.references) {
        const uint32_t n_bin = take<uint32_t>(bytes, p);
        for (uint32_t b = 0; b < n_bin; ++b) {
            const uint32_t bin = take<uint32_t>(bytes, p);
            const uint32_t n_chunk = take<uint32_t>(bytes, p);
            ref.bin_order.push_back(bin);
            for (uint32_t c = 0; c < n_chunk; ++c) {
                const uint64_t begin = take<uint64_t>(bytes, p);
                const uint64_t end = take<uint64_t>(bytes, p);
                if (bin == 37450) {
                    ref.pseudo.push_back(begin);
                    ref.pseudo.push_back(end);
                } else {
                    ref.bins[bin].emplace_back(begin, end);
                }
            }
        }
        ref.windows.resize(take<uint32_t>(bytes, p));
        for (uint64_t& w : ref.windows) {
            w = take<uint64_t>(bytes, p);
        }
    }
    index.n_no_coor = take<uint64_t>(bytes, p);
    EXPECT_EQ(p, bytes.size());
    return index;
}

// Virtual offset of every block of a BGZF file (each record starts one).
std::vector<uint64_t> block_offsets(const std::string& path) {
    const std::vector<char> bytes = read_bytes(path);
    std::vector<uint64_t> offsets;
    for (size_t p = 0; p + 18 <= bytes.size();) {
        offsets.push_back(uint64_t(p) << 16);
        p += size_t(uint8_t(bytes[p + 16]) | uint8_t(bytes[p + 17]) << 8) + 1;
    }
    return offsets;
}

std::string printed_index(const BAMFileHandler& handler, const std::string& path, bool& ok) {
    ::testing::internal::CaptureStdout();
    ok = handler.print_index_from_file(path);
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(BaiIndex, BinsOfIntervals) {
    EXPECT_EQ(BAMFileHandler::reg_to_bin(0, 1), 4681);
    EXPECT_EQ(BAMFileHandler::reg_to_bin(0, 16384), 4681);
    EXPECT_EQ(BAMFileHandler::reg_to_bin(0, 16385), 585);
    EXPECT_EQ(BAMFileHandler::reg_to_bin(-1, 0), 4680);
    EXPECT_EQ(BAMFileHandler::reg_to_bin((1 << 26) - 1, (1 << 26) + 1), 0);
    std::vector<uint16_t> bins = {7};
    BAMFileHandler::reg_to_bins(0, 1, bins);
    EXPECT_EQ(bins, (std::vector<uint16_t>{7, 0, 1, 9, 73, 585, 4681}));
}

TEST(BaiIndex, BinsChunksAndLinearIndexOfSortedRecords) {
    BAMFileHandler handler;
    ASSERT_TRUE(
            handler.add_header_lines("@HD\tVN:1.6\tSO:coordinate\n@SQ\tSN:chr1\tLN:1000000\n@SQ\tSN:chr2\tLN:10\n"));
    const std::string lines[] = {
            "a\t0\tchr1\t1\t0\t16384M\t*\t0\t0\t*\t*",   // windows 0 and 1, bin 4681
            "b\t0\tchr1\t2\t0\t100000M\t*\t0\t0\t*\t*",  // up to window 6, bin 585
            "c\t0\tchr1\t3\t0\t10M\t*\t0\t0\t*\t*",      // ends in window 0: nothing new, bin 4681
            "d\t0\tchr1\t200001\t0\t5M\t*\t0\t0\t*\t*",  // window 12; 7 to 11 take window 6's offset
            "e\t4\tchr1\t200010\t0\t*\t*\t0\t0\t*\t*",   // placed but unmapped, same bin as d
            "f\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*",           // unplaced
    };
    for (const std::string& line : lines) {
        ASSERT_TRUE(handler.add_alignment_sam(line));
    }
    const std::string path = temp_path("index.bam");
    ASSERT_TRUE(handler.write_to_bam_file(path, true)) << handler.error_message();
    const std::vector<uint64_t> offsets = block_offsets(path);  // header, a to f, end-of-file
    ASSERT_EQ(offsets.size(), 8u);
    const uint64_t a = offsets[1], b = offsets[2], c = offsets[3], d = offsets[4], f = offsets[6];

    const ParsedIndex index = parse_index(path + ".bai");
    ASSERT_EQ(index.references.size(), 2u);
    const auto& ref = index.references[0];
    EXPECT_EQ(ref.bin_order, (std::vector<uint32_t>{37450, 585, 4681, 4693}));
    EXPECT_EQ(ref.pseudo, (std::vector<uint64_t>{a, f, 4, 1}));
    EXPECT_EQ(ref.bins.at(4681), (std::vector<std::pair<uint64_t, uint64_t>>{{a, b}, {c, d}}));
    EXPECT_EQ(ref.bins.at(585), (std::vector<std::pair<uint64_t, uint64_t>>{{b, c}}));
    EXPECT_EQ(ref.bins.at(4693), (std::vector<std::pair<uint64_t, uint64_t>>{{d, f}}));
    EXPECT_EQ(ref.windows, (std::vector<uint64_t>{a, a, b, b, b, b, b, b, b, b, b, b, d}));
    EXPECT_TRUE(index.references[1].bin_order.empty());
    EXPECT_TRUE(index.references[1].windows.empty());
    EXPECT_EQ(index.n_no_coor, 1u);

    bool ok = false;
    const std::string printed = printed_index(handler, path + ".bai", ok);
    EXPECT_TRUE(ok);
    for (const char* expected :
         {"n_ref is 2\n\nRef 0 has 4 bins\nRef 0 bin 37450 has 2 chunks\n", "Ref 0 bin 4681 has 2 chunks\n",
          "Ref 0 has 4 total real chunks\n", "Ref 0 has 13 linear intervals\n", "(196608 - 212991)\n",
          "\nRef 1 has 0 bins\n", "Ref 1 has 0 linear intervals\nGot n_no_coor 1\n"}) {
        EXPECT_NE(printed.find(expected), std::string::npos) << expected;
    }
    EXPECT_NE(printed.find("Magic bin says placed unmapped begin " + std::to_string(a >> 16) + ",0 end " +
                           std::to_string(f >> 16) + ",0, num mapped 4, unmapped 1\n"),
              std::string::npos);
}

TEST(BaiIndex, EmptyHandlerAndDamagedIndexFiles) {
    BAMFileHandler handler;
    const std::string path = temp_path("empty.bam");
    ASSERT_TRUE(handler.write_to_bam_file(path, true));
    const std::vector<char> index = read_bytes(path + ".bai");
    EXPECT_EQ(index, (std::vector<char>{'B', 'A', 'I', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    bool ok = false;
    EXPECT_EQ(printed_index(handler, path + ".bai", ok), "n_ref is 0\nGot n_no_coor 0\n");
    EXPECT_TRUE(ok);

    const std::string damaged = temp_path("damaged.bai");
    struct Case {
        std::vector<char> bytes;
        bool ok;
        std::string error;
        std::string printed_end;
    };
    std::vector<char> with_extra = index;
    with_extra.push_back(0);
    const std::vector<char> one_ref_cut = {'B', 'A', 'I', 1, 1, 0, 0, 0, 1, 0, 0, 0};
    const std::vector<char> bad_pseudo = {'B', 'A', 'I',        1,          1, 0, 0, 0, 1, 0,
                                          0,   0,   char(0x4A), char(0x92), 0, 0, 3, 0, 0, 0};
    const Case cases[] = {
            {with_extra, true, "", "Got n_no_coor 0\nError: more bytes available in the index file!\n"},
            {std::vector<char>(index.begin(), index.end() - 8), true, "", "n_ref is 0\n"},
            {{'B', 'A', 'X', 1, 0, 0, 0, 0}, false, "Encountered malformed BAI header in file " + damaged, ""},
            {one_ref_cut, false, "Encountered truncated index file " + damaged, "Ref 0 has 1 bins\n"},
            {bad_pseudo, false, "Encountered malformed magic bin in index file " + damaged, "has 3 chunks\n"},
    };
    for (const Case& c : cases) {
        write_bytes(damaged, c.bytes);
        const std::string printed = printed_index(handler, damaged, ok);
        EXPECT_EQ(ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(handler.error_message(), c.error);
        }
        ASSERT_GE(printed.size(), c.printed_end.size());
        EXPECT_EQ(printed.substr(printed.size() - c.printed_end.size()), c.printed_end);
    }
    EXPECT_FALSE(handler.print_index_from_file(temp_path("missing.bai")));
    EXPECT_EQ(handler.error_message(), "Cannot open index file " + temp_path("missing.bai"));
}
