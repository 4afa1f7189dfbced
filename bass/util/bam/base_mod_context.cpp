#include "bass/util/bam/base_mod_context.h"

#include <stdexcept>

namespace bass {
namespace util {
namespace bam {

namespace {
constexpr char CANONICAL_BASES[] = "ACGT";
constexpr size_t NUM_CANONICAL_BASES = 4;
}  // namespace

BaseModContext::BaseModContext() : m_base_index{{'A', 0}, {'C', 1}, {'G', 2}, {'T', 3}}, m_offsets{0, 0, 0, 0} {}

bool BaseModContext::is_canonical_base(char letter) {
    return letter == 'A' || letter == 'C' || letter == 'G' || letter == 'T';
}

size_t BaseModContext::index_of(char base) const {
    auto it = m_base_index.find(base);
    if (it == m_base_index.end()) {
        throw std::out_of_range(std::string("Not a canonical base: '") + base + "'.");
    }
    return it->second;
}

bool BaseModContext::decode(const std::string& context) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t colon = context.find(':', start);
        parts.push_back(context.substr(start, colon - start));
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    if (parts.size() != NUM_CANONICAL_BASES) {
        return false;
    }
    for (size_t i = 0; i < NUM_CANONICAL_BASES; ++i) {
        const std::string& part = parts[i];
        if (part == "_") {
            m_motifs[i].clear();
            m_offsets[i] = 0;
            continue;
        }
        const size_t x = part.find('X');
        if (x == std::string::npos) {
            return false;
        }
        m_motifs[i] = part;
        m_motifs[i][x] = CANONICAL_BASES[i];
        m_offsets[i] = x;
    }
    return true;
}

std::string BaseModContext::encode() const {
    std::string out;
    for (size_t i = 0; i < NUM_CANONICAL_BASES; ++i) {
        if (i > 0) {
            out += ':';
        }
        if (m_motifs[i].empty()) {
            out += '_';
        } else {
            std::string part = m_motifs[i];
            part[m_offsets[i]] = 'X';
            out += part;
        }
    }
    return out;
}

void BaseModContext::set_context(std::string motif, size_t offset) {
    const char base = motif.at(offset);
    if (!is_canonical_base(base)) {
        throw std::runtime_error("Invalid motif string '" + motif + "'.");
    }
    const size_t i = index_of(base);
    m_motifs[i] = std::move(motif);
    m_offsets[i] = offset;
}

const std::string& BaseModContext::motif(char base) const {
    return m_motifs[index_of(base)];
}

size_t BaseModContext::motif_offset(char base) const {
    return m_offsets[index_of(base)];
}

std::vector<int32_t> BaseModContext::get_sequence_mask(const std::string& sequence) const {
    std::vector<int32_t> mask(sequence.size(), 0);
    for (size_t i = 0; i < sequence.size(); ++i) {
        const size_t base = index_of(sequence[i]);
        const std::string& m = m_motifs[base];
        const size_t offset = m_offsets[base];
        if (m.empty() || i < offset) {
            continue;
        }
        const size_t start = i - offset;
        if (start + m.size() <= sequence.size() && sequence.compare(start, m.size(), m) == 0) {
            mask[i] = 1;
        }
    }
    return mask;
}

void BaseModContext::update_mask(std::vector<int32_t>& mask,
                                 const std::string& sequence,
                                 const std::string& alphabet,
                                 const bass::data_wrappers::VecView<uint8_t>& probs,
                                 uint8_t threshold) const {
    const size_t channels = alphabet.size();
    char current_base = '\0';
    for (size_t j = 0; j < channels; ++j) {
        if (is_canonical_base(alphabet[j])) {
            current_base = alphabet[j];
            continue;
        }
        if (current_base == '\0') {
            throw std::out_of_range(std::string("Modification channel '") + alphabet[j] +
                                    "' comes before any canonical base in the alphabet.");
        }
        if (!motif(current_base).empty()) {
            continue;
        }
        for (size_t i = 0; i < sequence.size() && i < mask.size(); ++i) {
            if (sequence[i] != current_base) {
                continue;
            }
            const uint64_t element = i * channels + j;
            if (element < probs.size && probs.data[static_cast<int64_t>(element) * probs.stride] >= threshold) {
                mask[i] = 1;
            }
        }
    }
}

}  // namespace bam
}  // namespace util
}  // namespace bass
