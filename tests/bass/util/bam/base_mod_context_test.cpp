#include "bass/util/bam/base_mod_context.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using bass::data_wrappers::VecView;
using bass::util::bam::BaseModContext;

namespace {

VecView<uint8_t> view_of(const std::vector<uint8_t>& values) {
    VecView<uint8_t> view;
    view.view(values.data(), values.size(), 1);
    return view;
}

}  // namespace

TEST(BaseModContext, StartsWithoutMotifs) {
    const BaseModContext context;
    EXPECT_EQ(context.encode(), "_:_:_:_");
    for (char base : std::string("ACGT")) {
        EXPECT_EQ(context.motif(base), "");
        EXPECT_EQ(context.motif_offset(base), 0u);
    }
    EXPECT_THROW(context.motif('N'), std::out_of_range);
    EXPECT_THROW(context.motif_offset('m'), std::out_of_range);
}

TEST(BaseModContext, DecodeReplacesXByTheBaseAndEncodesBack) {
    BaseModContext context;
    ASSERT_TRUE(context.decode("_:XG:GAXC:_"));
    EXPECT_EQ(context.motif('C'), "CG");
    EXPECT_EQ(context.motif_offset('C'), 0u);
    EXPECT_EQ(context.motif('G'), "GAGC");
    EXPECT_EQ(context.motif_offset('G'), 2u);
    EXPECT_EQ(context.motif('A'), "");
    EXPECT_EQ(context.encode(), "_:XG:GAXC:_");

    // Only the first X marks the base; a later X is motif text.
    ASSERT_TRUE(context.decode("XX:_:_:_"));
    EXPECT_EQ(context.motif('A'), "AX");
    EXPECT_EQ(context.motif('C'), "");
}

TEST(BaseModContext, DecodeRejectsMalformedStringsPartByPart) {
    BaseModContext context;
    EXPECT_FALSE(context.decode("_:XG:_"));
    EXPECT_FALSE(context.decode("_:XG:_:_:_"));
    EXPECT_FALSE(context.decode(""));
    EXPECT_EQ(context.encode(), "_:_:_:_");

    // Parts before the bad one are applied.
    EXPECT_FALSE(context.decode("XA:CG:_:_"));
    EXPECT_EQ(context.motif('A'), "AA");
    EXPECT_FALSE(context.decode("_:XG::_"));
    EXPECT_EQ(context.motif('C'), "CG");
}

TEST(BaseModContext, SetContextPicksTheBaseAtTheOffset) {
    BaseModContext context;
    context.set_context("GATC", 1);
    EXPECT_EQ(context.motif('A'), "GATC");
    EXPECT_EQ(context.motif_offset('A'), 1u);
    EXPECT_EQ(context.encode(), "GXTC:_:_:_");
    EXPECT_THROW(context.set_context("CG", 2), std::out_of_range);
    try {
        context.set_context("CNG", 1);
        FAIL() << "expected a throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid motif string 'CNG'.");
    }
}

TEST(BaseModContext, SequenceMaskMarksFullMotifOccurrencesOnly) {
    BaseModContext context;
    ASSERT_TRUE(context.decode("_:XG:CXA:_"));
    //                 0123456789
    const std::string seq = "CGACGAGCCG";
    const std::vector<int32_t> expected{1, 1, 0, 1, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(context.get_sequence_mask(seq), expected);
    // A motif ending at the last base counts; one running past the end does not.
    EXPECT_EQ(context.get_sequence_mask("AACG"), (std::vector<int32_t>{0, 0, 1, 0}));
    EXPECT_EQ(context.get_sequence_mask("AAC"), (std::vector<int32_t>{0, 0, 0}));
    EXPECT_THROW(context.get_sequence_mask("ACNG"), std::out_of_range);
}

TEST(BaseModContext, SequenceMaskAgreesWithBruteForceOnRandomSequences) {
    std::mt19937 rng(7);
    BaseModContext context;
    ASSERT_TRUE(context.decode("TXCA:GAXC:_:AX"));
    for (int round = 0; round < 200; ++round) {
        std::string seq(rng() % 30, 'A');
        for (char& c : seq) {
            c = "ACGT"[rng() % 4];
        }
        const auto mask = context.get_sequence_mask(seq);
        ASSERT_EQ(mask.size(), seq.size());
        for (size_t i = 0; i < seq.size(); ++i) {
            // Every occurrence of each motif, found by scanning all windows.
            int32_t want = 0;
            const std::string motifs[] = {"TACA", "GACC", "", "AT"};
            const size_t offsets[] = {1, 2, 0, 1};
            const size_t b = std::string("ACGT").find(seq[i]);
            const std::string& m = motifs[b];
            for (size_t start = 0; !m.empty() && start + m.size() <= seq.size(); ++start) {
                if (seq.substr(start, m.size()) == m && start + offsets[b] == i) {
                    want = 1;
                }
            }
            EXPECT_EQ(mask[i], want) << seq << " at " << i;
        }
    }
}

TEST(BaseModContext, UpdateMaskUsesThresholdForMotifFreeBasesOnly) {
    BaseModContext context;
    ASSERT_TRUE(context.decode("_:XG:_:_"));
    const std::string seq = "ACAT";
    const std::string alphabet = "AaCmGT";
    // Rows per base, columns per alphabet character.
    const std::vector<uint8_t> probs{
            0, 200, 0, 0,   0, 0,  // A: 6mA 200
            0, 0,   0, 255, 0, 0,  // C: no motif match, probability ignored
            0, 10,  0, 0,   0, 0,  // A: 6mA 10
            0, 0,   0, 0,   0, 0,  // T
    };
    std::vector<int32_t> mask = context.get_sequence_mask(seq);
    context.update_mask(mask, seq, alphabet, view_of(probs), 100);
    EXPECT_EQ(mask, (std::vector<int32_t>{1, 0, 0, 0}));
    context.update_mask(mask, seq, alphabet, view_of(probs), 10);
    EXPECT_EQ(mask, (std::vector<int32_t>{1, 0, 1, 0}));
    // Once set, an entry stays set.
    context.update_mask(mask, seq, alphabet, view_of(probs), 255);
    EXPECT_EQ(mask, (std::vector<int32_t>{1, 0, 1, 0}));

    EXPECT_THROW(context.update_mask(mask, seq, "aACGT", view_of(std::vector<uint8_t>(20)), 0), std::out_of_range);
}
