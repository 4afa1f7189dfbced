#pragma once

#include "bass/data_wrappers/views.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bass {
namespace util {
namespace bam {

// Which sequence motifs each canonical base (A, C, G, T) may be modified in.
// A context string has one part per base, in the order A:C:G:T; a part is "_"
// (no motif) or the motif with "X" standing for the modifiable base, so
// "_:XG:_:_" restricts C modifications to CpG sites.
class BaseModContext {
public:
    BaseModContext();

    // False when the string is not four ":"-separated parts, or a part is
    // neither "_" nor contains an "X". Parts before the bad one are applied.
    bool decode(const std::string& context);
    std::string encode() const;

    // The modifiable base is the letter at `offset` of `motif`.
    void set_context(std::string motif, size_t offset);

    // Both throw std::out_of_range for a letter other than A, C, G, T.
    const std::string& motif(char base) const;
    size_t motif_offset(char base) const;

    // 1 at every position whose base sits at its motif's offset inside a full
    // occurrence of that motif; 0 elsewhere and for bases without a motif.
    std::vector<int32_t> get_sequence_mask(const std::string& sequence) const;

    // Adds the positions of motif-free bases whose probability for one of
    // their modification channels reaches `threshold`. `probs` is base-major:
    // channel j of position i is element i * alphabet.size() + j.
    void update_mask(std::vector<int32_t>& mask,
                     const std::string& sequence,
                     const std::string& alphabet,
                     const bass::data_wrappers::VecView<uint8_t>& probs,
                     uint8_t threshold) const;

    static bool is_canonical_base(char letter);

private:
    size_t index_of(char base) const;

    std::map<char, uint64_t> m_base_index;
    std::array<std::string, 4> m_motifs;
    std::array<uint64_t, 4> m_offsets;
};

}  // namespace bam
}  // namespace util
}  // namespace bass
