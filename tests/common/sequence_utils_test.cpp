#include "common/sequence_utils.h"

#include <climits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace common;

uint64_t pack(const std::string& kmer) {
    uint64_t value = 0;
    for (const int32_t code : string_to_seq_vector(kmer)) {
        value = (value << 2) | static_cast<uint64_t>(code);
    }
    return value;
}

TEST(SequenceUtils, PackedReverseComplementMatchesTheTextOneForEveryLength) {
    EXPECT_EQ(rev_comp_kmer_value(pack("ACG"), 3), pack("CGT"));
    EXPECT_EQ(rev_comp_kmer_value(0x1234, 0), 0u);
    std::mt19937_64 random(14);
    for (std::size_t k = 1; k <= 32; ++k) {
        for (int trial = 0; trial < 50; ++trial) {
            std::string kmer;
            for (std::size_t i = 0; i < k; ++i) {
                kmer += "ACGT"[random() % 4];
            }
            EXPECT_EQ(rev_comp_kmer_value(pack(kmer), k), pack(reverse_complement_strand(kmer, ""))) << kmer;
        }
    }
    EXPECT_THROW(rev_comp_kmer_value(0, 33), std::invalid_argument);
}

TEST(SequenceUtils, CodesAndTextConvertBothWaysWithUnknownBases) {
    EXPECT_EQ(string_to_seq_vector("ACGTN"), (std::vector<int32_t>{0, 1, 2, 3, -1}));
    EXPECT_EQ(string_to_seq_vector("acgt"), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(seq_vector_to_string(std::vector<int8_t>{0, 1, 2, 3, -1, 4, 127, -128}), "ACGTNNNN");
    const int8_t codes[] = {3, 0};
    EXPECT_EQ(seq_vector_to_string(codes, 2), "TA");
    EXPECT_EQ(reverse_complement_strand(std::vector<int8_t>{0, 0, 1, -1, 9, 3}),
              (std::vector<int8_t>{0, -1, -1, 2, 3, 3}));
}

TEST(SequenceUtils, TextReverseComplementKeepsListedCharactersAndMarksOthers) {
    EXPECT_EQ(reverse_complement_strand("ACGTN", ""), "XACGT");
    EXPECT_EQ(reverse_complement_strand("ACGTN", "N"), "NACGT");
    EXPECT_EQ(reverse_complement_strand("RYKM", ""), "KMRY");
    EXPECT_EQ(reverse_complement_strand("BVDHSWa-", ""), "XXWSDHBV");
    EXPECT_EQ(reverse_complement_strand("", "N"), "");
}

TEST(SequenceUtils, LabelsAreTheKmersInBase4Order) {
    std::vector<std::string> labels;
    std::map<std::string, int> index;
    build_labls(labels, index, 2);
    ASSERT_EQ(labels.size(), 16u);
    EXPECT_EQ(labels[0], "AA");
    EXPECT_EQ(labels[1], "AC");
    EXPECT_EQ(labels[4], "CA");
    EXPECT_EQ(labels[15], "TT");
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(index.at(labels[static_cast<std::size_t>(i)]), i);
    }
    build_labls(labels, index, 0);
    EXPECT_TRUE(labels.empty());
    EXPECT_TRUE(index.empty());
    for (int k : {-1, 16}) {
        build_labls(labels, index, 1);
        EXPECT_THROW(build_labls(labels, index, k), std::length_error) << k;
        EXPECT_TRUE(labels.empty() && index.empty()) << k;
    }
}

TEST(SequenceUtils, ReduceStateCutsTheCentredWindow) {
    EXPECT_EQ(reduce_state(pack("ACGT"), 4, 2, false), pack("CG"));
    EXPECT_EQ(reduce_state(pack("ACGTA"), 5, 2, false), pack("CG"));
    EXPECT_EQ(reduce_state(pack("ACGTA"), 5, 2, true), pack("GT"));
    EXPECT_EQ(reduce_state(pack("TTTTTTTTTTTTTTT"), 15, 1, true), pack("T"));
    EXPECT_EQ(reduce_state(27, 4, 4, false), 27);
    EXPECT_EQ(reduce_state(27, 3, 4, true), 27);
    // Lengths far outside the range must not overflow (checked under UBSan).
    EXPECT_EQ(reduce_state(27, INT_MAX, INT_MIN, false), 0);
}

}  // namespace
