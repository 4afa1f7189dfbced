#pragma once

#include <cstdint>
#include <string>

namespace common {

// Turns floating-point numbers and flags into text. Set the fields directly
// after default construction; an empty replacement text means the standard
// conversion is used.
class ValueFormatter {
public:
    int32_t float_precision = -1;   // negative: std::to_string
    int32_t double_precision = -1;  // negative: std::to_string
    std::string nan_text;
    std::string positive_infinity_text;
    std::string negative_infinity_text;
    std::string spare_text;  // kept for layout compatibility; nothing reads it
    std::string true_text;
    std::string false_text;
    bool fixed = false;  // fixed-point notation when a precision is given

    virtual ~ValueFormatter() = default;

    std::string Format(const float& value) const;
    std::string Format(const double& value) const;
    // The truth-value rule: the true/false text, or 1/0 when that text is empty.
    std::string Format(const bool& value) const;
};

}  // namespace common
