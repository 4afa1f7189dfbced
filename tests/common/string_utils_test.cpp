#include "common/string_utils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

using namespace common;

TEST(Sprintf, ReturnsWholeTextAroundTheStackBufferSize) {
    for (std::size_t length : {0u, 1u, 1022u, 1023u, 1024u, 1025u, 5000u}) {
        std::string text(length, 'x');
        for (std::size_t i = 0; i < length; i += 7) text[i] = static_cast<char>('a' + i % 26);
        EXPECT_EQ(Sprintf("%s", text.c_str()), text) << length;
    }
    // Arguments survive the second formatting pass.
    const std::string long_text(3000, 'q');
    EXPECT_EQ(Sprintf("%d-%s-%05.1f", 42, long_text.c_str(), 2.25), "42-" + long_text + "-002.2");
    EXPECT_EQ(Sprintf("barcode%02i", 7), "barcode07");
}

TEST(Sprintf, FormattingErrorThrowsLengthError) {
    // A field width beyond INT_MAX makes vsnprintf report an overflow.
    const std::string format = "%2147483648d";
    EXPECT_THROW(Sprintf(format.c_str(), 1), std::length_error);
}

TEST(Trim, StripsOnlyOuterWhitespace) {
    EXPECT_EQ(trim("  a b\t\r\n"), "a b");
    EXPECT_EQ(trim("\t"), "");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim("\v\fx\v\f"), "x");
    EXPECT_EQ(trim("\xA0y\xA0"), "\xA0y\xA0");  // high bytes are not whitespace
}

TEST(TruncLongStr, NeverExceedsTheMaximum) {
    EXPECT_EQ(trunc_long_str("abcdefgh", 8), "abcdefgh");
    EXPECT_EQ(trunc_long_str("abcdefghi", 8), "abcde...");
    EXPECT_EQ(trunc_long_str("abcd", 3), "...");
    EXPECT_EQ(trunc_long_str("abcd", 2), "..");
    EXPECT_EQ(trunc_long_str("abcd", 0), "");
    EXPECT_EQ(trunc_long_str("abcd", -1), "");
    EXPECT_EQ(trunc_long_str("", -1), "");
    for (int max = 0; max < 12; ++max) {
        const std::string text(10, 'z');
        const auto result = trunc_long_str(text, max);
        EXPECT_LE(static_cast<int>(result.size()), max) << max;
        if (max >= 10) {
            EXPECT_EQ(result, text);
        }
    }
}

TEST(CleanString, DropsOneCarriageReturnAndTheByteOrderMark) {
    EXPECT_EQ(clean_string("\xEF\xBB\xBF"
                           "a\r"),
              "a");
    EXPECT_EQ(clean_string("ab\r"), "ab");
    EXPECT_EQ(clean_string("\r"), "");
    EXPECT_EQ(clean_string("\xEF\xBB\xBF"), "");
    EXPECT_EQ(clean_string("ab\r\r"), "ab\r");
    EXPECT_EQ(clean_string("a\rb"), "a\rb");
    EXPECT_EQ(clean_string(" x \t"), " x \t");
    EXPECT_EQ(clean_string("\xEF\xBB"), "\xEF\xBB");
}

TEST(EncodeFloat, TrailingZerosAndNegativeZero) {
    EXPECT_EQ(encode_float(1.5f, 3), "1.5");
    EXPECT_EQ(encode_float(2.0f, 2), "2.0");
    EXPECT_EQ(encode_float(10.0f, 4), "10.0");
    EXPECT_EQ(encode_float(-0.0001f, 2), "0.0");
    EXPECT_EQ(encode_float(3.0f, 0), "3.");
    EXPECT_EQ(encode_float(0.125f, 3), "0.125");
    EXPECT_EQ(encode_float(-2.5f, 1), "-2.5");
    EXPECT_EQ(encode_float(100.0f, 2), "100.0");
}

TEST(ShortenClassname, ReplacementTable) {
    EXPECT_EQ(shortenClassname("std::map<std::string, int>"), "map<string,int>");
    EXPECT_EQ(shortenClassname("std::vector<float, std::allocator<float> >"), "vector<float>");
    EXPECT_EQ(shortenClassname("std::basic_string<char, std::char_traits<char>, std::allocator<char> >"), "string");
    EXPECT_EQ(shortenClassname("unsigned int"), "unsigned int");
    EXPECT_EQ(shortenClassname("unsigned"), "unsigned ");
    EXPECT_EQ(shortenClassname("a\tb"), "a\tb");
    EXPECT_EQ(shortenClassname("std::chrono::seconds"), "chrono::seconds");
    EXPECT_EQ(shortenClassname("class subclassed"), "subed");
}

TEST(Demangle, RealTypesAndInvalidNames) {
    EXPECT_EQ(demangle(typeid(std::vector<float>).name()), "vector<float>");
    EXPECT_EQ(demangle(typeid(std::vector<int>).name()), "vector<int>");
    EXPECT_EQ(demangle(typeid(std::string).name()), "__cxx11::string");
    EXPECT_EQ(demangle(typeid(unsigned int).name()), "unsigned int");
    EXPECT_EQ(demangle("not a mangled name"), "notamangledname");
}
