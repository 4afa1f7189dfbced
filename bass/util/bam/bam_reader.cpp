// BAM files in: BGZF blocks inflated into one buffer, then the header, the
// reference list and the records decoded from it. Every length and count
// read from the file is checked against the bytes that remain before use.
#include "bass/util/bam/bam_aux.h"
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"

#include <iterator>
#include <memory>
#include <stdexcept>

namespace bass {
namespace util {
namespace bam {

const char* BAMFileHandler::BamBuffer::take(uint64_t count) {
    if (count > remaining()) {
        throw std::runtime_error(BUFFER_END_EXTRACTING);
    }
    const char* start = data + position;
    position += count;
    return start;
}

bool BAMFileHandler::read_from_bam_file(const std::string& path) {
    FileNameScope scope(m_file_name, path);
    reset();
    // A large stream buffer: blocks arrive in few system calls.
    constexpr size_t stream_buffer_size = 128 << 10;
    const std::unique_ptr<char[]> stream_buffer(new char[stream_buffer_size]);
    std::ifstream in;
    in.rdbuf()->pubsetbuf(stream_buffer.get(), std::streamsize(stream_buffer_size));
    in.open(path, std::ios::binary);
    if (!in) {
        m_error_message = "Cannot open file " + path;
        return false;
    }
    // Records are decoded as soon as their bytes are in, so only a record's
    // worth of decompressed data is held at a time.
    std::vector<char> pending;
    DecodeState state;
    bool any_block = false;
    bool last_block_empty = false;
    while (in.peek() != std::ifstream::traits_type::eof()) {
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(state.consumed));
        state.consumed = 0;
        const size_t before = pending.size();
        if (!read_BGZF_block_from_BAM(in, pending)) {
            return false;
        }
        any_block = true;
        last_block_empty = pending.size() == before;
        if (!state.wait_for_end && !decode_bam_stream(pending, state, path, false)) {
            return false;
        }
    }
    if (in.bad()) {
        m_error_message = "Error while reading file " + path;
        return false;
    }
    if (!any_block || !last_block_empty) {
        m_error_message = "Final BGZF block was not the EOF sequence as expected in file " + path +
                          ". Perhaps the file is corrupt?";
        return false;
    }
    in.close();
    if (in.fail()) {
        m_error_message = "BAM file reported error on close " + path;
        return false;
    }
    // Whatever is left is a header or a record cut short: decoding it throws.
    return decode_bam_stream(pending, state, path, true);
}

namespace {

// Whether the header and reference list lie wholly in `bytes` (the stream
// from its start), walking on from where `state` says earlier calls got.
bool header_complete(const std::vector<char>& bytes, uint64_t& walked, int64_t& references_left) {
    auto u32_at = [&](uint64_t offset) {
        uint32_t value;
        std::memcpy(&value, bytes.data() + offset, 4);
        return value;
    };
    const uint64_t size = bytes.size();
    if (references_left < 0) {  // magic, l_text, text, n_ref
        if (size < 8 || size - 8 < uint64_t(u32_at(4)) + 4) {
            return false;
        }
        walked = 8 + uint64_t(u32_at(4));
        references_left = int64_t(u32_at(walked));
        walked += 4;
    }
    for (; references_left > 0; --references_left) {  // l_name, name, l_ref
        if (size - walked < 4 || size - walked - 4 < uint64_t(u32_at(walked)) + 4) {
            return false;
        }
        walked += 8 + uint64_t(u32_at(walked));
    }
    return true;
}

bool record_complete(const BAMFileHandler::BamBuffer& buffer) {
    if (buffer.remaining() < 4) {
        return false;
    }
    uint32_t block_size;
    std::memcpy(&block_size, buffer.data + buffer.position, 4);
    return buffer.remaining() - 4 >= block_size;
}

}  // namespace

bool BAMFileHandler::decode_bam_stream(const std::vector<char>& bytes,
                                       DecodeState& state,
                                       const std::string& path,
                                       bool at_end) {
    BamBuffer buffer;
    buffer.data = bytes.data();
    buffer.size = bytes.size();
    buffer.position = state.consumed;
    if (!state.header_done) {
        if (!at_end && !header_complete(bytes, state.header_walked, state.references_left)) {
            return true;
        }
        if (!decode_bam_header(buffer, path)) {
            return false;
        }
        state.header_done = true;
    }
    while (buffer.remaining() > 0 && (at_end || record_complete(buffer))) {
        const uint64_t record_start = buffer.position;
        try {
            if (!extract_alignment_from_buffer(buffer)) {
                return false;
            }
        } catch (const std::runtime_error&) {
            if (at_end) {
                throw;
            }
            buffer.position = record_start;
            state.wait_for_end = true;
            break;
        }
    }
    state.consumed = size_t(buffer.position);
    return true;
}

bool BAMFileHandler::decode_bam_header(BamBuffer& buffer, const std::string& path) {
    if (std::memcmp(buffer.take(4), BAM_MAGIC_WORD.data(), 4) != 0) {
        m_error_message = "BAM file did not contain well formed header: " + path;
        return false;
    }
    const uint32_t l_text = buffer.read<uint32_t>();
    std::string text(buffer.take(l_text), l_text);
    // Writers commonly end the text with a NUL, which is no part of it.
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    if (!add_header_lines(text)) {
        return false;
    }

    // The binary reference list is the one records' ids index; it replaces
    // what the header text's @SQ lines added.
    const uint32_t n_ref = buffer.read<uint32_t>();
    if (n_ref > buffer.remaining() / 8) {  // each reference takes at least 8 bytes
        throw std::runtime_error(BUFFER_END_EXTRACTING);
    }
    std::vector<RefSeq> references(n_ref);
    for (RefSeq& ref : references) {
        const uint32_t l_name = buffer.read<uint32_t>();
        const char* name = buffer.take(l_name);
        ref.name.assign(name, strnlen(name, l_name));
        ref.length = buffer.read<int32_t>();
    }
    set_references(std::move(references));
    return true;
}

bool BAMFileHandler::extract_alignment_from_buffer(BamBuffer& buffer) {
    const uint32_t block_size = buffer.read<uint32_t>();
    if (block_size > buffer.remaining()) {
        throw std::runtime_error(BUFFER_END_EXTRACTING);
    }
    // Fields are read against the end of the decompressed bytes: one that
    // runs past the record's end but not past those bytes is a length
    // mismatch, found once the fields are read.
    const uint64_t record_end = buffer.position + block_size;

    BamRecord record;
    record.ref_id = buffer.read<int32_t>();
    record.pos = buffer.read<int32_t>();
    const uint8_t l_read_name = buffer.read<uint8_t>();
    record.mapq = buffer.read<uint8_t>();
    record.bin = buffer.read<uint16_t>();
    const uint16_t n_cigar_op = buffer.read<uint16_t>();
    record.flag = buffer.read<uint16_t>();
    record.l_seq = buffer.read<int32_t>();
    record.next_ref_id = buffer.read<int32_t>();
    record.next_pos = buffer.read<int32_t>();
    record.tlen = buffer.read<int32_t>();

    const char* name = buffer.take(l_read_name);
    record.read_name.assign(name, strnlen(name, l_read_name));

    const char* cigar = buffer.take(4 * uint64_t(n_cigar_op));
    record.cigar.resize(n_cigar_op);
    if (n_cigar_op > 0) {
        std::memcpy(record.cigar.data(), cigar, 4 * size_t(n_cigar_op));
    }
    record.ref_length = get_cigar_ref_length(record.cigar);

    if (record.l_seq < 0) {
        m_error_message = "Negative sequence length in alignment record in file " + m_file_name;
        return false;
    }
    const uint64_t seq_bytes = (uint64_t(record.l_seq) + 1) / 2;
    const uint8_t* seq = reinterpret_cast<const uint8_t*>(buffer.take(seq_bytes));
    record.seq.assign(seq, seq + seq_bytes);
    const uint8_t* qual = reinterpret_cast<const uint8_t*>(buffer.take(uint64_t(record.l_seq)));
    record.qual.assign(qual, qual + record.l_seq);

    // Collected aside, so that the record's list holds just its fields.
    thread_local std::vector<AuxData> fields;
    fields.clear();
    while (buffer.position < record_end) {
        AuxData field;
        if (!read_aux_binary(buffer, field)) {
            m_error_message = "Invalid auxiliary data type found in alignment record in " + m_file_name;
            return false;
        }
        fields.push_back(std::move(field));
    }
    record.aux.reserve(fields.size());
    std::move(fields.begin(), fields.end(), std::back_inserter(record.aux));
    if (buffer.position != record_end) {
        m_error_message = "BAM file block length mismatch in file " + m_file_name;
        return false;
    }

    // The SAM text itself is built when it is asked for (get_alignment_sam,
    // write_to_sam_file); what would stop it is refused here.
    if (!check_sam_line_fields(record)) {
        m_error_message = "SAM line generation failed: " + m_error_message;
        return false;
    }
    m_records.push_back(std::move(record));
    m_is_sorted = false;  // the header's claim is checked against the records when written again
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
