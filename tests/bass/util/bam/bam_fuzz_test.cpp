// Mutated BAM, BGZF, BAI and SAM input: the handler must refuse what is
// broken (false or one of its exceptions), never crash, never reserve more
// memory than the input can justify, and never write a file it cannot read
// back. Run under AddressSanitizer and UBSan in CI with a short count;
// scripts/fuzz_bam.sh runs it long:
//   VEMLA_BAM_FUZZ_ITERATIONS  rounds (default 250; each round tries every kind of input)
//   VEMLA_BAM_FUZZ_SEED        first seed (default 1)
#include "bam_test_files.h"

#include <sys/resource.h>

#include <cstdlib>
#include <iostream>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>

using namespace bam_test;

namespace {

uint64_t env_number(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

const char* const SEED_LINES[] = {
        "r1\t0\tchr1\t100\t60\t3S4M1D2M1I\tchr2\t50\t-40\tACGTACGTAC\t!\"#$%&'()*\tXa:A:q\tXi:i:-5\t"
        "Xu:i:4294967295\tXf:f:0.25\tXz:Z:text\tXh:H:0A1B\tXb:B:c,-1,2\tXB:B:I,7\tXs:B:s,-3\tXF:B:f,1.5",
        "r2\t4\t*\t0\t0\t*\t*\t0\t0\tACGTN\t*",
        "r3\t16\tchr2\t7\t0\t2M\t=\t9\t0\t*\t*",
        "r4\t0\tchr1\t16000\t60\t800M\t*\t0\t0\t*\t*\tmv:B:c,5,1,0,1,1,0",
};

struct Seed {
    std::vector<char> file;    // a BAM file as written
    std::vector<char> stream;  // its uncompressed bytes
    std::vector<char> index;   // its BAI
};

Seed make_seed(const std::string& path) {
    BAMFileHandler handler;
    EXPECT_TRUE(handler.add_header_lines("@HD\tVN:1.6\n@SQ\tSN:chr1\tLN:100000\n@SQ\tSN:chr2\tLN:5000\n@CO\tseed"));
    for (const char* line : SEED_LINES) {
        EXPECT_TRUE(handler.add_alignment_sam(line)) << handler.error_message();
    }
    std::mt19937 rng(3);
    std::string big_seq(70000, 'A'), big_qual(70000, '!');
    for (size_t i = 0; i < big_seq.size(); ++i) {
        big_seq[i] = "ACGT"[rng() % 4];
        big_qual[i] = char(33 + rng() % 40);
    }
    EXPECT_TRUE(handler.add_alignment_sam("big\t0\tchr2\t1\t60\t70000M\t*\t0\t0\t" + big_seq + "\t" + big_qual));
    EXPECT_TRUE(handler.write_to_bam_file(path, true)) << handler.error_message();
    return {read_bytes(path), inflate_file(path), read_bytes(path + ".bai")};
}

// Values that break lengths and counts.
const uint32_t INTERESTING[] = {0,      1,       2,          3,          4,          7,          8,
                                31,     32,      33,         36,         255,        256,        0x7FFF,
                                0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFE, 0xFFFFFFFF};

void mutate(std::vector<char>& bytes, std::mt19937_64& rng) {
    const int rounds = 1 + int(rng() % 4);
    for (int r = 0; r < rounds && !bytes.empty(); ++r) {
        const size_t at = rng() % bytes.size();
        switch (rng() % 6) {
            case 0:  // bit flip
                bytes[at] = char(bytes[at] ^ (1 << (rng() % 8)));
                break;
            case 1:  // random byte
                bytes[at] = char(rng());
                break;
            case 2: {  // a length or count replaced
                const uint32_t value = INTERESTING[rng() % std::size(INTERESTING)];
                for (size_t k = 0; k < 4 && at + k < bytes.size(); ++k) {
                    bytes[at + k] = char(value >> (8 * k));
                }
                break;
            }
            case 3:  // cut short
                bytes.resize(at);
                break;
            case 4: {  // a stretch removed
                const size_t length = std::min<size_t>(bytes.size() - at, 1 + rng() % 64);
                bytes.erase(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + length));
                break;
            }
            default: {  // a stretch repeated
                const size_t length = std::min<size_t>(bytes.size() - at, 1 + rng() % 64);
                const std::vector<char> copy(bytes.begin() + std::ptrdiff_t(at),
                                             bytes.begin() + std::ptrdiff_t(at + length));
                bytes.insert(bytes.begin() + std::ptrdiff_t(rng() % bytes.size()), copy.begin(), copy.end());
                break;
            }
        }
    }
}

// Reads a file; whatever is accepted must also survive being written back
// and read again.
void read_and_rewrite(const std::string& path, const std::string& rewrite_path) {
    BAMFileHandler reader;
    bool read = false;
    try {
        read = reader.read_from_bam_file(path);
    } catch (const std::bad_alloc&) {
        ADD_FAILURE() << "allocation failed: a length from the file was trusted";
        return;
    } catch (const std::runtime_error&) {
        return;  // the documented overrun
    } catch (const std::invalid_argument&) {
        return;  // a header number that does not convert
    } catch (const std::out_of_range&) {
        return;
    }
    if (!read) {
        EXPECT_FALSE(reader.error_message().empty());
        return;
    }
    size_t count = 0;
    reader.get_num_alignments(count);
    std::string line;
    for (size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(reader.get_alignment_sam(i, line)) << reader.error_message();
    }
    if (!reader.write_to_bam_file(rewrite_path, false)) {
        return;  // refused as a whole, before anything is written
    }
    BAMFileHandler again;
    EXPECT_NO_THROW(EXPECT_TRUE(again.read_from_bam_file(rewrite_path)) << again.error_message());
}

}  // namespace

