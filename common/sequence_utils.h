#pragma once

// Base sequences as codes (A = 0, C = 1, G = 2, T = 3) and as text, k-mer
// labels, and k-mers packed two bits per base with the first base in the
// highest occupied pair.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace common {

// "ACGT"[code] for every code; a code outside 0-3 prints as 'N'.
std::string seq_vector_to_string(const std::vector<int8_t>& codes);
std::string seq_vector_to_string(const int8_t* codes, std::size_t count);

// A/a -> 0, C/c -> 1, G/g -> 2, T/t -> 3, anything else -> -1.
std::vector<int32_t> string_to_seq_vector(const std::string& sequence);

// The 4^k k-mer labels in base-4 order (AA, AC, ..., TT for k = 2) and the
// index from label to position. k = 0 leaves both empty; a negative k or one
// above 15 (labels no longer countable in an int) empties both and throws
// std::length_error.
void build_labls(std::vector<std::string>& labels, std::map<std::string, int>& index, int k);

// Reverse complement of a packed k-mer; k = 0 gives 0. k above 32 does not
// fit 64 bits and throws std::invalid_argument.
uint64_t rev_comp_kmer_value(uint64_t kmer, std::size_t k);

// Reverse complement of text; characters listed in `keep` stay as they are,
// IUPAC upper-case codes are complemented and everything else becomes 'X'.
std::string reverse_complement_strand(const std::string& sequence, const std::string& keep);

// Reverse complement of codes; a code outside 0-3 is unknown and stays -1.
std::vector<int8_t> reverse_complement_strand(const std::vector<int8_t>& codes);

// The centred window of new_k bases out of a packed state of k bases. When
// the window cannot be centred, `towards_end` keeps it one base nearer the
// end of the k-mer, otherwise nearer the start. k <= new_k returns the state.
int reduce_state(int state, int k, int new_k, bool towards_end);

}  // namespace common
