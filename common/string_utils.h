#pragma once

#include <cstdarg>
#include <string>

namespace common {

// Makes a demangled type name readable: drops blanks, "std::", allocators
// and spells out std::string.
std::string shortenClassname(std::string name);

// Demangles with the C++ ABI (falling back to the given text), then shortens.
std::string demangle(const char* mangled_name);

// Strips isspace() characters from both ends.
std::string trim(std::string text);

// Cuts `text` to at most `max_length` characters, ending in "..." when cut.
std::string trunc_long_str(const std::string& text, int max_length);

// Drops one trailing carriage return and a leading UTF-8 byte-order mark.
std::string clean_string(const std::string& line);

// Fixed notation with trailing zeros dropped, keeping one digit after the
// point; "-0.0" becomes "0.0".
std::string encode_float(float value, int precision);

// printf-style formatting into a std::string; std::length_error on a
// formatting error.
std::string Sprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Sprintf_va(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace common
