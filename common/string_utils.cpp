#include "common/string_utils.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <boost/algorithm/string/replace.hpp>

namespace common {

std::string shortenClassname(std::string name) {
    static const std::pair<const char*, const char*> steps[] = {
            {" ", ""},
            {"std::", ""},
            {"class", ""},
            {"struct", ""},
            {",allocator<float>", ""},
            {",allocator<int>", ""},
            {",allocator<char>", ""},
            {"basic_string<char,char_traits<char>>", "string"},
            {",allocator<string>", ""},
            {"signed", "signed "},
    };
    for (const auto& step : steps) {
        boost::algorithm::replace_all(name, step.first, step.second);
    }
    return name;
}

std::string demangle(const char* mangled_name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled_name, nullptr, nullptr, &status),
                                                     std::free);
    if (status != 0 || !demangled) {
        return shortenClassname(mangled_name);
    }
    return shortenClassname(demangled.get());
}

std::string trim(std::string text) {
    const auto is_space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t end = text.size();
    while (end > 0 && is_space(text[end - 1])) {
        --end;
    }
    std::size_t start = 0;
    while (start < end && is_space(text[start])) {
        ++start;
    }
    return text.substr(start, end - start);
}

std::string trunc_long_str(const std::string& text, int max_length) {
    if (static_cast<long long>(text.size()) <= max_length) {
        return text;
    }
    // Never longer than asked: with room for fewer than three characters the
    // ellipsis itself is cut.
    if (max_length < 3) {
        return std::string("...").substr(0, max_length < 0 ? 0 : static_cast<std::size_t>(max_length));
    }
    return text.substr(0, static_cast<std::size_t>(max_length - 3)) + "...";
}

std::string clean_string(const std::string& line) {
    std::string result = line;
    if (!result.empty() && result.back() == '\r') {
        result.pop_back();
    }
    if (result.size() >= 3 && static_cast<unsigned char>(result[0]) == 0xEF &&
        static_cast<unsigned char>(result[1]) == 0xBB && static_cast<unsigned char>(result[2]) == 0xBF) {
        result.erase(0, 3);
    }
    return result;
}

std::string encode_float(float value, int precision) {
    std::ostringstream stream;
    stream << std::fixed << std::showpoint << std::setprecision(precision) << value;
    std::string text = stream.str();
    const auto point = text.find('.');
    if (point == std::string::npos) {
        return text;
    }
    const auto last_kept = text.find_last_not_of('0');
    std::size_t keep = text.size();
    if (last_kept != std::string::npos && last_kept + 1 < text.size()) {
        keep = std::max(last_kept + 1, std::min(point + 2, text.size()));
    }
    text.erase(keep);
    if (text == "-0.0") {
        return "0.0";
    }
    return text;
}

std::string Sprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        std::string result = Sprintf_va(format, args);
        va_end(args);
        return result;
    } catch (...) {
        va_end(args);
        throw;
    }
}

std::string Sprintf_va(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char buffer[1024];
    const int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    if (length < 0) {
        va_end(copy);
        throw std::length_error("Sprintf: formatting error");
    }
    if (length < static_cast<int>(sizeof(buffer))) {
        va_end(copy);
        return std::string(buffer, static_cast<std::size_t>(length));
    }
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, copy);
    va_end(copy);
    return std::string(large.data(), static_cast<std::size_t>(length));
}

}  // namespace common
