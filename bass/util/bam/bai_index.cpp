// The BAI index: bins and the linear index built while a BAM file is
// written, the index file itself, and a text dump of one.
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"

#include <algorithm>
#include <fstream>
#include <iostream>

namespace bass {
namespace util {
namespace bam {

namespace {

constexpr uint32_t PSEUDO_BIN = 37450;
constexpr int WINDOW_SHIFT = 14;
const char BAI_MAGIC[4] = {'B', 'A', 'I', 1};

struct Level {
    int shift;
    int offset;
};
constexpr Level LEVELS[] = {{14, 4681}, {17, 585}, {20, 73}, {23, 9}, {26, 1}};

template <typename T>
void append_value(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

// Fixed-size reads of an index file; false once the file comes up short.
class IndexReader {
public:
    explicit IndexReader(std::ifstream& in) : m_in(in) {}
    template <typename T>
    bool read(T& value) {
        return bool(m_in.read(reinterpret_cast<char*>(&value), sizeof(T)));
    }

private:
    std::ifstream& m_in;
};

}  // namespace

int BAMFileHandler::reg_to_bin(int begin, int end) {
    const int64_t b = begin;
    const int64_t e = int64_t(end) - 1;
    for (const Level& level : LEVELS) {
        if ((b >> level.shift) == (e >> level.shift)) {
            return int(uint16_t((b >> level.shift) + level.offset));
        }
    }
    return 0;
}

void BAMFileHandler::reg_to_bins(int begin, int end, std::vector<uint16_t>& bins) {
    const int64_t b = begin;
    const int64_t e = int64_t(end) - 1;
    bins.push_back(0);
    for (auto level = std::rbegin(LEVELS); level != std::rend(LEVELS); ++level) {
        for (int64_t k = (b >> level->shift) + level->offset; k <= (e >> level->shift) + level->offset; ++k) {
            bins.push_back(uint16_t(k));
        }
    }
}

void BAMFileHandler::add_record_to_index(FileIndex& index,
                                         OpenChunk& chunk,
                                         const BamRecord& record,
                                         uint64_t start_offset,
                                         uint64_t end_offset) {
    if (record.ref_id == -1) {
        ++index.n_no_coor;
        return;
    }
    ReferenceIndex& reference = index.references[record.ref_id];

    // Linear index: every 16 kb window reached by the record [pos, pos +
    // ref_length] that no earlier record reached gets this record's offset.
    // A record placed at -1 counts from position 0.
    const int64_t begin = std::max<int64_t>(record.pos, 0);
    const int64_t end = std::max<int64_t>(int64_t(record.pos) + int64_t(record.ref_length), begin);
    const size_t begin_window = size_t(begin >> WINDOW_SHIFT);
    const size_t end_window = size_t(end >> WINDOW_SHIFT);
    auto& windows = reference.window_offsets;
    if (windows.empty()) {
        windows.resize(std::max<size_t>(1, 2 * end_window));
        std::fill(windows.begin(), windows.begin() + std::ptrdiff_t(end_window + 1), start_offset);
        reference.filled_windows = int32_t(end_window + 1);
    } else {
        if (end_window >= windows.size()) {
            windows.resize(2 * end_window);
        }
        const size_t filled = size_t(reference.filled_windows);
        for (size_t w = filled; w < begin_window; ++w) {
            windows[w] = windows[filled - 1];
        }
        for (size_t w = std::max(filled, begin_window); w <= end_window; ++w) {
            windows[w] = start_offset;
        }
        reference.filled_windows = int32_t(std::max(filled, end_window + 1));
    }

    if (chunk.open && (chunk.ref_id != record.ref_id || chunk.bin != record.bin)) {
        close_index_chunk(index, chunk);
    }
    if (!chunk.open) {
        chunk.open = true;
        chunk.ref_id = record.ref_id;
        chunk.bin = record.bin;
        chunk.begin = start_offset;
    }
    chunk.end = end_offset;

    if (record.flag & 0x4) {
        ++reference.unmapped_count;
    } else {
        ++reference.mapped_count;
    }
}

void BAMFileHandler::close_index_chunk(FileIndex& index, OpenChunk& chunk) {
    if (!chunk.open) {
        return;
    }
    ReferenceIndex& reference = index.references[chunk.ref_id];
    if (reference.begin_offset == ~uint64_t(0)) {
        reference.begin_offset = chunk.begin;
    }
    reference.end_offset = std::max(reference.end_offset, chunk.end);
    reference.bins[chunk.bin].chunks.push_back({chunk.begin, chunk.end});
    chunk.open = false;
}

bool BAMFileHandler::write_index_to_file(std::string path, FileIndex& index) const {
    FileNameScope scope(m_file_name, path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        m_error_message = "Cannot open index file " + path + " for writing";
        return false;
    }
    std::string bytes(BAI_MAGIC, sizeof BAI_MAGIC);
    append_value(bytes, index.n_ref);
    for (int32_t id = 0; id < index.n_ref; ++id) {
        const ReferenceIndex& reference = index.references[id];
        append_value(bytes, uint32_t(reference.bins.empty() ? 0 : reference.bins.size() + 1));
        if (!reference.bins.empty()) {
            append_value(bytes, PSEUDO_BIN);
            append_value(bytes, uint32_t(2));
            append_value(bytes, reference.begin_offset);
            append_value(bytes, reference.end_offset);
            append_value(bytes, reference.mapped_count);
            append_value(bytes, reference.unmapped_count);
        }
        for (const auto& bin : reference.bins) {
            append_value(bytes, uint32_t(bin.first));
            append_value(bytes, uint32_t(bin.second.chunks.size()));
            for (const ChunkIndex& chunk : bin.second.chunks) {
                append_value(bytes, chunk.begin);
                append_value(bytes, chunk.end);
            }
        }
        append_value(bytes, reference.filled_windows);
        for (int32_t w = 0; w < reference.filled_windows; ++w) {
            append_value(bytes, reference.window_offsets[size_t(w)]);
        }
    }
    append_value(bytes, index.n_no_coor);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        m_error_message = "Error while writing index file " + path;
        return false;
    }
    return true;
}

bool BAMFileHandler::print_index_from_file(std::string path) const {
    FileNameScope scope(m_file_name, path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_error_message = "Cannot open index file " + path;
        return false;
    }
    IndexReader reader(in);
    char magic[4];
    int32_t n_ref = 0;
    if (!reader.read(magic) || !std::equal(magic, magic + 4, BAI_MAGIC) || !reader.read(n_ref)) {
        m_error_message = "Encountered malformed BAI header in file " + path;
        return false;
    }
    auto truncated = [&] {
        m_error_message = "Encountered truncated index file " + path;
        return false;
    };
    std::ostream& out = std::cout;
    out << "n_ref is " << n_ref << std::endl;
    for (int32_t ref = 0; ref < n_ref; ++ref) {
        int32_t n_bin = 0;
        if (!reader.read(n_bin)) {
            return truncated();
        }
        out << "\nRef " << ref << " has " << n_bin << " bins" << std::endl;
        int64_t total_chunks = 0;
        for (int32_t b = 0; b < n_bin; ++b) {
            int32_t bin = 0, n_chunk = 0;
            if (!reader.read(bin) || !reader.read(n_chunk)) {
                return truncated();
            }
            out << "Ref " << ref << " bin " << bin << " has " << n_chunk << " chunks" << std::endl;
            if (uint32_t(bin) == PSEUDO_BIN) {
                if (n_chunk != 2) {
                    m_error_message = "Encountered malformed magic bin in index file " + path;
                    return false;
                }
                uint64_t begin = 0, end = 0, mapped = 0, unmapped = 0;
                if (!reader.read(begin) || !reader.read(end) || !reader.read(mapped) || !reader.read(unmapped)) {
                    return truncated();
                }
                out << "Magic bin says placed unmapped begin " << (begin >> 16) << "," << (begin & 0xFFFF) << " end "
                    << (end >> 16) << "," << (end & 0xFFFF) << ", num mapped " << mapped << ", unmapped " << unmapped
                    << std::endl;
                continue;
            }
            total_chunks += n_chunk;
            for (int32_t c = 0; c < n_chunk; ++c) {
                uint64_t begin = 0, end = 0;
                if (!reader.read(begin) || !reader.read(end)) {
                    return truncated();
                }
                out << "Start is file offset " << (begin >> 16) << " block offset " << (begin & 0xFFFF) << std::endl;
                out << "End is file offset " << (end >> 16) << " block offset " << (end & 0xFFFF) << std::endl;
            }
        }
        out << "Ref " << ref << " has " << total_chunks << " total real chunks" << std::endl;
        int32_t n_intv = 0;
        if (!reader.read(n_intv)) {
            return truncated();
        }
        out << "Ref " << ref << " has " << n_intv << " linear intervals" << std::endl;
        for (int32_t k = 0; k < n_intv; ++k) {
            uint64_t offset = 0;
            if (!reader.read(offset)) {
                return truncated();
            }
            out << "Linear file offset " << (offset >> 16) << " block offset " << (offset & 0xFFFF) << " ("
                << uint32_t(16384u * uint32_t(k)) << " - " << uint32_t(16384u * uint32_t(k) + 16383u) << ")"
                << std::endl;
        }
    }
    uint64_t n_no_coor = 0;
    if (reader.read(n_no_coor)) {
        out << "Got n_no_coor " << n_no_coor << std::endl;
        char extra = 0;
        if (reader.read(extra)) {
            out << "Error: more bytes available in the index file!" << std::endl;
        }
    }
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
