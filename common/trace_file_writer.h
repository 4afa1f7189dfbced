#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {

// Rotating trace files named <executable stem>[_<unique id>]_<UTC date and
// time>_<counter>.trace in the trace folder. Not thread-safe: used only on
// the tracing worker.
class TraceFileWriter {
public:
    static constexpr std::uint64_t DEFAULT_MAX_FILE_SIZE = 5242880;

    explicit TraceFileWriter(std::string folder, std::uint64_t max_file_size = DEFAULT_MAX_FILE_SIZE);

    // Takes the folder only while none is set.
    void set_folder_if_empty(std::string folder);
    // An empty id leaves the suffix as it is.
    void set_unique_id(const std::string& unique_id);

    // Appends the line and a newline to the current file, moving on to the
    // next file once the current one has reached the maximum size or failed.
    // Without a folder the line is dropped.
    void write(const std::string& line);

    const std::string& folder() const { return m_folder; }

private:
    void start_new_prefix();
    void set_next_trace_ofstream();

    const std::string m_extension = ".trace";
    const std::uint64_t m_max_file_size;
    std::uint64_t m_counter = 0;
    std::ofstream m_stream;
    std::string m_folder;
    std::string m_unique_id_suffix;
    std::string m_prefix;
};

}  // namespace details
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
