#include "common/chunking.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using common::Chunk;
using common::count_chunks;
using common::distribute_chunks;

TEST(Chunking, ExamplesFromSmallLengths) {
    EXPECT_EQ(count_chunks(10, 4, 1), 3u);
    EXPECT_EQ(distribute_chunks(10, 4, 1), (std::vector<Chunk>{{0, 3}, {3, 6}, {6, 9}}));
    EXPECT_EQ(distribute_chunks(11, 4, 1), (std::vector<Chunk>{{0, 3}, {3, 6}, {6, 8}, {8, 10}}));
    EXPECT_EQ(distribute_chunks(4, 4, 0), (std::vector<Chunk>{{0, 3}}));
    EXPECT_EQ(count_chunks(0, 4, 1), 0u);
    EXPECT_TRUE(distribute_chunks(0, 4, 1).empty());
}

TEST(Chunking, EveryGridInputIsCoveredWithTheStatedOverlap) {
    for (std::size_t length = 1; length <= 70; ++length) {
        for (std::size_t chunk = 1; chunk <= 13; ++chunk) {
            for (std::size_t overlap = 0; overlap < chunk; ++overlap) {
                const auto chunks = distribute_chunks(length, chunk, overlap);
                const auto context = ::testing::Message()
                                     << "length " << length << " chunk " << chunk << " overlap " << overlap;
                ASSERT_EQ(chunks.size(), count_chunks(length, chunk, overlap)) << context;
                ASSERT_FALSE(chunks.empty()) << context;
                EXPECT_EQ(chunks.front().first, 0u) << context;
                EXPECT_EQ(chunks.back().second, length - 1) << context;
                const std::size_t longest = chunks.front().second - chunks.front().first + 1;
                for (std::size_t i = 0; i < chunks.size(); ++i) {
                    const std::size_t size = chunks[i].second - chunks[i].first + 1;
                    EXPECT_LE(size, chunk) << context;
                    EXPECT_TRUE(size == longest || size + 1 == longest) << context;
                    if (i > 0) {
                        const std::size_t previous = chunks[i - 1].second - chunks[i - 1].first + 1;
                        EXPECT_LE(size, previous) << context;  // longer ones first
                        EXPECT_EQ(chunks[i].first + overlap, chunks[i - 1].second + 1) << context;
                        EXPECT_GT(size, overlap) << context;  // each chunk moves on
                    }
                }
            }
        }
    }
}

TEST(Chunking, ChunkSizeZeroOrOverlapNotBelowItIsRefused) {
    for (const auto& args : {Chunk{0, 0}, Chunk{4, 4}, Chunk{4, 5}}) {
        EXPECT_THROW(count_chunks(10, args.first, args.second), std::invalid_argument);
        EXPECT_THROW(distribute_chunks(10, args.first, args.second), std::invalid_argument);
    }
}

TEST(Chunking, HugeLengthsCountExactly) {
    // Beyond 2^53 a double would round the quotient.
    const std::size_t length = (std::size_t{1} << 60) + 3;
    EXPECT_EQ(count_chunks(length, 2, 1), length - 1);
    EXPECT_THROW(distribute_chunks(length, std::size_t{1} << 40, (std::size_t{1} << 40) - 1), std::length_error);
}

}  // namespace
