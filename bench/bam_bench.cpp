// BAM write and read throughput, one thread, in MB/s of uncompressed BAM, on
// two data sets, each mapped to three references and sorted:
//
//   short  150-base paired reads as a short-read aligner writes them (the
//          common case: a BGZF block per record shows here)
//   long   basecalled long reads, a few kilobases each, with qualities, move
//          table and base-modification tags
//
// Arms, on the same records and bytes:
//
//   bam       write: BAMFileHandler::write_to_bam_file (with the index) of the
//             records held; read: read_from_bam_file (records held, no SAM
//             text built)
//   zlib      the floor: zlib itself at the same level doing the codec work
//             the file holds. BGZF blocks are gzip members, so: zlib's
//             deflate in gzip mode (with its CRC-32) of the same uncompressed
//             pieces our blocks hold, and zlib's inflate in gzip mode (which
//             checks CRC-32 and length) of our file's blocks, from memory
//   zlib-raw  for information: raw deflate and inflate (no checksum) of the
//             same stream in 0xff00-byte chunks
//   samtools  the same jobs as ours, from and to the same form. samtools
//             cannot write records held in memory, so its write is compared
//             as a conversion on both sides: our BAM in, a sorted, indexed
//             BAM out (ours: read_from_bam_file then write_to_bam_file;
//             samtools: `view -b --write-index`). Its read is `view -c`,
//             which decodes every record and formats none, as ours does.
//             (Its codec is not zlib.)
//
// Every arm runs once per round and the rounds interleave the arms; the
// figures are medians over the rounds. Reads and conversions run in a
// process of their own (this program started again), as a reader of a new
// file does: its output goes into fresh memory. Only the work is timed, not
// the start of the process, except for samtools.
//
// Peak resident memory per record is measured in processes of their own:
// holding the records of the SAM file and writing them as BAM, and reading
// the BAM file.
//
// The reference rows time a BAM header of many references read, and as many
// records on the last of them added as SAM lines and written, at a quarter,
// half and all of the given count: the time per item should stay flat.
//
// Usage: bench_bam [--short N] [--long N] [--references N] [--rounds N]
//                  [--dir DIR] [--keep]
//   (N 0 leaves a data set out; --keep leaves the files)
#include "bass/util/bam/bam_file.h"
#include "bench_support.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

using bass::util::bam::BAMFileHandler;