TEST(BamFuzz, MutatedInputIsRefusedSafely) {
    const uint64_t rounds = env_number("VEMLA_BAM_FUZZ_ITERATIONS", 250);
    const uint64_t first_seed = env_number("VEMLA_BAM_FUZZ_SEED", 1);
    const std::string path = temp_path("fuzz.bam"), rewrite = temp_path("fuzz_rewrite.bam"),
                      bai = temp_path("fuzz.bai");
    const Seed seed = make_seed(path);
    ASSERT_FALSE(seed.stream.empty());

    std::ostringstream discard;
    std::streambuf* const real_cout = std::cout.rdbuf(discard.rdbuf());  // index dumps
    for (uint64_t round = 0; round < rounds; ++round) {
        const uint64_t seed_value = first_seed + round;
        SCOPED_TRACE("VEMLA_BAM_FUZZ_SEED=" + std::to_string(seed_value) + " VEMLA_BAM_FUZZ_ITERATIONS=1");
        std::mt19937_64 rng(seed_value);

        // Damaged blocks.
        std::vector<char> file = seed.file;
        mutate(file, rng);
        write_bytes(path, file);
        read_and_rewrite(path, rewrite);

        // Sound blocks around a damaged stream: reaches the record decoder.
        std::vector<char> stream = seed.stream;
        mutate(stream, rng);
        write_bgzf(path, stream);
        read_and_rewrite(path, rewrite);

        // A damaged index dumped.
        std::vector<char> index = seed.index;
        mutate(index, rng);
        write_bytes(bai, index);
        BAMFileHandler printer;
        printer.print_index_from_file(bai);
        discard.str("");

        // A damaged SAM line: if it is accepted, its BAM must read back.
        std::string line(SEED_LINES[rng() % std::size(SEED_LINES)]);
        std::vector<char> line_bytes(line.begin(), line.end());
        mutate(line_bytes, rng);
        BAMFileHandler handler;
        ASSERT_TRUE(handler.add_header_lines("@SQ\tSN:chr1\tLN:100000\n@SQ\tSN:chr2\tLN:5000"));
        bool added = false;
        try {
            added = handler.add_alignment_sam(std::string(line_bytes.begin(), line_bytes.end()));
        } catch (const std::invalid_argument&) {
        } catch (const std::out_of_range&) {
        } catch (const std::runtime_error&) {
        }
        if (added) {
            ASSERT_TRUE(handler.write_to_bam_file(path, true)) << handler.error_message();
            BAMFileHandler reader;
            ASSERT_NO_THROW(ASSERT_TRUE(reader.read_from_bam_file(path)) << reader.error_message());
        }
    }
    std::cout.rdbuf(real_cout);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1024L * 1024L) << "peak resident memory (KiB)";
}
