#include "bass/util/bam/bam_file.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using bass::data_wrappers::VecView;
using bass::util::bam::BAMFileHandler;

namespace {

VecView<uint8_t> view_of(const std::vector<uint8_t>& values, int64_t stride = 1) {
    VecView<uint8_t> view;
    view.view(values.data(), stride == 1 ? values.size() : values.size() / size_t(stride), stride);
    return view;
}

struct TagResult {
    bool ok;
    std::string out;
    std::string error;
};

TagResult modbase(const std::string& seq,
                  const std::string& alphabet,
                  const std::string& names,
                  const std::string& context,
                  const std::vector<uint8_t>& probs,
                  uint8_t threshold) {
    TagResult r{false, "untouched", ""};
    r.ok = BAMFileHandler::generate_modbase_string(r.out, seq, alphabet, names, context, view_of(probs), threshold,
                                                   r.error);
    return r;
}

std::string moves_tag(const std::vector<uint8_t>& moves, int8_t stride) {
    std::string out, error;
    EXPECT_TRUE(BAMFileHandler::generate_move_table_string(out, view_of(moves), stride, error));
    return out;
}

}  // namespace

TEST(UnmappedSamLine, HasElevenColumnsWithTheLengthInTheNinth) {
    std::string out = "old text", error;
    ASSERT_TRUE(BAMFileHandler::make_unmapped_sam_line(out, "read_1", "ACGTA", "!#%'+", error));
    EXPECT_EQ(out, "read_1\t4\t*\t0\t0\t*\t*\t0\t5\tACGTA\t!#%'+");
    EXPECT_EQ(error, "");

    ASSERT_TRUE(BAMFileHandler::make_unmapped_sam_line(out, "r", "", "", error));
    EXPECT_EQ(out, "r\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*");
}

TEST(UnmappedSamLine, RefusesMismatchedOrEmptyInputFirstSizeThenName) {
    std::string out = "keep", error;
    EXPECT_FALSE(BAMFileHandler::make_unmapped_sam_line(out, "", "ACG", "!!", error));
    EXPECT_EQ(error, "sequence and qscore do not match size!");
    EXPECT_FALSE(BAMFileHandler::make_unmapped_sam_line(out, "", "ACG", "!!!", error));
    EXPECT_EQ(error, "Empty read_name string provided!");
    EXPECT_EQ(out, "keep");
}

TEST(UnmappedSamLine, RefusesTabsAndLineBreaksThatWouldSplitTheRecord) {
    const char* breakers[] = {"\t", "\n", "\r"};
    for (const char* b : breakers) {
        std::string out = "keep", error;
        EXPECT_FALSE(BAMFileHandler::make_unmapped_sam_line(out, std::string("rd") + b, "AC", "!!", error));
        EXPECT_EQ(error, "read_name contains a tab or line break!");
        error.clear();
        EXPECT_FALSE(BAMFileHandler::make_unmapped_sam_line(out, "rd", std::string("A") + b, "!!", error));
        EXPECT_EQ(error, "sequence contains a tab or line break!");
        error.clear();
        EXPECT_FALSE(BAMFileHandler::make_unmapped_sam_line(out, "rd", "AC", std::string("!") + b, error));
        EXPECT_EQ(error, "qscore contains a tab or line break!");
        EXPECT_EQ(out, "keep");
    }
}

TEST(ModbaseChannelName, MapsKnownNamesAndPassesDigitsThrough) {
    const std::pair<const char*, const char*> table[] = {
            {"6mA", "a"},  {"5mC", "m"}, {"5hmC", "h"}, {"5fc", "f"},       {"5caC", "c"}, {"8oxoG", "o"},
            {"5hmU", "g"}, {"5fU", "e"}, {"5caU", "b"}, {"17802", "17802"}, {"", ""},
    };
    for (const auto& entry : table) {
        std::string out = "x", error;
        EXPECT_TRUE(BAMFileHandler::get_modbase_channel_name(out, entry.first, error));
        EXPECT_EQ(out, entry.second);
        EXPECT_EQ(error, "");
    }
    std::string out = "keep", error;
    EXPECT_FALSE(BAMFileHandler::get_modbase_channel_name(out, "5mc", error));
    EXPECT_EQ(error, "Unknown modified base abbreviation: 5mc");
    EXPECT_FALSE(BAMFileHandler::get_modbase_channel_name(out, "12a", error));
    EXPECT_EQ(out, "keep");
}

TEST(ModbaseTags, ReportSkipsOfTheChannelsBaseAboveTheThreshold) {
    // Three Cs; only the third passes the threshold.
    const auto r = modbase("CACAC", "ACm", "5mC", "", {0, 0, 0, 0, 0, 90, 0, 0, 0, 0, 0, 0, 0, 0, 50}, 40);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, "Mm:Z:C+m,2;\tMl:B:C,50");

    const auto all = modbase("CACAC", "ACm", "5mC", "", {0, 0, 1, 0, 0, 9, 0, 0, 50, 0, 0, 0, 0, 0, 7}, 0);
    ASSERT_TRUE(all.ok);
    EXPECT_EQ(all.out, "Mm:Z:C+m,0,0,0;\tMl:B:C,1,50,7");
}

