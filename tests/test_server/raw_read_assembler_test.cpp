#include "test_server/raw_read_assembler.h"

#include <gtest/gtest.h>

#include <numeric>

using test_server::RawBlock;
using test_server::RawReadAssembler;

namespace {

std::vector<int16_t> ramp(size_t n, int16_t start = -100) {
    std::vector<int16_t> samples(n);
    std::iota(samples.begin(), samples.end(), start);
    return samples;
}

// Cuts `signal` into blocks of `size` samples, as a client does.
std::vector<RawBlock> cut(const std::vector<int16_t>& signal, size_t size, uint32_t tag = 5) {
    const auto count = static_cast<uint32_t>((signal.size() + size - 1) / size);
    std::vector<RawBlock> blocks;
    for (uint32_t k = 0; k < count; ++k) {
        RawBlock block;
        block.first = k == 0;
        block.read_tag = tag;
        block.block_index = k;
        block.num_blocks = count;
        block.duration = static_cast<uint32_t>(signal.size());
        block.read_id = "r" + std::to_string(tag);
        block.start_time = 77;
        const size_t begin = k * size;
        const size_t end = std::min(signal.size(), begin + size);
        block.samples.assign(signal.begin() + static_cast<std::ptrdiff_t>(begin),
                             signal.begin() + static_cast<std::ptrdiff_t>(end));
        blocks.push_back(block);
    }
    return blocks;
}

}  // namespace

TEST(RawReadAssembler, ReassemblesTheSignalOfAMultiBlockRead) {
    RawReadAssembler assembler;
    const auto signal = ramp(1001);
    const auto blocks = cut(signal, 250);
    ASSERT_EQ(blocks.size(), 5u);
    for (size_t k = 0; k + 1 < blocks.size(); ++k) {
        const auto outcome = assembler.add(blocks[k]);
        EXPECT_TRUE(outcome.accepted) << outcome.error;
        EXPECT_FALSE(outcome.read);
    }
    const auto outcome = assembler.add(blocks.back());
    ASSERT_TRUE(outcome.accepted) << outcome.error;
    ASSERT_TRUE(outcome.read);
    EXPECT_EQ(outcome.read->signal, signal);
    EXPECT_EQ(outcome.read->num_blocks, 5u);
    EXPECT_EQ(outcome.read->start_time, 77u);
    EXPECT_EQ(assembler.reads_in_progress(), 0u);
}

TEST(RawReadAssembler, InterleavedReadsOfOneClientStayApart) {
    RawReadAssembler assembler;
    const auto a = cut(ramp(30, 0), 10, 1);
    const auto b = cut(ramp(20, 500), 10, 2);
    EXPECT_TRUE(assembler.add(a[0]).accepted);
    EXPECT_TRUE(assembler.add(b[0]).accepted);
    EXPECT_TRUE(assembler.add(a[1]).accepted);
    const auto b_done = assembler.add(b[1]);
    ASSERT_TRUE(b_done.read);
    EXPECT_EQ(b_done.read->signal, ramp(20, 500));
    const auto a_done = assembler.add(a[2]);
    ASSERT_TRUE(a_done.read);
    EXPECT_EQ(a_done.read->signal, ramp(30, 0));
}

TEST(RawReadAssembler, AFirstBlockOfferedAgainStartsTheReadAfresh) {
    RawReadAssembler assembler;
    const auto blocks = cut(ramp(40), 20);
    EXPECT_TRUE(assembler.add(blocks[0]).accepted);
    EXPECT_TRUE(assembler.add(blocks[0]).accepted);  // resent after a reconnect
    const auto outcome = assembler.add(blocks[1]);
    ASSERT_TRUE(outcome.read);
    EXPECT_EQ(outcome.read->signal, ramp(40));
}

