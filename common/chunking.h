#pragma once

// Splitting a length into overlapping chunks of near-equal size.

#include <cstddef>
#include <utility>
#include <vector>

namespace common {

// First and last index of a chunk, both inclusive.
using Chunk = std::pair<std::size_t, std::size_t>;

// 0 for length 0, 1 when the length fits one chunk, else
// 1 + ceil((length - chunk_size) / (chunk_size - overlap)).
// A chunk size of 0, or an overlap not below the chunk size, throws
// std::invalid_argument.
std::size_t count_chunks(std::size_t length, std::size_t chunk_size, std::size_t overlap);

// count_chunks chunks covering 0 .. length - 1; neighbours share exactly
// `overlap` indices and sizes differ by at most one, the longer ones first.
// Arguments as for count_chunks.
std::vector<Chunk> distribute_chunks(std::size_t length, std::size_t chunk_size, std::size_t overlap);

}  // namespace common