TEST(ModbaseTags, ChannelsOfOneBaseShareItsMaskAndKeepAlphabetOrder) {
    //                       A      a    C    m    h    G    T
    const std::vector<uint8_t> probs{
            0, 250, 0, 0,   0,   0, 0,  // A
            0, 0,   0, 100, 3,   0, 0,  // C: m passes
            0, 0,   0, 1,   2,   0, 0,  // C: neither
            0, 0,   0, 4,   220, 0, 0,  // C: h passes
    };
    const auto r = modbase("ACCC", "AaCmhGT", "6mA 5mC\t5hmC", "", probs, 90);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, "Mm:Z:A+a,0;C+m,0,1;C+h,0,1;\tMl:B:C,250,100,4,3,220");
}

TEST(ModbaseTags, MotifContextRestrictsPositionsAndMarksTheChannel) {
    const std::string seq = "CGCACG";
    //                               A  C  m   G  T
    const std::vector<uint8_t> probs{0, 0, 11, 0, 0,  // C of a CG
                                     0, 0, 0,  0, 0,  //
                                     0, 0, 99, 0, 0,  // C of CA: passes, but outside the motif
                                     0, 0, 0,  0, 0,  //
                                     0, 0, 22, 0, 0,  // C of a CG
                                     0, 0, 0,  0, 0};
    const auto r = modbase(seq, "ACmGT", "5mC", "_:XG:_:_", probs, 50);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, "Mm:Z:C+m?,0,1;\tMl:B:C,11,22");

    // A one-letter motif keeps every C, whatever the threshold, without "?".
    const auto single = modbase(seq, "ACmGT", "5mC", "_:X:_:_", probs, 255);
    ASSERT_TRUE(single.ok);
    EXPECT_EQ(single.out, "Mm:Z:C+m,0,0,0;\tMl:B:C,11,99,22");
}

TEST(ModbaseTags, ReadsProbabilitiesThroughTheViewsStride) {
    // Every other byte belongs to the view.
    const std::vector<uint8_t> interleaved{0, 255, 7, 255, 0, 255, 66, 255};
    std::string out, error;
    ASSERT_TRUE(BAMFileHandler::generate_modbase_string(out, "CC", "Cm", "5mC", view_of(interleaved, 2), 10, error));
    EXPECT_EQ(out, "Mm:Z:C+m,1;\tMl:B:C,66");
}

TEST(ModbaseTags, NumericNamesBecomeCodesAndEmptyAlphabetGivesEmptyTags) {
    const auto r = modbase("GTG", "GTx", "12345", "", {0, 0, 0, 0, 0, 8, 0, 0, 0}, 0);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.out, "Mm:Z:T+12345,0;\tMl:B:C,8");

    const auto none = modbase("", "", "", "", {}, 0);
    ASSERT_TRUE(none.ok);
    EXPECT_EQ(none.out, "Mm:Z:\tMl:B:C");
}

TEST(ModbaseTags, SizeMismatchFailsWithoutWriting) {
    const auto r = modbase("ACG", "ACmGT", "5mC", "", std::vector<uint8_t>(14), 0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "untouched");
    EXPECT_EQ(r.error,
              "Mismatch between modbase_probs size and sequence length * num channels in "
              "modbase_alphabet!");
}

TEST(ModbaseTags, UnknownOrMissingLongNamesFailInsteadOfWritingAnEmptyCode) {
    const std::vector<uint8_t> probs(2 * 6, 0);
    auto unknown = modbase("AC", "AaCmGT", "6mA bogus", "", probs, 0);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.error, "Unknown modified base abbreviation: bogus");
    EXPECT_EQ(unknown.out, "Mm:Z:A+a,0;");

    auto missing = modbase("AC", "AaCmGT", "6mA", "", probs, 0);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, "Fewer modified base long names than modification channels in modbase_alphabet!");
    EXPECT_EQ(missing.out.find("C+,"), std::string::npos);
    EXPECT_EQ(missing.out.find("C+;"), std::string::npos);
}

TEST(ModbaseTags, ThrowsForBadContextBadBaseOrChannelBeforeAnyBase) {
    const std::vector<uint8_t> probs(3 * 5, 0);
    const char* bad_contexts[] = {"_:XG:_", "_:CG:_:_", "::::"};
    for (const char* context : bad_contexts) {
        try {
            modbase("ACG", "ACmGT", "5mC", context, probs, 0);
            ADD_FAILURE() << "no throw for " << context;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Invalid base modification context string.");
        }
    }
    EXPECT_THROW(modbase("ANG", "ACmGT", "5mC", "", probs, 0), std::out_of_range);
    EXPECT_THROW(modbase("ACG", "mACGT", "5mC", "", probs, 0), std::out_of_range);
}

TEST(MoveTable, WritesStrideThenMovesSplitIntoSignedBytes) {
    EXPECT_EQ(moves_tag({0}, 5), "mv:B:c,5,0");
    EXPECT_EQ(moves_tag({1, 0, 3, 126}, 10), "mv:B:c,10,1,0,3,126");
    EXPECT_EQ(moves_tag({127}, 6), "mv:B:c,6,127,0");
    EXPECT_EQ(moves_tag({200}, 6), "mv:B:c,6,127,73");
    EXPECT_EQ(moves_tag({254, 255}, 6), "mv:B:c,6,127,127,0,127,127,1");
    EXPECT_EQ(moves_tag({1}, -3), "mv:B:c,-3,1");
}

TEST(MoveTable, EmptyTableFailsAndLeavesOutAlone) {
    std::string out = "keep", error;
    const std::vector<uint8_t> none;
    EXPECT_FALSE(BAMFileHandler::generate_move_table_string(out, view_of(none), 5, error));
    EXPECT_EQ(error, "Zero length move table provided to generate_move_table_string");
    EXPECT_EQ(out, "keep");
}
