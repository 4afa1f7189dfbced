// BAM write and read throughput, one thread, in MB/s of uncompressed BAM.
//
// The records are generated basecalled reads (a few kilobases each, with
// qualities, move table and base-modification tags), mapped to three
// references and sorted. Measured on the same bytes:
//
//   bam       BAMFileHandler::write_to_bam_file (with the index) and
//             read_from_bam_file
//   zlib      the floor: zlib itself at the same level doing the codec work
//             the file holds. BGZF blocks are gzip members, so: zlib's
//             deflate in gzip mode (with its CRC-32) of the same uncompressed
//             pieces our blocks hold, and zlib's inflate in gzip mode (which
//             checks CRC-32 and length) of our file's blocks, from memory
//   zlib-raw  for information: raw deflate and inflate (no checksum) of the
//             same stream in 0xff00-byte chunks
//   samtools  `samtools view -b` of the same records as SAM, and `samtools
//             view` of our BAM to SAM, for reference (its codec is not zlib)
//
// Every read runs in a process of its own (this program started again with
// "--read"), as a reader of a new file does: its output (ours: the records;
// zlib: one buffer of the uncompressed size) goes into fresh memory, and no
// run reuses memory that an earlier one touched. Only the read is timed.
//
// Usage: bench_bam [records] [work directory] [keep]  ("keep" leaves the files)
#include "bass/util/bam/bam_file.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using bass::util::bam::BAMFileHandler;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int repeats = 5;        // timed writes (about a second each)
constexpr int read_repeats = 11;  // timed reads, each in a fresh process
constexpr size_t chunk_size = 0xff00;  // what BGZF writers commonly put in one block
const int reference_lengths[] = {60000000, 40000000, 20000000};

std::string generate_sam_line(std::mt19937_64& rng, size_t index, int ref, int pos) {
    static const char bases[] = "ACGT";
    std::uniform_int_distribution<int> base(0, 3);
    std::lognormal_distribution<double> length_draw(8.5, 0.6);
    const size_t length = std::clamp<size_t>(size_t(length_draw(rng)), 200, 60000);

    std::string seq(length, 'A');
    for (char& c : seq) {
        c = bases[base(rng)];
    }
    // Qualities wander like a basecaller's: runs of similar values.
    std::string qual(length, '!');
    int q = 20;
    std::uniform_int_distribution<int> step(-3, 3);
    for (char& c : qual) {
        q = std::clamp(q + step(rng), 3, 50);
        c = char(33 + q);
    }
    // CIGAR: soft clip, then matches with the odd insertion and deletion.
    std::string cigar = "12S";
    size_t query = 12;
    std::uniform_int_distribution<int> run(20, 300);
    while (query < length) {
        const size_t m = std::min<size_t>(size_t(run(rng)), length - query);
        cigar += std::to_string(m) + "M";
        query += m;
        if (query + 3 < length) {
            cigar += (rng() % 2) ? "2I" : "3D";
            query += (cigar.back() == 'I') ? 2 : 0;
        }
    }
    // Move table: stride 5, about two moves per base.
    std::string mv = "mv:B:c,5";
    for (size_t i = 0; i < 2 * length; ++i) {
        mv += (i % 2 == 0 || rng() % 4 == 0) ? ",1" : ",0";
    }
    // 5mC at CpG sites.
    std::string mm = "Mm:Z:C+m?", ml = "Ml:B:C";
    int skip = 0;
    for (size_t i = 0; i + 1 < length; ++i) {
        if (seq[i] != 'C') {
            continue;
        }
        if (seq[i + 1] == 'G') {
            mm += "," + std::to_string(skip);
            ml += "," + std::to_string(rng() % 256);
            skip = 0;
        } else {
            ++skip;
        }
    }
    mm += ";";

    char name[64];
    std::snprintf(name, sizeof name, "%08zx-%04x-%04x-%012zx", index, unsigned(rng() % 65536),
                  unsigned(rng() % 65536), size_t(rng() % 1000000000000ULL));
    return std::string(name) + "\t" + std::to_string(rng() % 2 ? 0 : 16) + "\tchr" + std::to_string(ref + 1) +
           "\t" + std::to_string(pos) + "\t60\t" + cigar + "\t*\t0\t0\t" + seq + "\t" + qual +
           "\tqs:i:" + std::to_string(q) + "\tdu:f:3.25\tch:i:" + std::to_string(rng() % 512) +
           "\tst:Z:2024-01-01T00:00:00Z\tRG:Z:run1_model\t" + mv + "\t" + mm + "\t" + ml;
}

double best_seconds(const std::function<void()>& run) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// The blocks of a BGZF file as this handler writes them.
struct Block {
    size_t offset;  // of the gzip member in the file
    size_t size;    // of the member
    size_t data_offset;
    size_t data_size;  // uncompressed
};

