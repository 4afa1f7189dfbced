#include "read_output.h"

#include "bass/util/bam/bam_file.h"
#include "vemla/vemla_client.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>

namespace example {

ReadOutput::ReadOutput(const std::string& reference_header) {
    m_header = "@HD\tVN:1.6\tSO:unsorted\n" + reference_header;
    if (m_header.back() != '\n') {
        m_header += '\n';
    }
    m_header += "@PG\tID:vemla_example\tPN:vemla_example\tVN:" + vemla::VemlaClient::get_software_version().text + "\n";
}

bool ReadOutput::add(const vemla::Read& read, float percentage, std::string& error) {
    try {
        for (auto& line : read.extract_sam_and_bed_lines(percentage)) {
            m_lines.push_back(std::move(line.sam_line));
        }
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
    return true;
}

bool output_format_of(const std::string& path, OutputFormat& format) {
    if (path.size() < 4) {
        return false;
    }
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".bam" || extension == ".sam") {
        format = extension == ".bam" ? OutputFormat::bam : OutputFormat::sam;
        return true;
    }
    return false;
}

bool ReadOutput::write(const std::string& path, OutputFormat format, std::string& error) const {
    return format == OutputFormat::sam ? write_sam(path, error) : write_bam(path, error);
}

bool ReadOutput::write_sam(const std::string& path, std::string& error) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << m_header;
    for (const auto& line : m_lines) {
        out << line << '\n';
    }
    out.close();
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ReadOutput::write_bam(const std::string& path, std::string& error) const {
    bass::util::bam::BAMFileHandler bam;
    bool written = bam.add_header_lines(m_header);
    for (size_t i = 0; written && i < m_lines.size(); ++i) {
        written = bam.add_alignment_sam(m_lines[i]);
    }
    // Sorted by coordinate first, so that the index can be written beside it.
    written = written && bam.write_to_bam_file(path, true);
    if (!written) {
        error = "cannot write " + path + ": " + bam.error_message();
    }
    return written;
}

}  // namespace example
