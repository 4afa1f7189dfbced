#include "common/trace_file_writer.h"

#include <ctime>

#include <boost/filesystem/path.hpp>

#include "common/path_utils.h"
#include "common/time_utils.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {

TraceFileWriter::TraceFileWriter(std::string folder, std::uint64_t max_file_size)
    : m_max_file_size(max_file_size), m_folder(std::move(folder)) {}

void TraceFileWriter::set_folder_if_empty(std::string folder) {
    if (m_folder.empty()) {
        m_folder = std::move(folder);
    }
}

void TraceFileWriter::set_unique_id(const std::string& unique_id) {
    if (!unique_id.empty()) {
        m_unique_id_suffix = "_" + unique_id;
    }
}

void TraceFileWriter::write(const std::string& line) {
    if (m_stream.is_open()) {
        // A failed stream reads -1, i.e. the largest unsigned value, and so
        // always moves on to the next file.
        const auto position = static_cast<std::uint64_t>(static_cast<std::streamoff>(m_stream.tellp()));
        if (position >= m_max_file_size) {
            set_next_trace_ofstream();
        }
    } else {
        if (m_folder.empty()) {
            return;  // nowhere to write; the prefix is made when a folder is known
        }
        start_new_prefix();
        set_next_trace_ofstream();
    }
    if (m_stream.is_open()) {
        m_stream << line << '\n';
        m_stream.flush();
    }
}

void TraceFileWriter::start_new_prefix() {
    const std::time_t now = std::time(nullptr);
    const std::tm utc = common::gmtimeThreadsafe(&now);
    char time_text[32] = {};
    std::strftime(time_text, sizeof(time_text), "%F_T%H-%M-%S", &utc);
    m_prefix = common::executable_path().stem().string() + m_unique_id_suffix + "_" + time_text + "_";
}

void TraceFileWriter::set_next_trace_ofstream() {
    if (m_stream.is_open()) {
        m_stream.close();
    }
    if (m_folder.empty()) {
        return;
    }
    const auto file_name = m_prefix + std::to_string(m_counter) + m_extension;
    ++m_counter;
    // Appends to a file of the same name; the folder is not created.
    m_stream.open((boost::filesystem::path(m_folder) / file_name).string(), std::ios::out | std::ios::app);
}

}  // namespace details
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
