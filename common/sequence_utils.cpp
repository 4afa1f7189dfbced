#include "common/sequence_utils.h"

#include <array>
#include <stdexcept>

namespace common {
namespace {

constexpr char BASES[] = "ACGT";
constexpr int MAX_LABEL_K = 15;
constexpr std::size_t MAX_PACKED_K = 32;

bool is_base_code(int code) {
    return code >= 0 && code <= 3;
}

}  // namespace

std::string seq_vector_to_string(const std::vector<int8_t>& codes) {
    return seq_vector_to_string(codes.data(), codes.size());
}

std::string seq_vector_to_string(const int8_t* codes, std::size_t count) {
    std::string text(count, 'N');
    for (std::size_t i = 0; i < count; ++i) {
        if (is_base_code(codes[i])) {
            text[i] = BASES[codes[i]];
        }
    }
    return text;
}

std::vector<int32_t> string_to_seq_vector(const std::string& sequence) {
    std::vector<int32_t> codes(sequence.size());
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        switch (sequence[i]) {
            case 'A':
            case 'a': codes[i] = 0; break;
            case 'C':
            case 'c': codes[i] = 1; break;
            case 'G':
            case 'g': codes[i] = 2; break;
            case 'T':
            case 't': codes[i] = 3; break;
            default: codes[i] = -1; break;
        }
    }
    return codes;
}

void build_labls(std::vector<std::string>& labels, std::map<std::string, int>& index, int k) {
    labels.clear();
    index.clear();
    if (k < 0 || k > MAX_LABEL_K) {
        throw std::length_error("build_labls: k-mer length " + std::to_string(k) + " is outside 0 to " +
                                std::to_string(MAX_LABEL_K));
    }
    const int count = k == 0 ? 0 : 1 << (2 * k);
    labels.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string label(static_cast<std::size_t>(k), 'A');
        for (int digit = k - 1, rest = i; digit >= 0; --digit, rest >>= 2) {
            label[static_cast<std::size_t>(digit)] = BASES[rest & 3];
        }
        index.emplace_hint(index.end(), label, i);
        labels[static_cast<std::size_t>(i)] = std::move(label);
    }
}

uint64_t rev_comp_kmer_value(uint64_t kmer, std::size_t k) {
    if (k > MAX_PACKED_K) {
        throw std::invalid_argument("rev_comp_kmer_value: k-mer length " + std::to_string(k) + " does not fit 64 bits");
    }
    uint64_t result = 0;
    for (std::size_t i = 0; i < k; ++i) {
        result = (result << 2) | (3 - (kmer & 3));
        kmer >>= 2;
    }
    return result;
}

std::string reverse_complement_strand(const std::string& sequence, const std::string& keep) {
    static const std::array<char, 256> translationDict = [] {
        std::array<char, 256> table;
        table.fill('X');
        const char* pairs[] = {"AT", "TA", "CG", "GC", "BV", "VB", "DH", "HD", "KM", "MK", "RY", "YR", "SS", "WW"};
        for (const char* pair : pairs) {
            table[static_cast<unsigned char>(pair[0])] = pair[1];
        }
        return table;
    }();
    std::string result;
    result.reserve(sequence.size());
    for (auto it = sequence.rbegin(); it != sequence.rend(); ++it) {
        const bool kept = keep.find(*it) != std::string::npos;
        result += kept ? *it : translationDict[static_cast<unsigned char>(*it)];
    }
    return result;
}

std::vector<int8_t> reverse_complement_strand(const std::vector<int8_t>& codes) {
    static const std::array<int8_t, 4> translationDict = {3, 2, 1, 0};
    std::vector<int8_t> result;
    result.reserve(codes.size());
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        result.push_back(is_base_code(*it) ? translationDict[static_cast<std::size_t>(*it)] : int8_t{-1});
    }
    return result;
}

int reduce_state(int state, int k, int new_k, bool towards_end) {
    if (k <= new_k) {
        return state;
    }
    // Wide, unsigned and with bounded shifts, so lengths and states outside
    // the 15-base range give some value rather than undefined behaviour.
    const int64_t excess = int64_t{k} - new_k;
    const int64_t drop = excess / 2 + (excess % 2 == 1 && !towards_end ? 1 : 0);
    const int64_t shift = 2 * drop;
    const uint32_t shifted = shift >= 32 ? 0 : static_cast<uint32_t>(state) >> shift;
    uint32_t mask = 0;
    if (new_k >= 16) {
        mask = ~0u;
    } else if (new_k >= 1) {
        mask = (1u << (2 * new_k)) - 1;
    }
    return static_cast<int>(shifted & mask);
}

}  // namespace common
