// SAM text files and the handler's alignment list.
#include "bass/util/bam/bam_file.h"
#include "bass/util/bam/bam_format.h"

#include <fstream>

namespace bass {
namespace util {
namespace bam {

bool BAMFileHandler::add_alignment_sam(std::string sam_line) {
    // Filled aside, so that a refused line (or a conversion that throws)
    // leaves no partial record behind.
    BamRecord record;
    if (!parse_sam_fields(sam_line, record)) {
        m_error_message = "Sam to Bam parsing failed: " + m_error_message;
        return false;
    }
    // The text takes as much memory as the record itself, and most lines are
    // exactly the text their record rebuilds to: only the others (such as a
    // float written "1.0") keep it.
    thread_local std::string rebuilt;
    std::string kept_error;
    kept_error.swap(m_error_message);  // a rebuild that fails is no failure of this call
    if (!build_sam_line(record, rebuilt) || rebuilt != sam_line) {
        record.sam_line.assign(sam_line);
    }
    m_error_message.swap(kept_error);
    m_records.push_back(std::move(record));
    m_is_sorted = false;
    return true;
}

bool BAMFileHandler::read_from_sam_file(const std::string& path) {
    FileNameScope scope(m_file_name, path);
    reset();
    std::ifstream in(path);
    if (!in) {
        m_error_message = "Cannot open file " + path;
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        if (line[0] == '@') {
            if (!add_header_lines(line)) {
                m_error_message = "Could not parse header from SAM file " + path + " : " + m_error_message;
                return false;
            }
        } else if (!add_alignment_sam(std::move(line))) {
            m_error_message = "Could not parse alignment from SAM file " + path + " : " + m_error_message;
            return false;
        }
    }
    if (in.bad()) {
        m_error_message = "Error while reading SAM file " + path;
        return false;
    }
    return true;
}

bool BAMFileHandler::write_to_sam_file(const std::string& path) const {
    FileNameScope scope(m_file_name, path);
    std::string header;
    sam_header_to_write(header);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        m_error_message = "Cannot open SAM file : " + path;
        return false;
    }
    out << header;
    std::string built;
    for (const BamRecord& record : m_records) {
        if (!record.sam_line.empty()) {
            out << record.sam_line << '\n';
        } else if (build_sam_line(record, built)) {
            out << built << '\n';
        } else {
            m_error_message = "SAM line generation failed: " + m_error_message;
            return false;
        }
    }
    out.close();
    if (!out) {
        m_error_message = "Error while writing SAM file " + path;
        return false;
    }
    return true;
}

bool BAMFileHandler::get_num_alignments(size_t& count) const {
    count = m_records.size();
    return true;
}

bool BAMFileHandler::get_alignment_sam(size_t index, std::string& sam_line) const {
    if (index >= m_records.size()) {
        m_error_message = "alignment sam index out of range!";
        return false;
    }
    const BamRecord& record = m_records[index];
    if (!record.sam_line.empty()) {
        sam_line = record.sam_line;
        return true;
    }
    // Records read from BAM get their text on demand.
    std::string built;
    if (!build_sam_line(record, built)) {
        m_error_message = "SAM line generation failed: " + m_error_message;
        return false;
    }
    sam_line = std::move(built);
    return true;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
