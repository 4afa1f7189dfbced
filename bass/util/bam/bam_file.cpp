#include "bass/util/bam/bam_file.h"

#include <sstream>
#include <unordered_map>
#include <vector>

namespace bass {
namespace util {
namespace bam {

namespace {

// A tab or line break inside a column would split the SAM record.
bool breaks_sam_line(const std::string& text) {
    return text.find_first_of("\t\n\r") != std::string::npos;
}

const std::unordered_map<std::string, std::string>& modbase_codes() {
    static const std::unordered_map<std::string, std::string> codes{
            {"6mA", "a"},   {"5mC", "m"},  {"5hmC", "h"}, {"5fc", "f"},  {"5caC", "c"},
            {"8oxoG", "o"}, {"5hmU", "g"}, {"5fU", "e"},  {"5caU", "b"},
    };
    return codes;
}

bool all_decimal_digits(const std::string& text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

bool BAMFileHandler::make_unmapped_sam_line(std::string& out,
                                            const std::string& read_name,
                                            const std::string& sequence,
                                            const std::string& qstring,
                                            std::string& error) {
    if (sequence.size() != qstring.size()) {
        error = "sequence and qscore do not match size!";
        return false;
    }
    if (read_name.empty()) {
        error = "Empty read_name string provided!";
        return false;
    }
    if (breaks_sam_line(read_name)) {
        error = "read_name contains a tab or line break!";
        return false;
    }
    if (breaks_sam_line(sequence)) {
        error = "sequence contains a tab or line break!";
        return false;
    }
    if (breaks_sam_line(qstring)) {
        error = "qscore contains a tab or line break!";
        return false;
    }

    std::string line;
    line.reserve(read_name.size() + 2 * sequence.size() + 40);
    line += read_name;
    line += "\t4\t*\t0\t0\t*\t*\t0\t";
    line += std::to_string(sequence.size());
    line += '\t';
    line += sequence.empty() ? std::string("*") : sequence;
    line += '\t';
    line += qstring.empty() ? std::string("*") : qstring;
    out = std::move(line);
    return true;
}

bool BAMFileHandler::get_modbase_channel_name(std::string& out, const std::string& long_name, std::string& error) {
    const auto& codes = modbase_codes();
    const auto it = codes.find(long_name);
    if (it != codes.end()) {
        out = it->second;
        return true;
    }
    if (all_decimal_digits(long_name)) {
        out = long_name;
        return true;
    }
    error = "Unknown modified base abbreviation: " + long_name;
    return false;
}

bool BAMFileHandler::generate_modbase_string(std::string& out,
                                             const std::string& sequence,
                                             const std::string& modbase_alphabet,
                                             const std::string& modbase_long_names,
                                             const bass::data_wrappers::VecView<uint8_t>& probs,
                                             uint8_t threshold,
                                             std::string& error) {
    return generate_modbase_string(out, sequence, modbase_alphabet, modbase_long_names, std::string(), probs, threshold,
                                   error);
}

bool BAMFileHandler::generate_modbase_string(std::string& out,
                                             const std::string& sequence,
                                             const std::string& modbase_alphabet,
                                             const std::string& modbase_long_names,
                                             const std::string& context,
                                             const bass::data_wrappers::VecView<uint8_t>& probs,
                                             uint8_t threshold,
                                             std::string& error) {
    const size_t channels = modbase_alphabet.size();
    if (probs.size != sequence.size() * channels) {
        error = "Mismatch between modbase_probs size and sequence length * num channels in "
                "modbase_alphabet!";
        return false;
    }

    out = "Mm:Z:";
    std::string prob_tag = "Ml:B:C";

    BaseModContext base_mod_context;
    if (!context.empty() && !base_mod_context.decode(context)) {
        throw std::runtime_error("Invalid base modification context string.");
    }

    std::vector<int32_t> mask = base_mod_context.get_sequence_mask(sequence);
    base_mod_context.update_mask(mask, sequence, modbase_alphabet, probs, threshold);

    std::istringstream long_names(modbase_long_names);
    char current_base = '\0';
    for (size_t j = 0; j < channels; ++j) {
        if (BaseModContext::is_canonical_base(modbase_alphabet[j])) {
            current_base = modbase_alphabet[j];
            continue;
        }
        if (current_base == '\0') {
            throw std::out_of_range(std::string("Modification channel '") + modbase_alphabet[j] +
                                    "' comes before any canonical base in the alphabet.");
        }

        // A channel without a name would be written with an empty code, which
        // readers reject or silently drop along with its probabilities.
        std::string long_name;
        if (!(long_names >> long_name)) {
            error = "Fewer modified base long names than modification channels in "
                    "modbase_alphabet!";
            return false;
        }
        std::string code;
        if (!get_modbase_channel_name(code, long_name, error)) {
            return false;
        }

        out += current_base;
        out += '+';
        out += code;
        if (base_mod_context.motif(current_base).size() >= 2) {
            out += '?';
        }

        uint64_t skipped = 0;
        for (size_t i = 0; i < sequence.size(); ++i) {
            if (sequence[i] != current_base) {
                continue;
            }
            if (mask[i] == 1) {
                const auto element = static_cast<int64_t>(i * channels + j);
                out += ',';
                out += std::to_string(skipped);
                prob_tag += ',';
                prob_tag += std::to_string(unsigned(probs.data[element * probs.stride]));
                skipped = 0;
            } else {
                ++skipped;
            }
        }
        out += ';';
    }

    out += '\t';
    out += prob_tag;
    return true;
}

bool BAMFileHandler::generate_move_table_string(std::string& out,
                                                const bass::data_wrappers::VecView<uint8_t>& moves,
                                                int8_t stride,
                                                std::string& error) {
    if (moves.size == 0) {
        error = "Zero length move table provided to generate_move_table_string";
        return false;
    }
    std::string tag = "mv:B:c,";
    tag += std::to_string(int(stride));
    tag.reserve(tag.size() + 2 * moves.size);
    for (uint64_t k = 0; k < moves.size; ++k) {
        unsigned value = moves.data[static_cast<int64_t>(k) * moves.stride];
        while (value > 126) {
            tag += ",127";
            value -= 127;
        }
        tag += ',';
        tag += std::to_string(value);
    }
    out = std::move(tag);
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