namespace {

using bench::Clock;
using bench::median;
constexpr size_t chunk_size = 0xff00;  // what BGZF writers commonly put in one block
const int reference_lengths[] = {60000000, 40000000, 20000000};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in bytes.
double peak_rss_bytes() {
    return double(bench::peak_resident_kib()) * 1024.0;
}

std::string random_bases(std::mt19937_64& rng, size_t length) {
    static const char bases[] = "ACGT";
    std::string seq(length, 'A');
    for (char& c : seq) {
        c = bases[rng() % 4];
    }
    return seq;
}

// A basecalled long read with its basecaller tags.
std::string generate_long_line(std::mt19937_64& rng, size_t index, int ref, int pos) {
    std::lognormal_distribution<double> length_draw(8.5, 0.6);
    const size_t length = std::clamp<size_t>(size_t(length_draw(rng)), 200, 60000);
    const std::string seq = random_bases(rng, length);
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
    std::snprintf(name, sizeof name, "%08zx-%04x-%04x-%012zx", index, unsigned(rng() % 65536), unsigned(rng() % 65536),
                  size_t(rng() % 1000000000000ULL));
    return std::string(name) + "\t" + std::to_string(rng() % 2 ? 0 : 16) + "\tchr" + std::to_string(ref + 1) + "\t" +
           std::to_string(pos) + "\t60\t" + cigar + "\t*\t0\t0\t" + seq + "\t" + qual + "\tqs:i:" + std::to_string(q) +
           "\tdu:f:3.25\tch:i:" + std::to_string(rng() % 512) + "\tst:Z:2024-01-01T00:00:00Z\tRG:Z:run1_model\t" + mv +
           "\t" + mm + "\t" + ml;
}

// A 150-base read of a pair, with binned qualities and the usual aligner
// tags.
std::string generate_short_line(std::mt19937_64& rng, size_t index, int ref, int pos) {
    constexpr int length = 150;
    const std::string seq = random_bases(rng, length);
    std::string qual(length, 'F');
    for (char& c : qual) {
        const unsigned draw = unsigned(rng() % 100);
        c = draw < 85 ? 'F' : draw < 95 ? ':' : draw < 99 ? ',' : '#';
    }
    std::string cigar = "150M";
    int edits = int(rng() % 3);
    const int cut = 20 + int(rng() % 110);
    const unsigned shape = unsigned(rng() % 100);
    int ref_span = length;
    if (shape >= 85 && shape < 91) {
        cigar = std::to_string(cut % 20 + 1) + "S" + std::to_string(length - cut % 20 - 1) + "M";
        ref_span = length - cut % 20 - 1;
    } else if (shape >= 91 && shape < 95) {
        cigar = std::to_string(cut) + "M2I" + std::to_string(length - cut - 2) + "M";
        ref_span = length - 2;
        edits += 2;
    } else if (shape >= 95) {
        cigar = std::to_string(cut) + "M3D" + std::to_string(length - cut) + "M";
        ref_span = length + 3;
        edits += 3;
    }
    const std::string md = edits == 0 ? std::to_string(ref_span)
                                      : std::to_string(cut / 2) + "ACGT"[rng() % 4] +
                                                std::to_string(ref_span - cut / 2 - 1);
    const int insert = 250 + int(rng() % 300);
    const bool first = rng() % 2 == 0;
    const int flag = first ? (rng() % 2 ? 99 : 83) : (rng() % 2 ? 147 : 163);
    const int mate_pos = std::max(1, first ? pos + insert - length : pos - insert + length);

    char name[64];
    std::snprintf(name, sizeof name, "A00%u:8:H7JLYDSXX:%u:%u:%zu:%u", 120 + unsigned(rng() % 10),
                  1 + unsigned(rng() % 4), 1101 + unsigned(rng() % 400), index, unsigned(rng() % 40000));
    return std::string(name) + "\t" + std::to_string(flag) + "\tchr" + std::to_string(ref + 1) + "\t" +
           std::to_string(pos) + "\t60\t" + cigar + "\t=\t" + std::to_string(mate_pos) + "\t" +
           std::to_string(first ? insert : -insert) + "\t" + seq + "\t" + qual + "\tNM:i:" + std::to_string(edits) +
           "\tMD:Z:" + md + "\tMC:Z:150M\tAS:i:" + std::to_string(150 - 5 * edits) +
           "\tXS:i:" + std::to_string(rng() % 120) + "\tRG:Z:sample1";
}

struct DataSet {
    const char* label;
    const char* description;
    size_t records;
    std::function<std::string(std::mt19937_64&, size_t, int, int)> line;
};

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

size_t file_size(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? size_t(in.tellg()) : 0;
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

void check(bool ok, const BAMFileHandler& handler) {
    if (!ok) {
        throw std::runtime_error("bench: " + handler.error_message());
    }
}

double command_seconds(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("bench: command failed: " + command);
    }
    return seconds_since(start);
}

// Runs this program again with `arguments`; returns the numbers it prints.
std::vector<double> child_numbers(const std::string& self, const std::string& arguments, size_t count) {
    const std::string command = self + " " + arguments;
    FILE* child = popen(command.c_str(), "r");
    std::vector<double> numbers(count, -1);
    bool ok = child != nullptr;
    for (double& number : numbers) {
        ok = ok && std::fscanf(child, "%lf", &number) == 1 && number >= 0;
    }
    if (child == nullptr || pclose(child) != 0 || !ok) {
        throw std::runtime_error("bench: child run failed: " + command);
    }
    return numbers;
}

// --- The work done in processes of their own -----------------------------

// One timed read; prints its seconds and the peak resident bytes it added.
int read_once(const std::string& mode, const std::string& bam_path) {
    const double baseline = peak_rss_bytes();
    if (mode == "bam") {
        BAMFileHandler reader;
        const auto start = Clock::now();
        check(reader.read_from_bam_file(bam_path), reader);
        const double seconds = seconds_since(start);
        std::printf("%.9f %.0f\n", seconds, peak_rss_bytes() - baseline);
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
    std::printf("%.9f 0\n", seconds_since(start));
    return 0;
}

// Our side of the conversion: a BAM file in, a sorted and indexed one out.
int convert_once(const std::string& in_path, const std::string& out_path) {
    BAMFileHandler handler;
    const auto start = Clock::now();
    check(handler.read_from_bam_file(in_path), handler);
    check(handler.write_to_bam_file(out_path, true), handler);
    std::printf("%.9f\n", seconds_since(start));
    return 0;
}

// The records of a SAM file held and written as BAM; prints the peak
// resident bytes this added.
int hold_once(const std::string& sam_path, const std::string& out_path) {
    const double baseline = peak_rss_bytes();
    BAMFileHandler handler;
    check(handler.read_from_sam_file(sam_path), handler);
    check(handler.write_to_bam_file(out_path, true), handler);
    std::printf("%.0f\n", peak_rss_bytes() - baseline);
    return 0;
}

// --- One data set ----------------------------------------------------------

struct Timings {
    std::map<std::string, std::vector<double>> runs;
    double at(const std::string& arm) const { return median(runs.at(arm)); }
};

// Runs one data set and prints its figures; returns its ratio line.
std::string run_data_set(const DataSet& set, const std::string& self, const std::string& stem, int rounds) {
    const std::string bam_path = stem + ".bam", sam_path = stem + ".sam", converted = stem + ".conv.bam",
                      samtools_bam = stem + ".st.bam", held = stem + ".held.bam";

    BAMFileHandler handler;
    std::string header = "@HD\tVN:1.6\tSO:coordinate\n";
    for (size_t r = 0; r < std::size(reference_lengths); ++r) {
        header += "@SQ\tSN:chr" + std::to_string(r + 1) + "\tLN:" + std::to_string(reference_lengths[r]) + "\n";
    }
    header += "@RG\tID:run1_model\n@RG\tID:sample1\n";
    check(handler.add_header_lines(header), handler);
    std::mt19937_64 rng(42);
    const size_t per_reference = set.records / std::size(reference_lengths) + 1;
    for (size_t i = 0; i < set.records; ++i) {
        const size_t ref = i / per_reference;
        const size_t k = i % per_reference;
        const int pos = 1 + int(uint64_t(k) * uint64_t(reference_lengths[ref] - 100000) / per_reference);
        check(handler.add_alignment_sam(set.line(rng, i, int(ref), pos)), handler);
    }
    handler.sort();
    check(handler.write_to_sam_file(sam_path), handler);
    check(handler.write_to_bam_file(bam_path, true), handler);

    const std::vector<char> file = read_file(bam_path);
    const std::vector<Block> blocks = list_blocks(file);
    std::vector<char> stream(blocks.empty() ? 0 : blocks.back().data_offset + blocks.back().data_size);
    zlib_inflate_blocks(file, blocks, stream.data());
    std::vector<char> area(2 * 65536);
    size_t zlib_compressed = 0;
    std::vector<Chunk> chunks;

    Timings write, read, convert;
    double read_rss = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        check(handler.write_to_bam_file(bam_path, true), handler);
        write.runs["bam"].push_back(seconds_since(start));
        start = Clock::now();
        zlib_compressed = zlib_deflate_blocks(stream, blocks, area);
        write.runs["zlib"].push_back(seconds_since(start));
        start = Clock::now();
        raw_deflate_chunks(stream, chunks);
        write.runs["zlib-raw"].push_back(seconds_since(start));

        convert.runs["bam"].push_back(child_numbers(self, "--convert " + bam_path + " " + converted, 1)[0]);
        convert.runs["samtools"].push_back(command_seconds("samtools view -b --write-index -o " + samtools_bam +
                                                           "##idx##" + samtools_bam + ".bai " + bam_path));

        for (const char* arm : {"bam", "zlib", "zlib-raw"}) {
            const std::vector<double> numbers = child_numbers(self, std::string("--read ") + arm + " " + bam_path, 2);
            read.runs[arm].push_back(numbers[0]);
            if (std::string(arm) == "bam") {
                read_rss = std::max(read_rss, numbers[1]);
            }
        }
        read.runs["samtools"].push_back(command_seconds("samtools view -c " + bam_path + " > /dev/null"));
    }
    const double hold_rss = child_numbers(self, "--hold " + sam_path + " " + held, 1)[0];

    const double mb = double(stream.size()) / 1e6;
    size_t raw_compressed = 0;
    for (const Chunk& c : chunks) {
        raw_compressed += c.deflated.size() + 26;
    }
    const char* label = set.label;
    std::printf(
            "%s: %zu %s, %.1f MB uncompressed BAM in %zu blocks; compressed: bam %.1f MB, zlib %.1f MB, "
            "zlib-raw %.1f MB, samtools %.1f MB\n",
            label, set.records, set.description, mb, blocks.size(), double(file.size()) / 1e6,
            double(zlib_compressed) / 1e6, double(raw_compressed) / 1e6, double(file_size(samtools_bam)) / 1e6);
    std::printf("%s: %-9s %9s %9s   (MB/s of uncompressed BAM, medians of %d interleaved rounds)\n", label, "", "write",
                "read", rounds);
    for (const char* arm : {"bam", "zlib", "zlib-raw"}) {
        std::printf("%s: %-9s %9.1f %9.1f\n", label, arm, mb / write.at(arm), mb / read.at(arm));
    }
    std::printf("%s: %-9s %9s %9s   (BAM in, indexed BAM out; BAM in, records without text)\n", label, "", "convert",
                "read");
    for (const char* arm : {"bam", "samtools"}) {
        std::printf("%s: %-9s %9.1f %9.1f\n", label, arm, mb / convert.at(arm), mb / read.at(arm));
    }
    const double record_bytes = double(stream.size()) / double(set.records);
    std::printf(
            "%s: peak RSS per record: %.0f B holding the SAM records and writing them, %.0f B reading "
            "(%.0f B of uncompressed BAM per record: %.1fx and %.1fx)\n",
            label, hold_rss / double(set.records), read_rss / double(set.records), record_bytes,
            hold_rss / double(stream.size()), read_rss / double(stream.size()));
    std::printf("%s: bam/zlib-raw: write %.2f read %.2f\n", label, write.at("zlib-raw") / write.at("bam"),
                read.at("zlib-raw") / read.at("bam"));
    std::fflush(stdout);
    char ratios[160];
    std::snprintf(ratios, sizeof ratios, "%s: bam/zlib: write %.2f read %.2f; bam/samtools: write %.2f read %.2f",
                  label, write.at("zlib") / write.at("bam"), read.at("zlib") / read.at("bam"),
                  convert.at("samtools") / convert.at("bam"), read.at("samtools") / read.at("bam"));
    return ratios;
}

// --- Many references ---------------------------------------------------------

std::string reference_name(size_t r) {
    char name[32];
    std::snprintf(name, sizeof name, "contig_%07zu", r);
    return name;
}

std::string references_header(size_t count) {
    std::string header = "@HD\tVN:1.6\tSO:coordinate\n";
    for (size_t r = 0; r < count; ++r) {
        header += "@SQ\tSN:" + reference_name(r) + "\tLN:1000000\n";
    }
    return header;
}

// A header of n references read, and n records on one reference added as
// SAM lines and written.
void run_references(size_t most, const std::string& stem) {
    const std::string path = stem + ".refs.bam";
    for (size_t n : {most / 4, most / 2, most}) {
        const std::string header = references_header(n);
        BAMFileHandler writer;
        check(writer.add_header_lines(header), writer);
        check(writer.write_to_bam_file(path, false), writer);
        BAMFileHandler reader;
        auto start = Clock::now();
        check(reader.read_from_bam_file(path), reader);
        const double read_seconds = seconds_since(start);
        std::printf("references: header of %7zu read in %7.3f s (%6.2f us per reference)\n", n, read_seconds,
                    read_seconds / double(n) * 1e6);
        std::fflush(stdout);

        for (size_t ref : {size_t(0), n - 1}) {
            BAMFileHandler handler;
            check(handler.add_header_lines(header), handler);
            const std::string prefix = "\t0\t" + reference_name(ref) + "\t";
            start = Clock::now();
            for (size_t i = 0; i < n; ++i) {
                check(handler.add_alignment_sam("r" + std::to_string(i) + prefix + std::to_string(1 + i % 900000) +
                                                "\t60\t4M\t*\t0\t0\tACGT\tFFFF"),
                      handler);
            }
            const double add_seconds = seconds_since(start);
            start = Clock::now();
            check(handler.write_to_bam_file(path, true), handler);
            const double write_seconds = seconds_since(start);
            std::printf(
                    "references: %7zu records on reference %7zu of %7zu added in %7.3f s, written in %7.3f s "
                    "(%6.2f us per record)\n",
                    n, ref + 1, n, add_seconds, write_seconds, (add_seconds + write_seconds) / double(n) * 1e6);
            std::fflush(stdout);
        }
    }
    std::remove(path.c_str());
    std::remove((path + ".bai").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (argc == 4 && mode == "--read") {
            return read_once(argv[2], argv[3]);
        }
        if (argc == 4 && mode == "--convert") {
            return convert_once(argv[2], argv[3]);
        }
        if (argc == 4 && mode == "--hold") {
            return hold_once(argv[2], argv[3]);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }

    size_t short_records = 200000, long_records = 1000, references = 100000;
    int rounds = 5;
    std::string dir = "/tmp";
    bool keep = false;
    for (int a = 1; a < argc; ++a) {
        const std::string option = argv[a];
        const bool has_value = a + 1 < argc;
        if (option == "--short" && has_value) {
            short_records = std::stoul(argv[++a]);
        } else if (option == "--long" && has_value) {
            long_records = std::stoul(argv[++a]);
        } else if (option == "--references" && has_value) {
            references = std::stoul(argv[++a]);
        } else if (option == "--rounds" && has_value) {
            rounds = std::max(1, std::stoi(argv[++a]));
        } else if (option == "--dir" && has_value) {
            dir = argv[++a];
        } else if (option == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: bench_bam [--short N] [--long N] [--references N] [--rounds N] [--dir DIR] "
                         "[--keep]\n");
            return 64;
        }
    }

    const std::string stem = dir + "/bench_bam_" + std::to_string(getpid());
    std::vector<std::string> files;
    const DataSet sets[] = {
            {"short", "150-base paired reads", short_records, generate_short_line},
            {"long", "basecalled long reads", long_records, generate_long_line},
    };
    std::vector<std::string> ratio_lines;
    int status = 0;
    try {
        for (const DataSet& set : sets) {
            if (set.records == 0) {
                continue;
            }
            const std::string set_stem = stem + "_" + set.label;
            for (const char* suffix : {".bam", ".bam.bai", ".sam", ".conv.bam", ".conv.bam.bai", ".st.bam",
                                       ".st.bam.bai", ".held.bam", ".held.bam.bai"}) {
                files.push_back(set_stem + suffix);
            }
            ratio_lines.push_back(run_data_set(set, argv[0], set_stem, rounds));
        }
        if (references > 0) {
            run_references(references, stem);
        }
        for (const std::string& line : ratio_lines) {
            std::printf("%s\n", line.c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    }
    if (!keep || status != 0) {
        for (const std::string& path : files) {
            std::remove(path.c_str());
        }
    }
    return status;
}
