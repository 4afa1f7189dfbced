// One SAM alignment line to a record and back.
#include "bass/util/bam/bam_aux.h"
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace bass {
namespace util {
namespace bam {

namespace {

struct Token {
    const char* begin = nullptr;
    const char* end = nullptr;
    bool empty() const { return begin == end; }
    std::string text() const { return std::string(begin, end); }
};

// The next whitespace-separated token at or after `p`.
Token next_token(const char*& p, const char* end) {
    while (p != end && is_sam_space(*p)) {
        ++p;
    }
    Token token{p, p};
    while (p != end && !is_sam_space(*p)) {
        ++p;
    }
    token.end = p;
    return token;
}

// A decimal column within [low, high]; false when it is not one.
bool numeric_column(const Token& token, int64_t low, int64_t high, int64_t& value) {
    try {
        value = parse_decimal_in(token.begin, token.end, low, high);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool BAMFileHandler::parse_sam_line_to_bam_record(const std::string& line, BamRecord& record) {
    if (!parse_sam_fields(line, record)) {
        return false;
    }
    record.sam_line = line;
    return true;
}

bool BAMFileHandler::parse_sam_fields(const std::string& line, BamRecord& record) {
    const char* p = line.data();
    const char* const end = p + line.size();
    int64_t flag = 0, pos = 0, mapq = 0, next_pos = 0, tlen = 0;

    // The eleven mandatory columns, the first at the start of the line and
    // each followed by a single tab: readers take any other separator as
    // part of a column or as an empty column.
    Token columns[11];
    bool separated = true;
    for (size_t k = 0; k < std::size(columns); ++k) {
        const char* previous_end = k == 0 ? line.data() : columns[k - 1].end;
        columns[k] = next_token(p, end);
        const ptrdiff_t gap = columns[k].begin - previous_end;
        separated = separated && (k == 0 ? gap == 0 : gap == 1 && *previous_end == '\t');
    }
    const Token &qname = columns[0], &rname = columns[2], &cigar = columns[5], &rnext = columns[6], &seq = columns[9],
                &qual = columns[10];
    // A numeric column that does not convert, or lies outside what SAM
    // allows, makes the line malformed.
    const bool numbers_ok = numeric_column(columns[1], 0, UINT16_MAX, flag) &&
                            numeric_column(columns[3], 0, INT32_MAX, pos) &&
                            numeric_column(columns[4], 0, UINT8_MAX, mapq) &&
                            numeric_column(columns[7], 0, INT32_MAX, next_pos) &&
                            numeric_column(columns[8], INT32_MIN, INT32_MAX, tlen);
    // A NUL would end a name or text early in the BAM record.
    const bool has_nul = std::memchr(line.data(), '\0', line.size()) != nullptr;
    if (!numbers_ok || !separated || qname.empty() || rname.empty() || cigar.empty() || rnext.empty() || seq.empty() ||
        qual.empty() || has_nul) {
        m_error_message = "Malformed SAM line detected";
        return false;
    }
    if (qname.end - qname.begin > MAX_READ_NAME_LENGTH) {
        m_error_message = "Read name longer than " + std::to_string(MAX_READ_NAME_LENGTH) +
                          " characters: " + qname.text();
        return false;
    }
    // In SAM text such a line would be read as a header line.
    if (*qname.begin == '@') {
        m_error_message = "Read name may not begin with '@': " + qname.text();
        return false;
    }

    record.read_name = qname.text();
    record.flag = uint16_t(flag);
    record.pos = int32_t(pos - 1);
    record.mapq = uint8_t(mapq);
    record.next_pos = int32_t(next_pos - 1);
    record.tlen = int32_t(tlen);

    const std::string seq_text = seq.text();
    size_t ref_length = 0;
    // The placeholder of an over-long CIGAR soft-clips the whole query; a
    // SEQ of "*" holds none (readers match the clip against l_seq).
    if (!pack_cigar_string(cigar.text(), record, ref_length, seq_text == "*" ? 0 : seq_text.size())) {
        return false;
    }
    record.ref_length = ref_length;
    const int64_t span_end = std::min<int64_t>(int64_t(record.pos) + int64_t(ref_length), INT32_MAX);
    record.bin = uint16_t(reg_to_bin(record.pos, int(span_end)));

    const std::string rname_text = rname.text();
    record.ref_id = reference_id(rname_text);
    const std::string rnext_text = rnext.text();
    record.next_ref_id = rnext_text == "=" ? record.ref_id : reference_id(rnext_text);

    if (!pack_seq_string(seq_text, record)) {
        return false;
    }
    const std::string qual_text = qual.text();
    // Without a sequence there is nothing for qualities to describe.
    if (qual_text != "*" && qual_text.size() != size_t(record.l_seq)) {
        m_error_message = "QUAL length " + std::to_string(qual_text.size()) + " does not match SEQ length " +
                          std::to_string(record.l_seq);
        return false;
    }
    if (record.l_seq != 0) {
        auto outside_phred_text = [](char c) { return c < '!' || c > '~'; };
        if (qual_text != "*" && std::any_of(qual_text.begin(), qual_text.end(), outside_phred_text)) {
            m_error_message = "Invalid quality code detected";
            return false;
        }
        pack_phred_string(qual_text, record);
    }

    // Optional fields: tab-delimited pieces after QUAL. Every tab opens a
    // piece, so a tab at the end of the line leaves an empty (invalid) one.
    const bool fields_follow = p != end;
    if (p != end && *p == '\t') {
        ++p;
    }
    record.aux.reserve(record.aux.size() + (fields_follow ? 1 + size_t(std::count(p, end, '\t')) : 0));
    bool piece_follows = fields_follow;
    while (piece_follows) {
        const char* stop = static_cast<const char*>(std::memchr(p, '\t', size_t(end - p)));
        piece_follows = stop != nullptr;
        if (stop == nullptr) {
            stop = end;
        }
        AuxData field;
        if (!parse_aux_text(p, stop, field, m_error_message, m_file_name)) {
            return false;
        }
        record.aux.push_back(std::move(field));
        p = piece_follows ? stop + 1 : end;
    }
    // Checked once the fields are in: the real CIGAR of a placeholder may be
    // among them.
    return cigar_fits_sequence(record, m_error_message);
}

bool BAMFileHandler::update_sam_line(BamRecord& record) const {
    return build_sam_line(record, record.sam_line);
}

bool BAMFileHandler::check_sam_line_fields(const BamRecord& record) const {
    for (uint32_t operation : record.cigar) {
        if ((operation & 15) >= CIGAR_OP_CODES.size()) {
            m_error_message = "Invalid cigar op code detected: " + std::to_string(operation & 15);
            return false;
        }
    }
    const int32_t n_ref = int32_t(m_references.size());
    for (int32_t id : {record.next_ref_id, record.ref_id}) {
        if (id < -1 || id >= n_ref) {
            m_error_message = "Invalid next segment ref ID detected";
            return false;
        }
    }
    const AuxData* real_cigar = placeholder_cigar_field(record);
    if (real_cigar != nullptr) {
        const char subtype = boost::any_cast<const AuxNumericalArray&>(real_cigar->value).subtype;
        if (subtype != 'I' && subtype != 'i') {
            m_error_message = "Invalid CG field: the operations must be 32-bit integers";
            return false;
        }
    }
    return cigar_fits_sequence(record, m_error_message);
}

bool BAMFileHandler::build_sam_line(const BamRecord& record, std::string& line) const {
    if (!check_sam_line_fields(record)) {
        return false;
    }
    const size_t l_seq = size_t(std::max(record.l_seq, 0));
    std::string cigar_text;
    bool placeholder = false;
    unpack_cigar_string(record.cigar.data(), record.cigar.size(), cigar_text, l_seq, placeholder);
    const AuxData* real_cigar = placeholder_cigar_field(record);
    if (real_cigar != nullptr) {
        const auto& array = boost::any_cast<const AuxNumericalArray&>(real_cigar->value);
        if (array.data.size() < size_t(array.count) * sizeof(uint32_t)) {
            throw std::runtime_error(BUFFER_END_EXTRACTING);
        }
        std::vector<uint32_t> operations(array.count);
        if (!operations.empty()) {
            std::memcpy(operations.data(), array.data.data(), operations.size() * sizeof(uint32_t));
        }
        unpack_cigar_string(operations.data(), operations.size(), cigar_text, l_seq, placeholder);
    }

    auto reference_name = [&](int32_t id) { return id == -1 ? std::string("*") : m_references[size_t(id)].name; };
    const std::string rname = reference_name(record.ref_id);
    std::string rnext = reference_name(record.next_ref_id);
    if (rnext != "*" && rnext == rname) {
        rnext = "=";
    }

    line.clear();
    line.reserve(record.read_name.size() + rname.size() + rnext.size() + cigar_text.size() + 2 * l_seq + 80);
    line += record.read_name;
    line += '\t';
    append_integer(line, record.flag);
    line += '\t';
    line += rname;
    line += '\t';
    append_integer(line, int64_t(record.pos) + 1);
    line += '\t';
    append_integer(line, unsigned(record.mapq));
    line += '\t';
    line += cigar_text;
    line += '\t';
    line += rnext;
    line += '\t';
    append_integer(line, int64_t(record.next_pos) + 1);
    line += '\t';
    append_integer(line, record.tlen);
    line += '\t';
    if (l_seq == 0) {
        line += '*';
    } else {
        unpack_seq_string(record, line);  // appends
    }
    line += '\t';
    if (l_seq == 0 || record.qual.empty() || record.qual[0] == 0xFF) {
        line += '*';
    } else {
        const size_t length = std::min(l_seq, record.qual.size());
        const size_t start = line.size();
        line.resize(start + length);
        for (size_t i = 0; i < length; ++i) {
            line[start + i] = char(record.qual[i] + 33);
        }
    }
    for (const AuxData& field : record.aux) {
        if (real_cigar != nullptr && field.tag == "CG" && field.type == 'B') {
            continue;
        }
        line += '\t';
        if (!append_aux_text(line, field, m_error_message)) {
            return false;
        }
    }
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
