#include "common/chunking.h"

#include <stdexcept>
#include <string>

namespace common {

std::size_t count_chunks(std::size_t length, std::size_t chunk_size, std::size_t overlap) {
    if (chunk_size == 0 || overlap >= chunk_size) {
        throw std::invalid_argument("chunking needs a chunk size above 0 and an overlap below it; got chunk size " +
                                    std::to_string(chunk_size) + " and overlap " + std::to_string(overlap));
    }
    if (length == 0) {
        return 0;
    }
    if (length <= chunk_size) {
        return 1;
    }
    // Integer ceiling: exact for every length, where a double loses digits
    // beyond 2^53.
    const std::size_t beyond_first = length - chunk_size;
    const std::size_t step = chunk_size - overlap;
    return 1 + beyond_first / step + (beyond_first % step != 0 ? 1 : 0);
}

std::vector<Chunk> distribute_chunks(std::size_t length, std::size_t chunk_size, std::size_t overlap) {
    const std::size_t count = count_chunks(length, chunk_size, overlap);
    if (count == 0) {
        return {};
    }
    // The chunks together hold every index once plus every shared one again.
    std::size_t shared = 0;
    std::size_t total = 0;
    if (__builtin_mul_overflow(count - 1, overlap, &shared) || __builtin_add_overflow(shared, length, &total)) {
        throw std::length_error("distribute_chunks: " + std::to_string(count) + " chunks of overlap " +
                                std::to_string(overlap) + " exceed the index range");
    }
    const std::size_t base = total / count;
    const std::size_t rest = total % count;

    std::vector<Chunk> chunks;
    chunks.reserve(count);
    std::size_t first = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t last = first + base + (i < rest ? 1 : 0) - 1;
        chunks.emplace_back(first, last);
        first = last + 1 - overlap;
    }
    return chunks;
}

}  // namespace common