std::vector<char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<Block> list_blocks(const std::vector<char>& file) {
    std::vector<Block> blocks;
    size_t data = 0;
    for (size_t p = 0; p + 26 <= file.size();) {
        uint16_t bsize;
        uint32_t isize;
        std::memcpy(&bsize, &file[p + 16], 2);
        std::memcpy(&isize, &file[p + bsize + 1 - 4], 4);
        blocks.push_back({p, size_t(bsize) + 1, data, isize});
        data += isize;
        p += size_t(bsize) + 1;
    }
    return blocks;
}

constexpr int gzip_window = 15 + 16;

// zlib's inflate of every block (a gzip member) into `out`.
void zlib_inflate_blocks(const std::vector<char>& file, const std::vector<Block>& blocks, char* out) {
    z_stream s{};
    inflateInit2(&s, gzip_window);
    for (const Block& block : blocks) {
        inflateReset(&s);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + block.offset));
        s.avail_in = unsigned(block.size);
        s.next_out = reinterpret_cast<Bytef*>(out + block.data_offset);
        s.avail_out = unsigned(block.data_size);
        if (inflate(&s, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("bench: zlib cannot inflate a block");
        }
    }
    inflateEnd(&s);
}

// zlib's deflate of the same uncompressed pieces into gzip members.
size_t zlib_deflate_blocks(const std::vector<char>& data, const std::vector<Block>& blocks, std::vector<char>& out) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, gzip_window, 8, Z_DEFAULT_STRATEGY);
    size_t total = 0;
    for (const Block& block : blocks) {
        deflateReset(&s);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + block.data_offset));
        s.avail_in = unsigned(block.data_size);
        s.next_out = reinterpret_cast<Bytef*>(out.data());
        s.avail_out = unsigned(out.size());
        if (deflate(&s, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("bench: zlib cannot deflate a block");
        }
        total += s.total_out;
    }
    deflateEnd(&s);
    return total;
}

struct Chunk {
    size_t offset;
    size_t length;
    std::vector<char> deflated;
};

void raw_deflate_chunks(const std::vector<char>& bytes, std::vector<Chunk>& chunks) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    chunks.clear();
    for (size_t offset = 0; offset < bytes.size(); offset += chunk_size) {
        Chunk chunk{offset, std::min(chunk_size, bytes.size() - offset), std::vector<char>(65536)};
        deflateReset(&s);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + offset));
        s.avail_in = unsigned(chunk.length);
        s.next_out = reinterpret_cast<Bytef*>(chunk.deflated.data());
        s.avail_out = unsigned(chunk.deflated.size());
        if (deflate(&s, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("bench: deflate failed");
        }
        chunk.deflated.resize(s.total_out);
        chunks.push_back(std::move(chunk));
    }
    deflateEnd(&s);
}

void raw_inflate_chunks(const std::vector<Chunk>& chunks, char* out) {
    z_stream s{};
    inflateInit2(&s, -15);
    for (const Chunk& chunk : chunks) {
        inflateReset(&s);
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.deflated.data()));
        s.avail_in = unsigned(chunk.deflated.size());
        s.next_out = reinterpret_cast<Bytef*>(out + chunk.offset);
        s.avail_out = unsigned(chunk.length);
        if (inflate(&s, Z_FINISH) != Z_STREAM_END) {
            throw std::runtime_error("bench: inflate failed");
        }
    }
    inflateEnd(&s);
}

double run_command_seconds(const std::string& command) {
    return best_seconds([&] {
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("bench: command failed: " + command);
        }
    });
}

void check(bool ok, const BAMFileHandler& handler) {
    if (!ok) {
        throw std::runtime_error("bench: " + handler.error_message());
    }
}

}  // namespace

