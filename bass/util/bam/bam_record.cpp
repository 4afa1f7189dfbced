// Codecs of a record's CIGAR, SEQ and QUAL columns.
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"

#include <array>

namespace bass {
namespace util {
namespace bam {

namespace {

// The two letters of each packed sequence byte.
const std::array<std::array<char, 2>, 256>& base_pairs() {
    static const auto table = [] {
        std::array<std::array<char, 2>, 256> pairs{};
        for (size_t byte = 0; byte < 256; ++byte) {
            pairs[byte] = {SEQ_CODES[byte >> 4], SEQ_CODES[byte & 15]};
        }
        return pairs;
    }();
    return table;
}

void append_operation(std::string& text, uint32_t operation) {
    append_integer(text, operation >> 4);
    const uint32_t code = operation & 15;
    text += code < CIGAR_OP_CODES.size() ? CIGAR_OP_CODES[code] : '?';
}

}  // namespace

bool BAMFileHandler::pack_cigar_string(const std::string& cigar_text,
                                       BamRecord& record,
                                       size_t& ref_length,
                                       size_t seq_text_length) {
    if (cigar_text == "*") {
        ref_length = 1;
        return true;
    }
    ref_length = 0;
    std::vector<uint32_t> operations;
    size_t i = 0;
    while (i < cigar_text.size()) {
        const size_t digits_start = i;
        uint64_t length = 0;
        while (i < cigar_text.size() && cigar_text[i] >= '0' && cigar_text[i] <= '9') {
            length = length * 10 + uint64_t(cigar_text[i] - '0');
            if (length > MAX_CIGAR_OP_LENGTH) {
                m_error_message = "Invalid cigar op length detected in '" + cigar_text + "'";
                return false;
            }
            ++i;
        }
        const std::string letter = i < cigar_text.size() ? cigar_text.substr(i, 1) : std::string();
        const int code = letter.empty() ? -1 : m_cigar_op_codes[static_cast<unsigned char>(letter[0])];
        if (code < 0) {
            m_error_message = "Invalid cigar op detected: '" + letter + "'";
            return false;
        }
        if (i == digits_start) {
            m_error_message = "Invalid cigar op length detected in '" + cigar_text + "'";
            return false;
        }
        ++i;
        operations.push_back(uint32_t(length) << 4 | uint32_t(code));
        if (consumes_reference(uint32_t(code))) {
            ref_length += length;
        }
    }

    if (operations.size() <= MAX_CIGAR_OPS) {
        record.cigar.insert(record.cigar.end(), operations.begin(), operations.end());
        return true;
    }
    // Too many operations for the record: the real CIGAR travels in a CG
    // field and the record carries "<query length>S<reference length>N".
    AuxNumericalArray array;
    array.subtype = 'I';
    array.count = uint32_t(operations.size());
    array.data.resize(operations.size() * sizeof(uint32_t));
    std::memcpy(array.data.data(), operations.data(), array.data.size());
    AuxData field;
    field.tag = "CG";
    field.type = 'B';
    field.value = std::move(array);

    std::vector<uint32_t> kept;
    kept.swap(record.cigar);
    size_t placeholder_length = 0;
    if (!pack_cigar_string(std::to_string(seq_text_length) + "S" + std::to_string(ref_length) + "N", record,
                           placeholder_length, 0)) {
        record.cigar.swap(kept);
        return false;
    }
    record.aux.push_back(std::move(field));
    return true;
}

bool BAMFileHandler::unpack_cigar_string(const uint32_t* operations,
                                         size_t count,
                                         std::string& text,
                                         size_t l_seq,
                                         bool& placeholder) {
    placeholder = false;
    if (count == 0) {
        text = "*";
        return true;
    }
    text.clear();
    for (size_t k = 0; k < count; ++k) {
        append_operation(text, operations[k]);
    }
    placeholder = (operations[0] & 15) == 4 && (operations[0] >> 4) >= l_seq;
    return true;
}

size_t BAMFileHandler::get_cigar_ref_length(const std::vector<uint32_t>& operations) {
    size_t length = 0;
    for (uint32_t operation : operations) {
        if (consumes_reference(operation & 15)) {
            length += operation >> 4;
        }
    }
    return length;
}

bool BAMFileHandler::pack_seq_string(const std::string& seq_text, BamRecord& record) {
    if (seq_text == "*") {
        record.l_seq = 0;
        return true;
    }
    if (seq_text.size() > size_t(INT32_MAX)) {
        m_error_message = "Sequence too long for a BAM record";
        return false;
    }
    std::vector<uint8_t> packed((seq_text.size() + 1) / 2, 0);
    for (size_t i = 0; i < seq_text.size(); ++i) {
        const int code = m_seq_codes[static_cast<unsigned char>(seq_text[i])];
        if (code < 0) {
            m_error_message = "Invalid sequence code detected";
            return false;
        }
        packed[i / 2] |= uint8_t(i % 2 == 0 ? code << 4 : code);
    }
    record.l_seq = int32_t(seq_text.size());
    record.seq = std::move(packed);
    return true;
}

bool BAMFileHandler::unpack_seq_string(const BamRecord& record, std::string& text) {
    if (record.l_seq <= 0) {
        text = "*";
        return true;
    }
    // Never past the bytes held, whatever l_seq claims.
    const size_t bases = std::min(size_t(record.l_seq), 2 * record.seq.size());
    const auto& pairs = base_pairs();
    const size_t start = text.size();
    text.resize(start + bases);
    char* out = &text[start];
    for (size_t k = 0; k < bases / 2; ++k) {
        const auto& pair = pairs[record.seq[k]];
        out[2 * k] = pair[0];
        out[2 * k + 1] = pair[1];
    }
    if (bases % 2 == 1) {
        out[bases - 1] = pairs[record.seq[bases / 2]][0];
    }
    return true;
}

bool BAMFileHandler::pack_phred_string(const std::string& qual_text, BamRecord& record) {
    const size_t length = size_t(std::max(record.l_seq, 0));
    record.qual.assign(length, 0xFF);
    if (qual_text == "*") {
        return true;
    }
    for (size_t i = 0; i < length && i < qual_text.size(); ++i) {
        record.qual[i] = uint8_t(qual_text[i] - 33);
    }
    return true;
}

bool BAMFileHandler::unpack_phred_string(const BamRecord& record, std::string& text) {
    if (record.l_seq <= 0 || record.qual.empty() || record.qual[0] == 0xFF) {
        text = "*";
        return true;
    }
    const size_t length = std::min(size_t(record.l_seq), record.qual.size());
    text.resize(length);
    for (size_t i = 0; i < length; ++i) {
        text[i] = char(record.qual[i] + 33);
    }
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
