// SAM header rules: which header lines are accepted, what they set, and the
// @HD line written with the records.
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"
#include "bass/util/bam/sam_order.h"

#include <stdexcept>

namespace bass {
namespace util {
namespace bam {

namespace {

std::vector<std::string> whitespace_tokens(const std::string& line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_sam_space(line[i])) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && !is_sam_space(line[i])) {
            ++i;
        }
        if (i > start) {
            tokens.emplace_back(line, start, i - start);
        }
    }
    return tokens;
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Whether the line is its record type alone or followed by tab-separated
// fields, each a two-character key, ':' and a value, as readers demand
// (a "@CO" line takes any text after its tab).
bool well_formed_header_line(const std::string& line, const std::string& type) {
    if (line == type) {
        return true;
    }
    if (line.compare(0, type.size(), type) != 0 || line.size() == type.size() || line[type.size()] != '\t') {
        return false;
    }
    if (type == "@CO") {
        return true;
    }
    size_t start = type.size() + 1;
    while (true) {
        const size_t stop = std::min(line.find('\t', start), line.size());
        if (stop - start < 3 || line[start + 2] != ':') {
            return false;
        }
        if (stop == line.size()) {
            return true;
        }
        start = stop + 1;
    }
}

std::string malformed_line_message(const std::string& type, const std::string& line) {
    return "Malformed " + type + " line encountered in header lines: " + line;
}

// "major.minor" with a major of 1 and a minor of 0 or more, nothing else.
bool parse_version(const std::string& text, int& major, int& minor) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos) {
        return false;
    }
    try {
        const char* p = text.data();
        const int64_t ma = parse_decimal_in(p, p + dot, INT32_MIN, INT32_MAX);
        const int64_t mi = parse_decimal_in(p + dot + 1, p + text.size(), INT32_MIN, INT32_MAX);
        if (ma != 1 || mi < 0) {
            return false;
        }
        major = int(ma);
        minor = int(mi);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// What an accepted @HD line sets.
struct HdLine {
    std::string version;
    int major = 1;
    int minor = 6;
    std::string sort_order;  // the ordering field as stored, e.g. "\tSO:coordinate"
    bool sorted = false;     // the line declares an order
};

bool parse_hd_line(const std::string& line, HdLine& hd, std::string& error) {
    const std::vector<std::string> tokens = whitespace_tokens(line);
    bool has_so = false, has_go = false, has_ss = false;
    std::string so, go, ss;
    for (size_t t = 1; t < tokens.size(); ++t) {
        const std::string& token = tokens[t];
        const std::string value = token.size() > 3 ? token.substr(3) : std::string();
        if (starts_with(token, "VN:")) {
            hd.version = value;
        } else if (starts_with(token, "SO:")) {
            has_so = true;
            so = value;
        } else if (starts_with(token, "GO:")) {
            has_go = true;
            go = value;
        } else if (starts_with(token, "SS:")) {
            has_ss = true;
            ss = value;
        } else {
            error = "Invalid field '" + token + "' encountered in @HD header line: " + line;
            return false;
        }
    }
    if (hd.version.empty()) {  // absent, or given without a value
        error = "Mandatory 'VN' field not found in @HD header line: " + line;
        return false;
    }
    if (!parse_version(hd.version, hd.major, hd.minor)) {
        error = "Invalid 'VN' field '" + hd.version + "' encountered in @HD header line: " + line;
        return false;
    }
    if (has_go && hd.minor < 5) {
        error = "Unsupported 'GO' field encountered in @HD header line with VN < 1.5: " + line;
        return false;
    }
    if (has_ss && hd.minor < 6) {
        error = "Unsupported 'SS' field encountered in @HD header line with VN < 1.6: " + line;
        return false;
    }
    if (has_so) {
        if (has_go) {
            error = "Mutually exclusive 'SO' and 'GO' fields encountered in @HD header line: " + line;
            return false;
        }
        if (so != "unknown" && so != "unsorted" && so != "queryname" && so != "coordinate") {
            error = "Invalid 'SO' field '" + so + "' encountered in @HD header line: " + line;
            return false;
        }
    }
    if (has_go && go != "none" && go != "query" && go != "reference") {
        error = "Invalid 'GO' field '" + go + "' encountered in @HD header line: " + line;
        return false;
    }
    // A sub-sort only means something under the sort order it refines.
    if (has_ss && !(has_so && starts_with(ss, (so + ":").c_str()))) {
        has_ss = false;
    }
    if (has_so) {
        hd.sort_order = "\tSO:" + so;
    }
    if (has_go) {
        hd.sort_order = "\tGO:" + go;
    }
    if (has_ss) {
        hd.sort_order = "\tSS:" + ss;
    }
    hd.sorted = has_ss || so == "queryname" || so == "coordinate" || go == "query" || go == "reference";
    return true;
}

}  // namespace

BAMFileHandler::BAMFileHandler() {
    m_cigar_op_codes.fill(-1);
    m_seq_codes.fill(-1);
    for (size_t i = 0; i < CIGAR_OP_CODES.size(); ++i) {
        m_cigar_op_codes[static_cast<unsigned char>(CIGAR_OP_CODES[i])] = int8_t(i);
    }
    for (size_t i = 0; i < SEQ_CODES.size(); ++i) {
        m_seq_codes[static_cast<unsigned char>(SEQ_CODES[i])] = int8_t(i);
    }
    m_seq_codes['U'] = m_seq_codes['T'];
}

bool BAMFileHandler::reset() {
    m_header.clear();
    m_header_lines.clear();
    m_sort_order.clear();
    m_references.clear();
    m_reference_ids.clear();
    m_records.clear();
    m_is_sorted = false;
    return true;
}

bool BAMFileHandler::add_header_lines(std::string header_text) {
    // Everything is collected aside and committed only once every line has
    // been accepted, so a failing call changes nothing.
    bool hd_seen = starts_with(m_header, "@HD");
    int minor = 6;
    std::string sort_order = m_sort_order;
    bool is_sorted = m_is_sorted;
    std::string new_lines;
    std::vector<RefSeq> new_references;
    std::unordered_map<std::string, int32_t> new_ids;  // of new_references, indexed as once committed

    size_t start = 0;
    while (start < header_text.size()) {
        size_t stop = header_text.find('\n', start);
        if (stop == std::string::npos) {
            stop = header_text.size();
        }
        const std::string line = header_text.substr(start, stop - start);
        start = stop + 1;

        const std::vector<std::string> tokens = whitespace_tokens(line);
        const std::string type = tokens.empty() ? std::string() : tokens[0];
        if (type == "@HD") {
            if (!sort_order.empty() || hd_seen) {
                m_error_message = "Multiple @HD lines encountered in header line: " + line;
                return false;
            }
            if (!m_header_lines.empty() || !new_lines.empty()) {
                m_error_message = "@HD lines encountered after first header line: " + line;
                return false;
            }
            HdLine hd;
            if (!parse_hd_line(line, hd, m_error_message)) {
                return false;
            }
            if (!well_formed_header_line(line, type)) {
                m_error_message = malformed_line_message(type, line);
                return false;
            }
            hd_seen = true;
            minor = hd.minor;
            sort_order = hd.sort_order;
            is_sorted = is_sorted || hd.sorted;
        } else if (type == "@SQ") {
            RefSeq ref;
            for (size_t t = 1; t < tokens.size(); ++t) {
                const std::string& token = tokens[t];
                if (starts_with(token, "SN:")) {
                    ref.name = token.substr(3);
                } else if (starts_with(token, "LN:")) {
                    ref.length = int32_t(
                            parse_decimal_in(token.data() + 3, token.data() + token.size(), INT32_MIN, INT32_MAX));
                }
            }
            if (ref.name.empty() || ref.length <= 0 || !well_formed_header_line(line, type)) {
                m_error_message = malformed_line_message(type, line);
                return false;
            }
            // Readers refuse a header naming one reference twice.
            const int32_t id = int32_t(m_references.size() + new_references.size());
            if (m_reference_ids.count(ref.name) != 0 || !new_ids.emplace(ref.name, id).second) {
                m_error_message = "Duplicate @SQ name '" + ref.name + "' encountered in header lines: " + line;
                return false;
            }
            new_references.push_back(std::move(ref));
            new_lines += line + '\n';
        } else if (type == "@RG" || type == "@PG") {
            if (minor < 3) {
                m_error_message = "Unsupported '" + type +
                                  "' line encountered in @HD header line with VN < 1.3: " + line;
                return false;
            }
            if (!well_formed_header_line(line, type)) {
                m_error_message = malformed_line_message(type, line);
                return false;
            }
            // Readers refuse read groups and programs without an identifier.
            if (line.find("\tID:") == std::string::npos) {
                m_error_message = "Mandatory 'ID' field not found in " + type + " header line: " + line;
                return false;
            }
            new_lines += line + '\n';
        } else if (type == "@CO") {
            if (!well_formed_header_line(line, type)) {
                m_error_message = malformed_line_message(type, line);
                return false;
            }
            new_lines += line + '\n';
        } else {
            m_error_message = "Invalid line encountered in header lines: " + line;
            return false;
        }
    }

    m_sort_order = std::move(sort_order);
    m_is_sorted = is_sorted;
    m_header_lines += new_lines;
    m_reference_ids.merge(new_ids);
    for (RefSeq& ref : new_references) {
        m_references.push_back(std::move(ref));
    }
    m_header += header_text;
    if (!m_header.empty() && m_header.back() != '\n') {
        m_header += '\n';
    }
    return true;
}

int32_t BAMFileHandler::reference_id(const std::string& name) const {
    const auto found = m_reference_ids.find(name);
    return found == m_reference_ids.end() ? -1 : found->second;
}

void BAMFileHandler::set_references(std::vector<RefSeq> references) {
    m_references = std::move(references);
    m_reference_ids.clear();
    m_reference_ids.reserve(m_references.size());
    for (size_t i = 0; i < m_references.size(); ++i) {
        m_reference_ids.emplace(m_references[i].name, int32_t(i));  // the first of a repeated name stays
    }
}

bool BAMFileHandler::get_header(std::string& header) const {
    header = m_header;
    return true;
}

bool BAMFileHandler::get_updated_header(std::string& header) const {
    header = "@HD\tVN:1.6";
    header += declared_order_holds() ? m_sort_order : std::string("\tSO:unknown");
    header += '\n';
    header += m_header_lines;
    return true;
}

bool BAMFileHandler::declared_order_holds() const {
    return m_is_sorted || (!m_sort_order.empty() && records_follow_order(m_records, m_sort_order));
}

void BAMFileHandler::sam_header_to_write(std::string& header) const {
    std::string order = m_sort_order;
    if (!declared_order_holds() && !order_claims_nothing(order)) {
        order = "\tSO:unknown";
    }
    if (!starts_with(m_header, "@HD")) {
        header = order.empty() ? m_header : "@HD\tVN:1.6" + order + '\n' + m_header;
        return;
    }
    // Keep the given @HD line unless the order it declares no longer holds.
    const size_t end = m_header.find('\n');
    const std::string line = m_header.substr(0, end);
    HdLine hd;
    std::string error;
    if (!parse_hd_line(line, hd, error) || hd.sort_order == order) {
        header = m_header;
        return;
    }
    header = "@HD\tVN:" + hd.version + order + m_header.substr(end);
}

}  // namespace bam
}  // namespace util
}  // namespace bass
