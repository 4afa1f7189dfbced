#pragma once

#include "vemla/read.h"

#include <cstddef>
#include <string>
#include <vector>

namespace example {

enum class OutputFormat { bam, sam };

// The format a file name asks for: ".bam" or ".sam" in any letter case.
// False for any other name.
bool output_format_of(const std::string& path, OutputFormat& format);

// The reads of a run as SAM records: a header (with the server's reference
// lines when reads are aligned) and each read's SAM lines, written at the
// end either as SAM text or as a coordinate-sorted BAM file with its BAI
// index.
class ReadOutput {
public:
    // `reference_header`: the "@SQ" lines of the alignment index, or empty.
    explicit ReadOutput(const std::string& reference_header);

    // Adds the read's lines, with base modifications of `percentage` % or
    // more; false (and the reason in `error`) when the read has none.
    bool add(const vemla::Read& read, float percentage, std::string& error);
    size_t records() const { return m_lines.size(); }

    // SAM text, or a coordinate-sorted BAM file with its index (path +
    // ".bai"). False with the reason in `error`.
    bool write(const std::string& path, OutputFormat format, std::string& error) const;

private:
    bool write_sam(const std::string& path, std::string& error) const;
    bool write_bam(const std::string& path, std::string& error) const;

    std::string m_header;
    std::vector<std::string> m_lines;
};

}  // namespace example
