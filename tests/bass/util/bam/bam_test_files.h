#pragma once

// Building and taking apart BAM files byte by byte, for tests that need
// files the handler would never write.

#include "bass/util/bam/bam_file.h"
#include "tests/common/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bam_test {

using bass::util::bam::BAMFileHandler;

// A path in a folder of this test process, removed with its files at exit.
inline std::string temp_path(const std::string& name) {
    static const vemla_test::TempFolder folder;
    return (folder.path() / name).string();
}

inline const std::vector<char>& eof_block() {
    static const std::vector<char> block = {0x1F, char(0x8B), 0x08, 0x04, 0,    0, 0,    0, 0,    char(0xFF),
                                            0x06, 0,          0x42, 0x43, 0x02, 0, 0x1B, 0, 0x03, 0,
                                            0,    0,          0,    0,    0,    0, 0,    0};
    return block;
}

template <typename T>
void put(std::vector<char>& out, T value) {
    const char* bytes = reinterpret_cast<const char*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

// Magic, header text and reference list of an uncompressed BAM stream.
inline std::vector<char> bam_header(const std::string& text, const std::vector<BAMFileHandler::RefSeq>& refs) {
    std::vector<char> out = {'B', 'A', 'M', 1};
    put(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    put(out, uint32_t(refs.size()));
    for (const auto& ref : refs) {
        put(out, uint32_t(ref.name.size() + 1));
        out.insert(out.end(), ref.name.c_str(), ref.name.c_str() + ref.name.size() + 1);
        put(out, ref.length);
    }
    return out;
}

// The bytes of a record parsed from a SAM line by a handler that knows the
// header's references.
inline std::vector<char> record_bytes(BAMFileHandler& handler, const std::string& sam_line) {
    BAMFileHandler::BamRecord record;
    EXPECT_TRUE(handler.parse_sam_line_to_bam_record(sam_line, record)) << handler.error_message();
    std::vector<char> bytes;
    EXPECT_TRUE(handler.serialise_bam_record_to_buffer(record, bytes)) << handler.error_message();
    return bytes;
}

// A file of the stream in BGZF blocks and, unless told otherwise, the
// end-of-file block.
inline void write_bgzf(const std::string& path, const std::vector<char>& stream, bool with_eof = true) {
    BAMFileHandler handler;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    uint64_t start = 0, end = 0;
    ASSERT_TRUE(handler.write_BGZF_blocks_to_BAM(out, stream, start, end));
    if (with_eof) {
        out.write(eof_block().data(), std::streamsize(eof_block().size()));
    }
}

inline std::vector<char> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

// The uncompressed stream of a BGZF file.
inline std::vector<char> inflate_file(const std::string& path) {
    BAMFileHandler handler;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> stream;
    while (in.peek() != EOF) {
        const bool read = handler.read_BGZF_block_from_BAM(in, stream);
        EXPECT_TRUE(read) << handler.error_message();
        if (!read) {
            break;
        }
    }
    return stream;
}

}  // namespace bam_test