TEST(RawReadAssembler, RefusesBlocksOutOfOrderOrInconsistentWithTheFirst) {
    const auto signal = ramp(300);
    struct Case {
        const char* name;
        void (*spoil)(RawBlock&);
        const char* reason;
    };
    const Case cases[] = {
            {"skipped index", [](RawBlock& b) { b.block_index = 2; }, "expected block index 1"},
            {"other count", [](RawBlock& b) { b.num_blocks = 4; }, "num_blocks differs"},
            {"other duration", [](RawBlock& b) { b.duration = 299; }, "duration differs"},
            {"other read id", [](RawBlock& b) { b.read_id = "x"; }, "read_id differs"},
            {"empty", [](RawBlock& b) { b.samples.clear(); }, "no samples"},
            {"longer than first", [](RawBlock& b) { b.samples.push_back(1); }, "longer than the first"},
    };
    for (const auto& c : cases) {
        RawReadAssembler assembler;
        auto blocks = cut(signal, 100);
        ASSERT_TRUE(assembler.add(blocks[0]).accepted);
        c.spoil(blocks[1]);
        const auto outcome = assembler.add(blocks[1]);
        EXPECT_FALSE(outcome.accepted) << c.name;
        EXPECT_NE(outcome.error.find(c.reason), std::string::npos) << c.name << ": " << outcome.error;
        // A refused block ends the read: its next block has nothing to join.
        EXPECT_EQ(assembler.reads_in_progress(), 0u) << c.name;
        EXPECT_FALSE(assembler.add(blocks[2]).accepted) << c.name;
    }
}

TEST(RawReadAssembler, RefusesBadFirstBlocksAndLaterBlocksWithoutOne) {
    RawReadAssembler assembler;
    auto blocks = cut(ramp(30), 10);
    EXPECT_NE(assembler.add(blocks[1]).error.find("without a first block"), std::string::npos);

    auto first = blocks[0];
    first.block_index = 1;
    EXPECT_FALSE(assembler.add(first).accepted);
    first = blocks[0];
    first.num_blocks = 0;
    EXPECT_FALSE(assembler.add(first).accepted);
    first = blocks[0];
    first.duration = 0;
    EXPECT_FALSE(assembler.add(first).accepted);
    first = blocks[0];
    first.duration = 5;  // fewer samples than the block carries
    EXPECT_FALSE(assembler.add(first).accepted);
}

TEST(RawReadAssembler, ARunShortOfItsDurationIsRefusedAtTheLastBlock) {
    RawReadAssembler assembler;
    auto blocks = cut(ramp(30), 10);
    for (auto& block : blocks) {
        block.duration = 31;  // claims one sample more than the blocks carry
    }
    EXPECT_TRUE(assembler.add(blocks[0]).accepted);
    EXPECT_TRUE(assembler.add(blocks[1]).accepted);
    const auto outcome = assembler.add(blocks[2]);
    EXPECT_FALSE(outcome.accepted);
    EXPECT_NE(outcome.error.find("duration is 31"), std::string::npos) << outcome.error;
}

TEST(RawReadAssembler, AShortBlockBeforeTheLastIsRefused) {
    RawReadAssembler assembler;
    auto blocks = cut(ramp(30), 10);
    blocks[1].samples.pop_back();
    EXPECT_TRUE(assembler.add(blocks[0]).accepted);
    EXPECT_TRUE(assembler.add(blocks[1]).accepted);
    EXPECT_FALSE(assembler.add(blocks[2]).accepted);
}

TEST(SignalDigest, IsFnv1aOverLittleEndianSampleBytes) {
    // Reference values worked out by hand from the FNV-1a definition.
    EXPECT_EQ(test_server::signal_digest({}), 14695981039346656037ull);
    uint64_t expected = 14695981039346656037ull;
    for (const uint8_t byte : {0x01, 0x00, 0xff, 0xff}) {
        expected = (expected ^ byte) * 1099511628211ull;
    }
    EXPECT_EQ(test_server::signal_digest({1, -1}), expected);
}

TEST(RawReadAssembler, AHugeClaimedDurationCostsNoHugeReservation) {
    RawReadAssembler assembler;
    RawBlock block;
    block.first = true;
    block.num_blocks = 4000000000u;
    block.duration = 4000000000u;
    block.samples = ramp(10);
    EXPECT_TRUE(assembler.add(block).accepted);  // would throw bad_alloc if the claim were reserved
    EXPECT_EQ(assembler.reads_in_progress(), 1u);
}
