// BGZF blocks: gzip members of at most 64 KiB each, raw deflate inside.
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"

#include <zlib.h>

namespace bass {
namespace util {
namespace bam {

namespace {

// One deflate and one inflate stream per thread, reset for every block
// rather than set up anew (setting up allocates and clears a few hundred
// kilobytes).
class DeflateStream {
public:
    DeflateStream() {
        m_ready = deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (m_ready) {
            deflateEnd(&m_stream);
        }
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Null when the stream could not be set up.
    z_stream* fresh() {
        if (m_ready && deflateReset(&m_stream) == Z_OK) {
            return &m_stream;
        }
        return nullptr;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

class InflateStream {
public:
    InflateStream() { m_ready = inflateInit2(&m_stream, -15) == Z_OK; }
    ~InflateStream() {
        if (m_ready) {
            inflateEnd(&m_stream);
        }
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    z_stream* fresh() {
        if (m_ready && inflateReset(&m_stream) == Z_OK) {
            return &m_stream;
        }
        return nullptr;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

thread_local DeflateStream t_deflate;
thread_local InflateStream t_inflate;

template <typename T>
T read_le(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

// Inflates `count` bytes into exactly `expected` bytes at `out`.
bool inflate_exactly(const char* bytes, unsigned int count, char* out, unsigned int expected, std::string& error) {
    z_stream* stream = t_inflate.fresh();
    if (stream == nullptr) {
        error = "Could not initialize stream inflate";
        return false;
    }
    char spare = 0;  // an empty block still needs somewhere to point
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    stream->avail_in = count;
    stream->next_out = reinterpret_cast<Bytef*>(expected == 0 ? &spare : out);
    stream->avail_out = expected;
    const int result = inflate(stream, Z_FINISH);
    if (result != Z_STREAM_END) {
        error = "Inflate failed with error code " + std::to_string(result);
        return false;
    }
    if (stream->avail_out != 0) {
        error = "Inflate did not produce expected amount of data";
        return false;
    }
    return true;
}

}  // namespace

std::vector<char> BAMFileHandler::compress_data(const char* bytes, unsigned int count) const {
    if (bytes == nullptr || count > BGZF_MAX_DATA) {
        m_error_message = "Arguments to compress_data incorrect";
        return {};
    }
    z_stream* stream = t_deflate.fresh();
    if (stream == nullptr) {
        m_error_message = "Could not initialize stream deflate";
        return {};
    }
    thread_local std::vector<char> area(BGZF_MAX_DATA);
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes));
    stream->avail_in = count;
    stream->next_out = reinterpret_cast<Bytef*>(area.data());
    stream->avail_out = unsigned(area.size());
    const int result = deflate(stream, Z_FINISH);
    if (result != Z_STREAM_END) {
        m_error_message = "Deflate failed with error code " + std::to_string(result);
        // Output that did not fit comes back as a full area of zeros, which
        // tells the block writer to take a smaller chunk; anything else is a
        // failure (empty).
        return result == Z_OK || result == Z_BUF_ERROR ? std::vector<char>(BGZF_MAX_DATA, 0) : std::vector<char>();
    }
    return std::vector<char>(area.data(), area.data() + stream->total_out);
}

std::vector<char> BAMFileHandler::decompress_data(const char* bytes, unsigned int count, unsigned int expected) {
    if (bytes == nullptr || count > BGZF_MAX_DATA || expected > BGZF_MAX_DATA) {
        m_error_message = "Arguments to decompress_data incorrect";
        return {};
    }
    std::vector<char> result(expected);
    if (!inflate_exactly(bytes, count, result.data(), expected, m_error_message)) {
        return {};
    }
    return result;
}

bool BAMFileHandler::write_BGZF_blocks_to_BAM(std::ofstream& out,
                                              const std::vector<char>& bytes,
                                              uint64_t& start_offset,
                                              uint64_t& end_offset) const {
    start_offset = m_bgzf_offset << 16;
    size_t position = 0;
    while (position < bytes.size()) {
        unsigned int chunk = unsigned(std::min(bytes.size() - position, BGZF_MAX_DATA));
        std::vector<char> compressed = compress_data(bytes.data() + position, chunk);
        while (compressed.size() > BGZF_MAX_DEFLATED) {
            chunk /= 2;
            compressed = compress_data(bytes.data() + position, chunk);
        }
        if (compressed.empty()) {
            return false;  // compress_data left the reason
        }
        const uint16_t block_size = uint16_t(compressed.size() + BGZF_HEADER_SIZE + BGZF_FOOTER_SIZE - 1);
        const uint32_t crc = uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + position), chunk));
        out.write(reinterpret_cast<const char*>(HEADER_BYTES), sizeof HEADER_BYTES);
        out.write(reinterpret_cast<const char*>(&block_size), sizeof block_size);
        out.write(compressed.data(), std::streamsize(compressed.size()));
        out.write(reinterpret_cast<const char*>(&crc), sizeof crc);
        out.write(reinterpret_cast<const char*>(&chunk), sizeof chunk);
        m_bgzf_offset += compressed.size() + BGZF_HEADER_SIZE + BGZF_FOOTER_SIZE;
        position += chunk;
    }
    end_offset = m_bgzf_offset << 16;
    return true;
}

bool BAMFileHandler::read_BGZF_block_from_BAM(std::ifstream& in, std::vector<char>& buffer) {
    unsigned char header[BGZF_HEADER_SIZE];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
        m_error_message = "Encountered truncated BGZF block in file " + m_file_name;
        return false;
    }
    if (header[0] != 0x1F || header[1] != 0x8B || header[2] != 0x08 || header[3] != 0x04) {
        m_error_message = "Encountered malformed BGZF header in file " + m_file_name;
        return false;
    }
    const uint16_t xlen = read_le<uint16_t>(header + 10);
    if (xlen != 6) {
        m_error_message = "Encountered unknown sub fields in BGZF header in file " + m_file_name;
        return false;
    }
    if (header[12] != 'B' || header[13] != 'C' || read_le<uint16_t>(header + 14) != 2) {
        m_error_message = "Encountered malformed BGZF subfield in file " + m_file_name;
        return false;
    }
    const uint32_t compressed_length = uint32_t(read_le<uint16_t>(header + 16)) - xlen - 19u;
    if (compressed_length > BGZF_MAX_DATA) {
        m_error_message = "Encountered over-sized BGZF block in file " + m_file_name;
        return false;
    }

