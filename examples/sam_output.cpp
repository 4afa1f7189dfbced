#include "sam_output.h"

#include "vemla/vemla_client.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>

namespace example {

SamOutput::SamOutput(const std::string& reference_header) {
    m_header = "@HD\tVN:1.6\tSO:unsorted\n" + reference_header;
    if (!m_header.empty() && m_header.back() != '\n') {
        m_header += '\n';
    }
    m_header += "@PG\tID:vemla_example\tPN:vemla_example\tVN:" + vemla::VemlaClient::get_software_version().text + "\n";
}

bool SamOutput::add(const vemla::Read& read, float percentage, std::string& error) {
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

bool SamOutput::write(const std::string& path, std::string& error) const {
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

}  // namespace example