// One timed read in this process; prints its seconds.
int read_once(const std::string& mode, const std::string& bam_path) {
    if (mode == "bam") {
        BAMFileHandler reader;
        const auto start = Clock::now();
        check(reader.read_from_bam_file(bam_path), reader);
        std::printf("%.9f\n", std::chrono::duration<double>(Clock::now() - start).count());
        return 0;
    }
    const std::vector<char> file = read_file(bam_path);
    const std::vector<Block> blocks = list_blocks(file);
    const size_t size = blocks.empty() ? 0 : blocks.back().data_offset + blocks.back().data_size;
    std::vector<Chunk> chunks;
    if (mode == "zlib-raw") {
        std::vector<char> stream(size);
        zlib_inflate_blocks(file, blocks, stream.data());
        raw_deflate_chunks(stream, chunks);
    }
    const auto start = Clock::now();
    std::unique_ptr<char[]> out(new char[size]);
    if (mode == "zlib") {
        zlib_inflate_blocks(file, blocks, out.get());
    } else {
        raw_inflate_chunks(chunks, out.get());
    }
    std::printf("%.9f\n", std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
}

double best_read_seconds(const char* self, const std::string& mode, const std::string& bam_path) {
    double best = 1e300;
    for (int r = 0; r < read_repeats; ++r) {
        const std::string command = std::string(self) + " --read " + mode + " " + bam_path;
        FILE* child = popen(command.c_str(), "r");
        double seconds = -1;
        if (child == nullptr || std::fscanf(child, "%lf", &seconds) != 1 || pclose(child) != 0 || seconds < 0) {
            throw std::runtime_error("bench: timed read failed: " + command);
        }
        best = std::min(best, seconds);
    }
    return best;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--read") {
        try {
            return read_once(argv[2], argv[3]);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
    }
    const size_t records = argc > 1 ? std::stoul(argv[1]) : 1000;
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const std::string stem = dir + "/bench_bam_" + std::to_string(getpid());
    const std::string bam_path = stem + ".bam", sam_path = stem + ".sam", samtools_bam = stem + ".st.bam";
    auto remove_files = [&] {
        for (const std::string& p : {bam_path, bam_path + ".bai", sam_path, samtools_bam}) {
            std::remove(p.c_str());
        }
    };

    try {
        BAMFileHandler handler;
        std::string header = "@HD\tVN:1.6\tSO:coordinate\n";
        for (size_t r = 0; r < std::size(reference_lengths); ++r) {
            header += "@SQ\tSN:chr" + std::to_string(r + 1) + "\tLN:" + std::to_string(reference_lengths[r]) + "\n";
        }
        header += "@RG\tID:run1_model\n";
        check(handler.add_header_lines(header), handler);
        std::mt19937_64 rng(42);
        for (size_t i = 0; i < records; ++i) {
            const int ref = int(i * std::size(reference_lengths) / records);
            const int pos = 1 + int((i % (records / std::size(reference_lengths) + 1)) * 9973);
            check(handler.add_alignment_sam(generate_sam_line(rng, i, ref, pos)), handler);
        }
        handler.sort();
        check(handler.write_to_sam_file(sam_path), handler);

        const double bam_write = best_seconds([&] { check(handler.write_to_bam_file(bam_path, true), handler); });
        const double bam_read = best_read_seconds(argv[0], "bam", bam_path);

        const std::vector<char> file = read_file(bam_path);
        const std::vector<Block> blocks = list_blocks(file);
        std::vector<char> stream(blocks.empty() ? 0 : blocks.back().data_offset + blocks.back().data_size);
        zlib_inflate_blocks(file, blocks, stream.data());
        std::vector<char> area(2 * 65536);
        size_t zlib_compressed = 0;
        const double zlib_write = best_seconds([&] { zlib_compressed = zlib_deflate_blocks(stream, blocks, area); });
        const double zlib_read = best_read_seconds(argv[0], "zlib", bam_path);
        std::vector<Chunk> chunks;
        const double raw_write = best_seconds([&] { raw_deflate_chunks(stream, chunks); });
        const double raw_read = best_read_seconds(argv[0], "zlib-raw", bam_path);

        const double st_write = run_command_seconds("samtools view -b -o " + samtools_bam + " " + sam_path);
        const double st_read = run_command_seconds("samtools view -o /dev/null " + bam_path);

        const double mb = double(stream.size()) / 1e6;
        size_t raw_compressed = 0;
        for (const Chunk& c : chunks) {
            raw_compressed += c.deflated.size() + 26;
        }
        std::printf("%zu records, %.1f MB uncompressed BAM in %zu blocks; compressed: bam %.1f MB, "
                    "zlib %.1f MB, zlib-raw %.1f MB\n",
                    records, mb, blocks.size(), double(file.size()) / 1e6, double(zlib_compressed) / 1e6,
                    double(raw_compressed) / 1e6);
        std::printf("%-9s %10s %10s   (MB/s of uncompressed BAM, best of %d writes and %d reads)\n", "", "write",
                    "read", repeats, read_repeats);
        std::printf("%-9s %10.1f %10.1f\n", "bam", mb / bam_write, mb / bam_read);
        std::printf("%-9s %10.1f %10.1f\n", "zlib", mb / zlib_write, mb / zlib_read);
        std::printf("%-9s %10.1f %10.1f\n", "zlib-raw", mb / raw_write, mb / raw_read);
        std::printf("%-9s %10.1f %10.1f\n", "samtools", mb / st_write, mb / st_read);
        std::printf("bam/zlib-raw: write %.2f read %.2f\n", raw_write / bam_write, raw_read / bam_read);
        std::printf("bam/zlib: write %.2f read %.2f; bam/samtools: write %.2f read %.2f\n",
                    zlib_write / bam_write, zlib_read / bam_read, st_write / bam_write, st_read / bam_read);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        remove_files();
        return 1;
    }
    if (!(argc > 3 && std::string(argv[3]) == "keep")) {
        remove_files();
    }
    return 0;
}
