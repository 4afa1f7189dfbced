#pragma once

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_file_backend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>

#include "common/log_filters.h"
#include "common/log_options.h"
#include "common/singleton.h"

namespace common {
namespace logging {

// Decides whether SetDefaultLogOptions still has to install anything.
extern std::once_flag is_initialised_flag;

// Lets a stream backend use std::cerr / std::cout without owning them.
struct null_deleter {
    template <typename T>
    void operator()(T*) const noexcept {}
};

template <typename Sink>
struct SinkFiltersUtils {
    static void SetFiltersForSink(boost::shared_ptr<Sink> sink,
                                  std::vector<attributes::SeverityLevel>&& levels,
                                  std::unordered_set<std::string>&& custom_traces) {
        if (!sink) {
            return;
        }
        if (!custom_traces.empty()) {
            sink->set_filter(DefineSeverityFilter(std::move(levels), std::move(custom_traces)));
        } else {
            sink->set_filter(DefineSeverityFilter(std::move(levels)));
        }
    }
};

// Turns LoggerOptions into live Boost.Log sinks. Not thread-safe itself:
// only the installers drive it.
class LoggerGroup {
public:
    using FileSink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_file_backend>;
    using StreamSink = boost::log::sinks::synchronous_sink<boost::log::sinks::basic_text_ostream_backend<char>>;

    static constexpr std::uint64_t FILE_ROTATION_SIZE = 5242880;

    LoggerGroup() = default;
    LoggerGroup(const LoggerGroup&) = delete;
    LoggerGroup& operator=(const LoggerGroup&) = delete;

    void SetLoggerOptions(LoggerOptions&& options);
    LoggerOptions GetLoggerOptions() const;

    void AddSeverity(attributes::SeverityLevel level, std::vector<Loggers>& sinks);
    void RemoveSeverity(attributes::SeverityLevel level, boost::optional<std::vector<Loggers>>& sinks);
    void AddCustomTrace(const std::string& channel, std::vector<Loggers>& sinks);
    void RemoveCustomTrace(std::string& channel, boost::optional<std::vector<Loggers>>& sinks);

    void RemoveSinks();

private:
    boost::shared_ptr<FileSink> createFileSink(const boost::filesystem::path& folder,
                                               const std::string& name,
                                               SinkOptions& options);
    boost::shared_ptr<StreamSink> createStreamSink(SinkOptions&& options, std::ostream* stream);
    void updateFileSink(Loggers index,
                        const boost::filesystem::path& folder,
                        const std::string& name,
                        SinkOptions&& options);
    void updateStreamSink(Loggers index, SinkOptions&& options);
    void updateSeverityFilters(LoggerOptions&& options);
    void removeSink(boost::shared_ptr<FileSink>& sink);
    void removeSink(boost::shared_ptr<StreamSink>& sink);
    bool isLoggingActive() const;

    boost::shared_ptr<FileSink> m_core_file_sink;
    boost::shared_ptr<StreamSink> m_error_console_sink;
    boost::shared_ptr<StreamSink> m_output_console_sink;
    boost::shared_ptr<FileSink> m_verbose_file_sink;
    LoggerOptions m_options;
};

}  // namespace logging
}  // namespace common
