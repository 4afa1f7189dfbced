#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "common/barcode_results.h"

namespace {

using common::barcode_naming::generate_dual_normalised_id;
using common::barcode_naming::generate_normalised_id;

TEST(BarcodeNaming, PatternIsAppliedToTheIndex) {
    EXPECT_EQ(generate_normalised_id("barcode%02i", 5, false), "barcode05");
    EXPECT_EQ(generate_normalised_id("BC%03d", 7, false), "BC007");
    EXPECT_EQ(generate_normalised_id("BC%03d", 1234, false), "BC1234");
    EXPECT_EQ(generate_normalised_id("lamp%d", -3, false), "lamp-3");
    EXPECT_EQ(generate_normalised_id("x%-4dy", 5, false), "x5   y");
    EXPECT_EQ(generate_normalised_id("%#x", 255, false), "0xff");
    EXPECT_EQ(generate_normalised_id("bc%X", 255, false), "bcFF");
    // A precision or an h/hh modifier still reads the one int argument.
    EXPECT_EQ(generate_normalised_id("bc%.2d", 5, false), "bc05");
    EXPECT_EQ(generate_normalised_id("bc%4.3d|", 5, false), "bc 005|");
    EXPECT_EQ(generate_normalised_id("bc%.d", 0, false), "bc");
    EXPECT_EQ(generate_normalised_id("bc%hd", 7, false), "bc7");
    EXPECT_EQ(generate_normalised_id("bc%02hhu", 258, false), "bc02");
}

TEST(BarcodeNaming, TwelfthBarcodeGetsAnAOnlyWithTheFlag) {
    EXPECT_EQ(generate_normalised_id("barcode%02i", 12, true), "barcode12a");
    EXPECT_EQ(generate_normalised_id("barcode%02i", 12, false), "barcode12");
    EXPECT_EQ(generate_normalised_id("barcode%02i", 11, true), "barcode11");
    EXPECT_EQ(generate_normalised_id("barcode%02i", 13, true), "barcode13");
}

TEST(BarcodeNaming, PatternWithoutConversionIsLiteralText) {
    EXPECT_EQ(generate_normalised_id("fixed", 3, false), "fixed");
    EXPECT_EQ(generate_normalised_id("fixed", 12, true), "fixeda");
    EXPECT_EQ(generate_normalised_id("100%% bc%d", 4, false), "100% bc4");
}

TEST(BarcodeNaming, PatternsThatWouldMisuseTheArgumentListAreRefused) {
    for (const char* pattern :
         {"%s",  "%n",   "%d%d", "%ld",     "%lld",    "%zu",   "%*d",  "%.*d", "%f",    "%c",   "%p",
          "bc%", "bc%-", "%1$d", "%99999d", "%.1001d", "%hhhd", "%lhd", "%hs",  "%.d%d", "%d %x"}) {
        EXPECT_THROW(generate_normalised_id(pattern, 1, false), std::invalid_argument) << pattern;
    }
}

TEST(BarcodeNaming, DualNameJoinsTheLastTwoCharactersOfEach) {
    EXPECT_EQ(generate_dual_normalised_id("barcode05", "barcode12"), "barcode_external05_internal12");
    EXPECT_EQ(generate_dual_normalised_id("barcode05", "barcode12a"), "barcode_external05_internal2a");
    EXPECT_EQ(generate_dual_normalised_id("05", "12"), "barcode_external05_internal12");
}

TEST(BarcodeNaming, DualNameFromTooShortANameThrows) {
    EXPECT_THROW(generate_dual_normalised_id("5", "barcode12"), std::out_of_range);
    EXPECT_THROW(generate_dual_normalised_id("barcode05", "2"), std::out_of_range);
    EXPECT_THROW(generate_dual_normalised_id("", ""), std::out_of_range);
    try {
        generate_dual_normalised_id("barcode05", "x");
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find("\"x\""), std::string::npos) << e.what();
    }
}

}  // namespace
