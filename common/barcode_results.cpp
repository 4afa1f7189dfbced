#include "common/barcode_results.h"

#include <cctype>
#include <stdexcept>

#include "common/string_utils.h"

namespace common {
namespace barcode_naming {
namespace {

const std::string DUAL_BARCODE_OUTER_PREFIX = "barcode_external";
const std::string DUAL_BARCODE_INNER_PREFIX = "_internal";

// Widths and precisions beyond this would only make huge names out of a bad
// pattern.
constexpr int MAX_FIELD_WIDTH = 1000;

[[noreturn]] void refuse(const std::string& pattern, const std::string& why) {
    throw std::invalid_argument("invalid barcode name pattern \"" + pattern + "\": " + why);
}

// Reads a run of decimal digits at i, refusing values above MAX_FIELD_WIDTH.
void skip_bounded_number(const std::string& pattern, std::size_t& i, const char* what) {
    int value = 0;
    while (i < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i]))) {
        value = value * 10 + (pattern[i] - '0');
        if (value > MAX_FIELD_WIDTH) {
            refuse(pattern, std::string(what) + " too large");
        }
        ++i;
    }
}

// The pattern is handed to printf with one int argument, so nothing in it
// may read another argument or one of another type. An int conversion may
// carry flags, a width, a precision and an h or hh modifier (the int
// argument is still read as an int, then narrowed).
void validate_pattern(const std::string& pattern) {
    int conversions = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            continue;
        }
        ++i;
        if (i < pattern.size() && pattern[i] == '%') {
            continue;
        }
        while (i < pattern.size() && std::string("-+ #0").find(pattern[i]) != std::string::npos) {
            ++i;
        }
        skip_bounded_number(pattern, i, "field width");
        if (i < pattern.size() && pattern[i] == '.') {
            ++i;
            skip_bounded_number(pattern, i, "precision");
        }
        for (int modifiers = 0; modifiers < 2 && i < pattern.size() && pattern[i] == 'h'; ++modifiers) {
            ++i;
        }
        if (i == pattern.size()) {
            refuse(pattern, "incomplete conversion at the end");
        }
        if (std::string("diouxX").find(pattern[i]) == std::string::npos) {
            refuse(pattern,
                   std::string("conversion '") + pattern[i] +
                           "' is not allowed (one int conversion with flags, width, precision and h or hh only)");
        }
        if (++conversions > 1) {
            refuse(pattern, "more than one conversion");
        }
    }
}

std::string last_two(const std::string& name, const char* which) {
    if (name.size() < 2) {
        throw std::out_of_range(std::string("dual barcode name needs an ") + which +
                                " name of at least two characters, got \"" + name + "\"");
    }
    return name.substr(name.size() - 2);
}

}  // namespace

std::string generate_normalised_id(const std::string& name_pattern, int index, bool twelfth_barcode) {
    validate_pattern(name_pattern);
    std::string name = common::Sprintf(name_pattern.c_str(), index);
    if (index == 12 && twelfth_barcode) {
        name += "a";
    }
    return name;
}

std::string generate_dual_normalised_id(const std::string& outer_name, const std::string& inner_name) {
    return DUAL_BARCODE_OUTER_PREFIX + last_two(outer_name, "outer") + DUAL_BARCODE_INNER_PREFIX +
           last_two(inner_name, "inner");
}

}  // namespace barcode_naming
}  // namespace common
