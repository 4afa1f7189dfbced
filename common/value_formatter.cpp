#include "common/value_formatter.h"

#include <cmath>
#include <sstream>

namespace common {

namespace {

template <typename T>
std::string format_floating(const ValueFormatter& formatter, T value, int32_t precision) {
    if (!formatter.nan_text.empty() && std::isnan(value)) {
        return formatter.nan_text;
    }
    if (value > 0 && std::isinf(value) && !formatter.positive_infinity_text.empty()) {
        return formatter.positive_infinity_text;
    }
    if (value < 0 && std::isinf(value) && !formatter.negative_infinity_text.empty()) {
        return formatter.negative_infinity_text;
    }
    if (precision < 0) {
        return std::to_string(value);
    }
    std::ostringstream text;
    text.precision(precision);
    if (formatter.fixed) {
        text << std::fixed;
    }
    text << value;
    return text.str();
}

}  // namespace

std::string ValueFormatter::Format(const float& value) const {
    return format_floating(*this, value, float_precision);
}

std::string ValueFormatter::Format(const double& value) const {
    return format_floating(*this, value, double_precision);
}

std::string ValueFormatter::Format(const bool& value) const {
    const std::string& text = value ? true_text : false_text;
    return text.empty() ? std::to_string(static_cast<int>(value)) : text;
}

}  // namespace common
