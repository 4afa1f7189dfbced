#pragma once

// Constants and small helpers shared by the SAM/BAM/BAI sources of this
// folder (not part of the handler's interface).

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>

namespace bass {
namespace util {
namespace bam {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "BAM and BAI files are little-endian; values are copied as they lie in memory");

extern const std::string BAM_MAGIC_WORD;  // "BAM\1"
extern const std::string CIGAR_OP_CODES;  // letter of CIGAR operation code 0 to 8
extern const std::string SEQ_CODES;       // letter of 4-bit base code 0 to 15

constexpr size_t BGZF_HEADER_SIZE = 18;      // HEADER_BYTES and BSIZE
constexpr size_t BGZF_FOOTER_SIZE = 8;       // CRC-32 and ISIZE
constexpr size_t BGZF_MAX_DATA = 65536;      // uncompressed and compressed limit of a block
constexpr size_t BGZF_MAX_DEFLATED = 65510;  // largest body whose block size fits 16 bits
extern const unsigned char HEADER_BYTES[16];
extern const unsigned char END_OF_FILE_SEQ[28];

// Texts of the std::runtime_error thrown when a read or a write would run
// past the end of a BAM buffer.
constexpr const char* BUFFER_END_EXTRACTING = "Hit end of BAM buffer while extracting data";
constexpr const char* BUFFER_END_WRITING = "Hit end of BAM buffer while writing data";

constexpr int32_t MAX_READ_NAME_LENGTH = 254;  // l_read_name is one byte, with the NUL
constexpr uint32_t MAX_CIGAR_OP_LENGTH = (1u << 28) - 1;
constexpr size_t MAX_CIGAR_OPS = 65535;                 // n_cigar_op is 16 bits
constexpr int64_t MAX_BAI_POSITION = int64_t(1) << 29;  // end of the BAI binning range

// White space as SAM text separates its tokens (that of the "C" locale,
// whatever locale the application has set).
inline bool is_sam_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// True for M, D, N, = and X: operations that consume reference bases.
inline bool consumes_reference(uint32_t code) {
    return code == 0 || code == 2 || code == 3 || code == 7 || code == 8;
}

// True for M, I, S, = and X: operations that consume query bases.
inline bool consumes_query(uint32_t code) {
    return code == 0 || code == 1 || code == 4 || code == 7 || code == 8;
}

// Element width of a B array subtype; 0 for a letter that has none.
size_t aux_array_element_size(char subtype);

// Decimal integer over the whole text (optional sign, then digits only).
// Throws std::invalid_argument when the text is not one, std::out_of_range
// when it does not fit 64 bits.
int64_t parse_decimal(const char* begin, const char* end);
// As parse_decimal, and throws std::out_of_range outside [low, high].
int64_t parse_decimal_in(const char* begin, const char* end, int64_t low, int64_t high);
// A float over the whole text. Values that underflow (subnormal or zero)
// are kept; overflow throws std::out_of_range, a non-number
// std::invalid_argument.
float parse_float(const char* begin, const char* end);
// Fixed notation with six decimals, trailing zeros dropped ("3.", "0.25"),
// where that text reads back within a millionth of the value; otherwise
// (small values such as 6e-07, or -0.0152485) the shortest text that reads
// back as exactly the same float.
void append_float(std::string& out, float value);
// Decimal text of an integer.
template <typename T>
void append_integer(std::string& out, T value) {
    char text[24];
    out.append(text, size_t(std::to_chars(text, text + sizeof text, value).ptr - text));
}

// Names the file of one operation in the handler's current file name and
// empties it again on every way out.
class FileNameScope {
public:
    FileNameScope(std::string& slot, const std::string& path) : m_slot(slot) { m_slot = path; }
    ~FileNameScope() { m_slot.clear(); }
    FileNameScope(const FileNameScope&) = delete;
    FileNameScope& operator=(const FileNameScope&) = delete;

private:
    std::string& m_slot;
};

}  // namespace bam
}  // namespace util
}  // namespace bass
