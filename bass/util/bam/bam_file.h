#pragma once

#include "bass/data_wrappers/views.h"
#include "bass/util/bam/base_mod_context.h"

#include <cstdint>
#include <string>

namespace bass {
namespace util {
namespace bam {

// Reader and writer of SAM/BAM data. The static members below build the SAM
// text of one basecalled read (mandatory columns of an unmapped read and the
// base-modification and move-table tags); they keep no state and may run on
// any thread. Each returns false and fills `error` on bad input, leaving `out`
// unchanged unless stated otherwise.
class BAMFileHandler {
public:
    // The eleven mandatory columns, tab-joined, without a line end. The
    // ninth column carries the sequence length. Names, sequences and quality
    // strings holding a tab or line break are refused.
    static bool make_unmapped_sam_line(std::string& out,
                                       const std::string& read_name,
                                       const std::string& sequence,
                                       const std::string& qstring,
                                       std::string& error);

    // One-letter code of a modification long name ("5mC" -> "m"); a name of
    // digits only (a ChEBI number) or an empty one is its own code.
    static bool get_modbase_channel_name(std::string& out,
                                         const std::string& long_name,
                                         std::string& error);

    // The "Mm" and "Ml" tags, tab-separated, in `out`. `probs` holds one row
    // per base and one column per alphabet character. Throws
    // std::runtime_error for an undecodable context and std::out_of_range for
    // a non-ACGT base in `sequence` or a channel before any canonical base.
    // On a failure after the size check `out` holds the text built so far.
    static bool generate_modbase_string(std::string& out,
                                        const std::string& sequence,
                                        const std::string& modbase_alphabet,
                                        const std::string& modbase_long_names,
                                        const std::string& context,
                                        const bass::data_wrappers::VecView<uint8_t>& probs,
                                        uint8_t threshold,
                                        std::string& error);
    static bool generate_modbase_string(std::string& out,
                                        const std::string& sequence,
                                        const std::string& modbase_alphabet,
                                        const std::string& modbase_long_names,
                                        const bass::data_wrappers::VecView<uint8_t>& probs,
                                        uint8_t threshold,
                                        std::string& error);

    // The "mv" tag: the stride, then each move split into signed-byte steps
    // (a value above 126 becomes runs of 127 followed by the remainder).
    static bool generate_move_table_string(std::string& out,
                                           const bass::data_wrappers::VecView<uint8_t>& moves,
                                           int8_t stride,
                                           std::string& error);
};

}  // namespace bam
}  // namespace util
}  // namespace bass