    thread_local std::vector<char> body(BGZF_MAX_DATA + BGZF_FOOTER_SIZE);
    if (!in.read(body.data(), std::streamsize(compressed_length + BGZF_FOOTER_SIZE))) {
        m_error_message = "Encountered truncated BGZF block in file " + m_file_name;
        return false;
    }
    const auto* footer = reinterpret_cast<const unsigned char*>(body.data() + compressed_length);
    const uint32_t stored_crc = read_le<uint32_t>(footer);
    const uint32_t data_size = read_le<uint32_t>(footer + 4);

    // Inflated straight onto the end of the buffer, taken back on failure.
    const size_t start = buffer.size();
    std::string error;
    bool inflated = false;
    if (data_size > BGZF_MAX_DATA) {
        error = "Arguments to decompress_data incorrect";
    } else {
        buffer.resize(start + data_size);
        inflated = inflate_exactly(body.data(), compressed_length, buffer.data() + start, data_size, error);
    }
    if (!inflated) {
        buffer.resize(start);
        m_error_message = "BGZF block did not unzip correctly in file " + m_file_name + " : " + error;
        return false;
    }
    if (uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(buffer.data() + start), data_size)) != stored_crc) {
        buffer.resize(start);
        m_error_message = "CRC mismatch after decompressing BGZF block!";
        return false;
    }
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
