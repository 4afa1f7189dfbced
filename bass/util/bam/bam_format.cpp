#include "bass/util/bam/bam_format.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace bass {
namespace util {
namespace bam {

const std::string BAM_MAGIC_WORD("BAM\1", 4);
const std::string CIGAR_OP_CODES = "MIDNSHP=X";
const std::string SEQ_CODES = "=ACMGRSVTWYHKDBN";

const unsigned char HEADER_BYTES[16] = {0x1F, 0x8B, 0x08, 0x04, 0x00, 0x00, 0x00, 0x00,
                                        0x00, 0xFF, 0x06, 0x00, 0x42, 0x43, 0x02, 0x00};
const unsigned char END_OF_FILE_SEQ[28] = {0x1F, 0x8B, 0x08, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF,
                                           0x06, 0x00, 0x42, 0x43, 0x02, 0x00, 0x1B, 0x00, 0x03, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

size_t aux_array_element_size(char subtype) {
    switch (subtype) {
        case 'c':
        case 'C': return 1;
        case 's':
        case 'S': return 2;
        case 'i':
        case 'I':
        case 'f': return 4;
        default: return 0;
    }
}

int64_t parse_decimal(const char* begin, const char* end) {
    const char* p = begin;
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    if (p == end) {
        throw std::invalid_argument("not a decimal integer: '" + std::string(begin, end) + "'");
    }
    // Accumulate as a negative number so that the most negative value fits.
    int64_t value = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9') {
            throw std::invalid_argument("not a decimal integer: '" + std::string(begin, end) + "'");
        }
        const int digit = *p - '0';
        if (value < (std::numeric_limits<int64_t>::min() + digit) / 10) {
            throw std::out_of_range("integer out of range: '" + std::string(begin, end) + "'");
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<int64_t>::min()) {
            throw std::out_of_range("integer out of range: '" + std::string(begin, end) + "'");
        }
        value = -value;
    }
    return value;
}

int64_t parse_decimal_in(const char* begin, const char* end, int64_t low, int64_t high) {
    const int64_t value = parse_decimal(begin, end);
    if (value < low || value > high) {
        throw std::out_of_range("integer out of range: '" + std::string(begin, end) + "'");
    }
    return value;
}

float parse_float(const char* begin, const char* end) {
    const std::string text(begin, end);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        throw std::invalid_argument("not a number: '" + text + "'");
    }
    char* stop = nullptr;
    errno = 0;
    const float value = std::strtof(text.c_str(), &stop);
    if (stop != text.c_str() + text.size()) {
        throw std::invalid_argument("not a number: '" + text + "'");
    }
    if (errno == ERANGE && std::isinf(value)) {
        throw std::out_of_range("float out of range: '" + text + "'");
    }
    return value;
}

void append_float(std::string& out, float value) {
    char text[64];
    int length = std::snprintf(text, sizeof text, "%.6f", double(value));
    if (length > 0 && size_t(length) < sizeof text) {
        if (std::memchr(text, '.', size_t(length)) != nullptr) {
            while (text[length - 1] == '0') {
                --length;
            }
        }
        // Six decimals where they keep the value (to a millionth of it);
        // small values would lose most of their digits to them.
        const double read_back = double(std::strtof(text, nullptr));
        if (std::fabs(read_back - double(value)) <= 1e-6 * std::fabs(double(value))) {
            out.append(text, size_t(length));
            return;
        }
    }
    // The shortest text that reads back as exactly the stored float.
    const std::to_chars_result shortest = std::to_chars(text, text + sizeof text, value);
    out.append(text, size_t(shortest.ptr - text));
}

}  // namespace bam
}  // namespace util
}  // namespace bass
