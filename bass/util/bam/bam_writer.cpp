// BAM files out: records sorted, serialised, compressed into BGZF blocks,
// with the BAI index built alongside.
#include "bass/util/bam/bam_aux.h"
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"
#include "bass/util/bam/sam_order.h"

#include <algorithm>
#include <stdexcept>

namespace bass {
namespace util {
namespace bam {

namespace {

const char* const COORDINATE_ORDER = "\tSO:coordinate";

// Bounds-checked sequential writes into a buffer of known size.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<char>& buffer)
        : m_begin(buffer.data()), m_cursor(buffer.data()), m_end(buffer.data() + buffer.size()) {}

    void ensure(size_t count) const {
        if (count > size_t(m_end - m_cursor)) {
            throw std::runtime_error(BUFFER_END_WRITING);
        }
    }
    void put(const void* data, size_t count) {
        ensure(count);
        if (count > 0) {
            std::memcpy(m_cursor, data, count);
        }
        m_cursor += count;
    }
    template <typename T>
    void value(T v) {
        put(&v, sizeof v);
    }
    char*& cursor() { return m_cursor; }
    size_t used() const { return size_t(m_cursor - m_begin); }

private:
    char* m_begin;
    char* m_cursor;
    char* m_end;
};

bool starts_with_coordinate(const std::string& order) {
    return order.compare(0, std::char_traits<char>::length(COORDINATE_ORDER), COORDINATE_ORDER) == 0;
}

// Size of the record's BAM encoding, or false with the reason when the
// record cannot be written as it stands.
bool packed_size(const BAMFileHandler::BamRecord& record,
                 size_t n_ref,
                 std::vector<size_t>& aux_sizes,
                 size_t& size,
                 std::string& error) {
    if (record.read_name.size() > size_t(MAX_READ_NAME_LENGTH)) {
        error = "read name longer than " + std::to_string(MAX_READ_NAME_LENGTH) + " characters";
        return false;
    }
    if (record.cigar.size() > MAX_CIGAR_OPS) {
        error = "more than " + std::to_string(MAX_CIGAR_OPS) + " CIGAR operations";
        return false;
    }
    for (uint32_t operation : record.cigar) {
        if ((operation & 15) >= CIGAR_OP_CODES.size()) {
            error = "CIGAR operation code " + std::to_string(operation & 15) + " out of range";
            return false;
        }
    }
    const size_t l_seq = size_t(std::max(record.l_seq, 0));
    if (record.l_seq < 0 || record.seq.size() != (l_seq + 1) / 2 || record.qual.size() != l_seq) {
        error = "sequence and quality bytes do not match the sequence length";
        return false;
    }
    if (!cigar_fits_sequence(record, error)) {
        return false;
    }
    for (int32_t id : {record.ref_id, record.next_ref_id}) {
        if (id < -1 || (id >= 0 && size_t(id) >= n_ref)) {
            error = "reference id " + std::to_string(id) + " not in the reference list";
            return false;
        }
    }
    size = 36 + record.read_name.size() + 1 + 4 * record.cigar.size() + record.seq.size() + record.qual.size();
    aux_sizes.resize(record.aux.size());
    for (size_t k = 0; k < record.aux.size(); ++k) {
        if (!aux_binary_size(record.aux[k], aux_sizes[k], error)) {
            return false;
        }
        size += aux_sizes[k];
    }
    if (size - 4 > UINT32_MAX) {
        error = "record too large";
        return false;
    }
    return true;
}

}  // namespace

bool BAMFileHandler::sort() {
    // Stable, so that equal coordinates keep the order they were added in.
    std::stable_sort(m_records.begin(), m_records.end(), coordinate_less);
    m_is_sorted = true;
    m_sort_order = COORDINATE_ORDER;
    return true;
}

bool BAMFileHandler::write_to_bam_file(const std::string& path, bool write_index) {
    if (write_index && !(starts_with_coordinate(m_sort_order) && records_follow_order(m_records, COORDINATE_ORDER))) {
        sort();
    }
    return static_cast<const BAMFileHandler&>(*this).write_to_bam_file(path, write_index);
}

bool BAMFileHandler::write_to_bam_file(const std::string& path, bool write_index) const {
    FileNameScope scope(m_file_name, path);
    m_bgzf_offset = 0;

    // Everything that can be known in advance is checked before an existing
    // file is truncated.
    if (write_index && !(starts_with_coordinate(m_sort_order) && records_follow_order(m_records, COORDINATE_ORDER))) {
        m_error_message = "Index can be written only for sorted files";
        return false;
    }
    if (write_index && !check_indexable()) {
        return false;
    }
    std::vector<size_t> aux_sizes;
    for (const BamRecord& record : m_records) {
        size_t size = 0;
        std::string error;
        if (!packed_size(record, m_references.size(), aux_sizes, size, error)) {
            m_error_message = "Bam record serialization failed: Record " + record.read_name +
                              " cannot be written: " + error;
            return false;
        }
    }
    std::vector<char> buffer;
    if (!fill_header_buffer(buffer)) {
        return false;
    }

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        m_error_message = "Cannot open file " + path;
        return false;
    }
    uint64_t start = 0, end = 0;
    if (!write_BGZF_blocks_to_BAM(out, buffer, start, end)) {
        return false;
    }
    FileIndex index;
    index.n_ref = int32_t(m_references.size());
    OpenChunk chunk;
    for (const BamRecord& record : m_records) {
        if (!serialise_bam_record_to_buffer(record, buffer)) {
            m_error_message = "Bam record serialization failed: " + m_error_message;
            return false;
        }
        if (!write_BGZF_blocks_to_BAM(out, buffer, start, end)) {
            return false;
        }
        if (write_index) {
            add_record_to_index(index, chunk, record, start, end);
        }
    }
    if (write_index) {
        close_index_chunk(index, chunk);
    }
    out.write(reinterpret_cast<const char*>(END_OF_FILE_SEQ), sizeof END_OF_FILE_SEQ);
    out.close();
    if (!out) {
        m_error_message = "BAM file reported error on close " + path;
        return false;
    }
    if (write_index && !write_index_to_file(path + ".bai", index)) {
        m_error_message = "Could not write BAM index : " + m_error_message;
        return false;
    }
    return true;
}

bool BAMFileHandler::check_indexable() const {
    for (const BamRecord& record : m_records) {
        if (record.ref_id < 0) {
            continue;
        }
        const int64_t end = int64_t(record.pos) + int64_t(std::min<uint64_t>(record.ref_length, uint64_t(1) << 62));
        if (record.pos >= MAX_BAI_POSITION || end > MAX_BAI_POSITION) {
            m_error_message = "Record " + record.read_name + " lies beyond position " +
                              std::to_string(MAX_BAI_POSITION) + ", which a BAI index cannot hold";
            return false;
        }
    }
    return true;
}

bool BAMFileHandler::fill_header_buffer(std::vector<char>& buffer) const {
    std::string text;
    get_updated_header(text);
    size_t size = 12 + text.size();
    for (const RefSeq& ref : m_references) {
        size += ref.name.size() + 9;
    }
    buffer.assign(size, 0);
    ByteWriter writer(buffer);
    writer.put(BAM_MAGIC_WORD.data(), BAM_MAGIC_WORD.size());
    writer.value(uint32_t(text.size()));
    writer.put(text.data(), text.size());
    writer.value(uint32_t(m_references.size()));
    for (const RefSeq& ref : m_references) {
        writer.value(uint32_t(ref.name.size() + 1));
        writer.put(ref.name.c_str(), ref.name.size() + 1);
        writer.value(uint32_t(ref.length));
    }
    if (writer.used() != buffer.size()) {
        m_error_message = "Header buffer was not correctly filled during write";
        return false;
    }
    return true;
}

bool BAMFileHandler::serialise_bam_record_to_buffer(const BamRecord& record, std::vector<char>& buffer) const {
    std::vector<size_t> aux_sizes;
    size_t size = 0;
    std::string error;
    if (!packed_size(record, m_references.size(), aux_sizes, size, error)) {
        m_error_message = "Record " + record.read_name + " cannot be written: " + error;
        return false;
    }
    buffer.resize(size);
    ByteWriter writer(buffer);
    writer.value(uint32_t(size - 4));
    writer.value(record.ref_id);
    writer.value(record.pos);
    writer.value(uint8_t(record.read_name.size() + 1));
    writer.value(record.mapq);
    writer.value(record.bin);
    writer.value(uint16_t(record.cigar.size()));
    writer.value(record.flag);
    writer.value(record.l_seq);
    writer.value(record.next_ref_id);
    writer.value(record.next_pos);
    writer.value(record.tlen);
    writer.put(record.read_name.c_str(), record.read_name.size() + 1);
    writer.put(record.cigar.data(), 4 * record.cigar.size());
    writer.put(record.seq.data(), record.seq.size());
    writer.put(record.qual.data(), record.qual.size());
    for (size_t k = 0; k < record.aux.size(); ++k) {
        writer.ensure(aux_sizes[k]);
        write_aux_binary(writer.cursor(), record.aux[k]);
    }
    if (writer.used() != buffer.size()) {
        m_error_message = "Write buffer was not fully used when serialising SAM line";
        return false;
    }
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
