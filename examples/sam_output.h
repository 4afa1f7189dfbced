#pragma once

#include "vemla/read.h"

#include <cstddef>
#include <string>
#include <vector>

namespace example {

// The SAM text of a run: a header (with the server's reference lines when
// reads are aligned) and each read's SAM lines, written out at the end.
class SamOutput {
public:
    // `reference_header`: the "@SQ" lines of the alignment index, or empty.
    explicit SamOutput(const std::string& reference_header);

    // Adds the read's lines, with base modifications of `percentage` % or
    // more; false (and the reason in `error`) when the read has none.
    bool add(const vemla::Read& read, float percentage, std::string& error);
    size_t lines() const { return m_lines.size(); }

    // Writes the whole text; false with the reason in `error`.
    bool write(const std::string& path, std::string& error) const;

private:
    std::string m_header;
    std::vector<std::string> m_lines;
};

}  // namespace example
