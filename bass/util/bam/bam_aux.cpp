#include "bass/util/bam/bam_aux.h"

#include "bass/util/bam/bam_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <string_view>

namespace bass {
namespace util {
namespace bam {

namespace {

using AuxNumericalArray = BAMFileHandler::AuxNumericalArray;

// ",<value>" of every byte, signed and unsigned: B arrays of bytes (move
// tables, modification probabilities) are the long ones.
struct ByteTexts {
    struct Text {
        char chars[5];
        uint8_t length;
    };
    std::array<Text, 256> signed_text;
    std::array<Text, 256> unsigned_text;
};

const ByteTexts& byte_texts() {
    static const ByteTexts texts = [] {
        ByteTexts t{};
        for (int b = 0; b < 256; ++b) {
            for (int is_signed = 0; is_signed < 2; ++is_signed) {
                auto& entry = is_signed ? t.signed_text[size_t(b)] : t.unsigned_text[size_t(b)];
                const int value = is_signed ? int(int8_t(uint8_t(b))) : b;
                entry.chars[0] = ',';
                entry.length =
                        uint8_t(1 + (std::to_chars(entry.chars + 1, entry.chars + 5, value).ptr - (entry.chars + 1)));
            }
        }
        return t;
    }();
    return texts;
}

template <typename T>
T element_at(const std::vector<char>& data, size_t k) {
    T value;
    std::memcpy(&value, data.data() + k * sizeof(T), sizeof(T));
    return value;
}

template <typename T>
void append_elements(std::string& out, const AuxNumericalArray& array) {
    for (size_t k = 0; k < array.count; ++k) {
        out += ',';
        append_integer(out, element_at<T>(array.data, k));
    }
}

void append_byte_elements(std::string& out, const AuxNumericalArray& array, bool is_signed) {
    const auto& table = is_signed ? byte_texts().signed_text : byte_texts().unsigned_text;
    const size_t start = out.size();
    out.resize(start + 5 * size_t(array.count));
    char* p = &out[start];
    for (size_t k = 0; k < array.count; ++k) {
        const auto& text = table[static_cast<unsigned char>(array.data[k])];
        std::memcpy(p, text.chars, 5);
        p += text.length;
    }
    out.resize(size_t(p - out.data()));
}

bool append_array_text(std::string& out, const AuxNumericalArray& array, std::string& error) {
    const size_t element_size = aux_array_element_size(array.subtype);
    if (element_size == 0 && array.count > 0) {
        error = std::string("Invalid auxiliary array subtype encountered: ") + array.subtype;
        return false;
    }
    if (array.data.size() < size_t(array.count) * element_size) {
        throw std::runtime_error(BUFFER_END_EXTRACTING);
    }
    out += "B:";
    out += array.subtype;
    switch (array.subtype) {
        case 'c': append_byte_elements(out, array, true); break;
        case 'C': append_byte_elements(out, array, false); break;
        case 's': append_elements<int16_t>(out, array); break;
        case 'S': append_elements<uint16_t>(out, array); break;
        case 'i': append_elements<int32_t>(out, array); break;
        case 'I': append_elements<uint32_t>(out, array); break;
        case 'f':
            for (size_t k = 0; k < array.count; ++k) {
                out += ',';
                append_float(out, element_at<float>(array.data, k));
            }
            break;
        default: break;
    }
    return true;
}

template <typename T>
void put_element(AuxNumericalArray& array, size_t k, T value) {
    std::memcpy(array.data.data() + k * sizeof(T), &value, sizeof(T));
}

// "c,1,2,3" in [begin, end) of the field `piece`: elements range-checked for
// their subtype, never truncated.
bool parse_array(const char* begin,
                 const char* end,
                 std::string_view piece,
                 AuxNumericalArray& array,
                 std::string& error) {
    if (begin == end) {
        error = "Invalid aux data detected: " + std::string(piece);
        return false;
    }
    array.subtype = *begin;
    // Readers take the subtype alone (an empty array) or followed by a comma
    // and the elements, and no subtype they do not know.
    if (end - begin > 1 && begin[1] != ',') {
        error = "Invalid aux data detected: " + std::string(piece);
        return false;
    }
    const size_t element_size = aux_array_element_size(array.subtype);
    if (element_size == 0) {
        error = std::string("Invalid auxiliary array subtype '") + array.subtype +
                "' in aux data: " + std::string(piece);
        return false;
    }
    const size_t count = size_t(std::count(begin, end, ','));
    if (count == 0) {
        return true;
    }
    if (count > std::numeric_limits<uint32_t>::max()) {
        throw std::out_of_range("too many array elements in aux data: " + std::string(piece));
    }
    array.count = uint32_t(count);
    array.data.assign(count * element_size, 0);

    size_t k = 0;
    const char* b = begin + std::min<ptrdiff_t>(2, end - begin);
    while (true) {
        const char* e = std::find(b, end, ',');
        if (k >= count) {
            throw std::runtime_error(BUFFER_END_WRITING);
        }
        switch (array.subtype) {
            case 'c': put_element(array, k, int8_t(parse_decimal_in(b, e, INT8_MIN, INT8_MAX))); break;
            case 'C': put_element(array, k, uint8_t(parse_decimal_in(b, e, 0, UINT8_MAX))); break;
            case 's': put_element(array, k, int16_t(parse_decimal_in(b, e, INT16_MIN, INT16_MAX))); break;
            case 'S': put_element(array, k, uint16_t(parse_decimal_in(b, e, 0, UINT16_MAX))); break;
            case 'i': put_element(array, k, int32_t(parse_decimal_in(b, e, INT32_MIN, INT32_MAX))); break;
            case 'I': put_element(array, k, uint32_t(parse_decimal_in(b, e, 0, UINT32_MAX))); break;
            default: put_element(array, k, parse_float(b, e)); break;
        }
        ++k;
        if (e == end) {
            break;
        }
        b = e + 1;
    }
    return true;
}

}  // namespace

bool parse_aux_text(const char* begin,
                    const char* end,
                    AuxData& field,
                    std::string& error,
                    const std::string& file_name) {
    const size_t size = size_t(end - begin);
    if (size < 5 || begin[2] != ':' || begin[4] != ':') {
        error = "Invalid aux data detected: " + std::string(begin, end);
        return false;
    }
    field.tag.assign(begin, 2);
    field.type = begin[3];
    const char* b = begin + 5;
    switch (field.type) {
        case 'A':
            // Readers take a printable character only (an empty value would
            // put a NUL into the SAM text).
            if (b == end || *b < ' ' || *b > '~') {
                error = "Invalid aux data detected: " + std::string(begin, end);
                return false;
            }
            field.value = *b;
            return true;
        case 'i': {
            // SAM integers reach 2^32 - 1; those above the signed range are
            // held unsigned.
            const int64_t number = parse_decimal_in(b, end, INT32_MIN, UINT32_MAX);
            if (number > INT32_MAX) {
                field.type = 'I';
                field.value = static_cast<unsigned int>(number);
            } else {
                field.value = static_cast<int>(number);
            }
            return true;
        }
        case 'f': field.value = parse_float(b, end); return true;
        case 'H':
            // Readers take hex text only as whole bytes.
            if ((end - b) % 2 != 0) {
                error = "Invalid aux data detected: " + std::string(begin, end);
                return false;
            }
            field.value = std::string(b, end);
            return true;
        case 'Z': field.value = std::string(b, end); return true;
        case 'B': {
            AuxNumericalArray array;
            if (!parse_array(b, end, std::string_view(begin, size), array, error)) {
                return false;
            }
            field.value = std::move(array);
            return true;
        }
        default:
            error = std::string("Invalid auxiliary data type) '") + field.type + "' found in alignment record in " +
                    file_name;
            return false;
    }
}

bool append_aux_text(std::string& out, const AuxData& field, std::string& error) {
    out += field.tag;
    out += ':';
    switch (field.type) {
        case 'A':
            out += "A:";
            out += boost::any_cast<char>(field.value);
            return true;
        case 'c':
            out += "i:";
            append_integer(out, int(boost::any_cast<signed char>(field.value)));
            return true;
        case 'C':
            out += "i:";
            append_integer(out, unsigned(boost::any_cast<unsigned char>(field.value)));
            return true;
        case 's':
            out += "i:";
            append_integer(out, int(boost::any_cast<short>(field.value)));
            return true;
        case 'S':
            out += "i:";
            append_integer(out, unsigned(boost::any_cast<unsigned short>(field.value)));
            return true;
        case 'i':
            out += "i:";
            append_integer(out, boost::any_cast<int>(field.value));
            return true;
        case 'I':
            out += "i:";
            append_integer(out, boost::any_cast<unsigned int>(field.value));
            return true;
        case 'f':
            out += "f:";
            append_float(out, boost::any_cast<float>(field.value));
            return true;
        case 'Z':
        case 'H':
            out += field.type;
            out += ':';
            out += boost::any_cast<const std::string&>(field.value);
            return true;
        case 'B': return append_array_text(out, boost::any_cast<const AuxNumericalArray&>(field.value), error);
        default: error = std::string("Invalid auxiliary data type encountered: ") + field.type; return false;
    }
}

bool aux_binary_size(const AuxData& field, size_t& size, std::string& error) {
    if (field.tag.size() != 2) {
        error = "Invalid auxiliary tag '" + field.tag + "'";
        return false;
    }
    switch (field.type) {
        case 'A':
            boost::any_cast<char>(field.value);
            size = 4;
            return true;
        case 'c':
            boost::any_cast<signed char>(field.value);
            size = 4;
            return true;
        case 'C':
            boost::any_cast<unsigned char>(field.value);
            size = 4;
            return true;
        case 's':
            boost::any_cast<short>(field.value);
            size = 5;
            return true;
        case 'S':
            boost::any_cast<unsigned short>(field.value);
            size = 5;
            return true;
        case 'i':
            boost::any_cast<int>(field.value);
            size = 7;
            return true;
        case 'I':
            boost::any_cast<unsigned int>(field.value);
            size = 7;
            return true;
        case 'f':
            boost::any_cast<float>(field.value);
            size = 7;
            return true;
        case 'Z':
        case 'H': {
            const auto& text = boost::any_cast<const std::string&>(field.value);
            // A NUL inside would end the text early for every reader.
            if (text.find('\0') != std::string::npos) {
                error = "Auxiliary text of field " + field.tag + " holds a NUL character";
                return false;
            }
            size = text.size() + 4;
            return true;
        }
        case 'B': {
            const auto& array = boost::any_cast<const AuxNumericalArray&>(field.value);
            const size_t element_size = aux_array_element_size(array.subtype);
            if (element_size == 0 || array.data.size() != size_t(array.count) * element_size) {
                error = "Invalid auxiliary array in field " + field.tag;
                return false;
            }
            size = array.data.size() + 8;
            return true;
        }
        default: error = std::string("Invalid auxiliary data type encountered: ") + field.type; return false;
    }
}

namespace {

template <typename T>
void put(char*& out, T value) {
    std::memcpy(out, &value, sizeof(T));
    out += sizeof(T);
}

}  // namespace

void write_aux_binary(char*& out, const AuxData& field) {
    *out++ = field.tag[0];
    *out++ = field.tag[1];
    *out++ = field.type;
    switch (field.type) {
        case 'A': put(out, boost::any_cast<char>(field.value)); break;
        case 'c': put(out, boost::any_cast<signed char>(field.value)); break;
        case 'C': put(out, boost::any_cast<unsigned char>(field.value)); break;
        case 's': put(out, boost::any_cast<short>(field.value)); break;
        case 'S': put(out, boost::any_cast<unsigned short>(field.value)); break;
        case 'i': put(out, boost::any_cast<int>(field.value)); break;
        case 'I': put(out, boost::any_cast<unsigned int>(field.value)); break;
        case 'f': put(out, boost::any_cast<float>(field.value)); break;
        case 'Z':
        case 'H': {
            const auto& text = boost::any_cast<const std::string&>(field.value);
            std::memcpy(out, text.data(), text.size());
            out += text.size();
            *out++ = '\0';
            break;
        }
        case 'B': {
            const auto& array = boost::any_cast<const AuxNumericalArray&>(field.value);
            *out++ = array.subtype;
            put(out, array.count);
            if (!array.data.empty()) {
                std::memcpy(out, array.data.data(), array.data.size());
                out += array.data.size();
            }
            break;
        }
        default: break;
    }
}

bool read_aux_binary(BAMFileHandler::BamBuffer& buffer, AuxData& field) {
    const char* head = buffer.take(3);
    field.tag.assign(head, 2);
    field.type = head[2];
    switch (field.type) {
        case 'A': field.value = buffer.read<char>(); return true;
        case 'c': field.value = buffer.read<signed char>(); return true;
        case 'C': field.value = buffer.read<unsigned char>(); return true;
        case 's': field.value = buffer.read<short>(); return true;
        case 'S': field.value = buffer.read<unsigned short>(); return true;
        case 'i': field.value = buffer.read<int>(); return true;
        case 'I': field.value = buffer.read<unsigned int>(); return true;
        case 'f': field.value = buffer.read<float>(); return true;
        case 'Z':
        case 'H': {
            const char* start = buffer.data + buffer.position;
            const void* nul = std::memchr(start, '\0', size_t(buffer.remaining()));
            if (nul == nullptr) {
                buffer.take(buffer.remaining() + 1);  // throws: the text runs past the end
            }
            const size_t length = size_t(static_cast<const char*>(nul) - start);
            field.value = std::string(buffer.take(length + 1), length);
            return true;
        }
        case 'B': {
            AuxNumericalArray array;
            array.subtype = buffer.read<char>();
            array.count = buffer.read<uint32_t>();
            const size_t element_size = aux_array_element_size(array.subtype);
            if (element_size == 0 && array.count > 0) {
                throw std::runtime_error(BUFFER_END_EXTRACTING);
            }
            const uint64_t bytes = uint64_t(array.count) * element_size;
            const char* data = buffer.take(bytes);  // checked before anything is reserved
            array.data.assign(data, data + bytes);
            field.value = std::move(array);
            return true;
        }
        default: return false;
    }
}

const AuxData* placeholder_cigar_field(const BAMFileHandler::BamRecord& record) {
    if (record.cigar.empty() || (record.cigar[0] & 15) != 4 ||
        (record.cigar[0] >> 4) < uint32_t(std::max(record.l_seq, 0))) {
        return nullptr;
    }
    for (const AuxData& field : record.aux) {
        if (field.tag == "CG" && field.type == 'B') {
            return &field;
        }
    }
    return nullptr;
}

bool cigar_fits_sequence(const BAMFileHandler::BamRecord& record, std::string& error) {
    if (record.l_seq <= 0 || record.cigar.empty()) {
        return true;
    }
    const char* operations = reinterpret_cast<const char*>(record.cigar.data());
    size_t count = record.cigar.size();
    const AuxData* real_cigar = placeholder_cigar_field(record);
    if (real_cigar != nullptr) {
        // Readers take the real CIGAR only from 32-bit words; otherwise the
        // placeholder itself is what they check.
        const auto& array = boost::any_cast<const AuxNumericalArray&>(real_cigar->value);
        if ((array.subtype == 'I' || array.subtype == 'i') &&
            array.data.size() >= size_t(array.count) * sizeof(uint32_t)) {
            operations = array.data.data();
            count = array.count;
        }
    }
    uint64_t query_length = 0;
    for (size_t k = 0; k < count; ++k) {
        uint32_t operation;
        std::memcpy(&operation, operations + k * sizeof operation, sizeof operation);
        if (consumes_query(operation & 15)) {
            query_length += operation >> 4;
        }
    }
    if (query_length != uint64_t(record.l_seq)) {
        error = "CIGAR query length " + std::to_string(query_length) + " does not match SEQ length " +
                std::to_string(record.l_seq);
        return false;
    }
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
