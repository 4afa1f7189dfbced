#include "common/logger_group.h"

#include <iostream>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/utility/exception_handler.hpp>
#include <boost/log/utility/setup/common_attributes.hpp>
#include <boost/log/utility/setup/file.hpp>

#include "common/log_formatter.h"

namespace common {
namespace logging {

std::once_flag is_initialised_flag;

namespace {

std::string escape_percent(std::string text) {
    boost::algorithm::replace_all(text, "%", "%%");
    return text;
}

}  // namespace

void LoggerGroup::SetLoggerOptions(LoggerOptions&& options) {
    removeSink(m_core_file_sink);
    removeSink(m_error_console_sink);
    removeSink(m_output_console_sink);
    removeSink(m_verbose_file_sink);

    m_options = options;

    auto core = boost::log::core::get();
    boost::log::add_common_attributes();
    // A sink that cannot write (unwritable folder, full disk) must never make
    // a logging statement throw.
    core->set_exception_handler(boost::log::make_exception_suppressor());
    core->set_filter(DefineGlobalFilter(options));

    m_core_file_sink = createFileSink(options.log_folder, options.core_log_name, options.sinks[core_file]);
    m_error_console_sink = createStreamSink(std::move(options.sinks[error_console]), &std::cerr);
    m_output_console_sink = createStreamSink(std::move(options.sinks[output_console]), &std::cout);
    m_verbose_file_sink = createFileSink(options.log_folder, options.verbose_log_name, options.sinks[verbose_file]);

    const auto& folder = m_options.log_folder;
    if (!folder.empty() && !boost::filesystem::exists(folder)) {
        boost::filesystem::create_directories(folder);
    }

    core->set_logging_enabled(isLoggingActive());
}

LoggerOptions LoggerGroup::GetLoggerOptions() const {
    return m_options;
}

void LoggerGroup::AddSeverity(attributes::SeverityLevel level, std::vector<Loggers>& sinks) {
    LoggerOptions options = m_options;
    LoggerOptionsUtils::AddSeverity(options, level, sinks);
    updateSeverityFilters(std::move(options));
}

void LoggerGroup::RemoveSeverity(attributes::SeverityLevel level, boost::optional<std::vector<Loggers>>& sinks) {
    LoggerOptions options = m_options;
    LoggerOptionsUtils::RemoveSeverity(options, level, sinks);
    updateSeverityFilters(std::move(options));
}

void LoggerGroup::AddCustomTrace(const std::string& channel, std::vector<Loggers>& sinks) {
    LoggerOptions options = m_options;
    LoggerOptionsUtils::AddCustomTrace(options, channel, sinks);
    updateSeverityFilters(std::move(options));
}

void LoggerGroup::RemoveCustomTrace(std::string& channel, boost::optional<std::vector<Loggers>>& sinks) {
    LoggerOptions options = m_options;
    LoggerOptionsUtils::RemoveCustomTrace(options, channel, sinks);
    updateSeverityFilters(std::move(options));
}

void LoggerGroup::RemoveSinks() {
    removeSink(m_core_file_sink);
    removeSink(m_error_console_sink);
    removeSink(m_output_console_sink);
    removeSink(m_verbose_file_sink);
    boost::log::core::get()->set_filter(DefineRejectFilter());
}

boost::shared_ptr<LoggerGroup::FileSink> LoggerGroup::createFileSink(const boost::filesystem::path& folder,
                                                                     const std::string& name,
                                                                     SinkOptions& options) {
    if (!options.enabled) {
        return {};
    }
    // Only the file name part is a pattern to Boost.Log; the folder is taken
    // literally, so escaping it would send the records to another folder.
    const boost::filesystem::path pattern = folder / (escape_percent(name) + "_log-%Y-%m-%d_%H-%M-%S.log");
    // Append: a file reopened under the same name (a reinstall or a rotation
    // within the same second) must keep the records already written.
    auto sink = boost::log::add_file_log(boost::log::keywords::file_name = pattern,
                                         boost::log::keywords::rotation_size = FILE_ROTATION_SIZE,
                                         boost::log::keywords::auto_flush = true,
                                         boost::log::keywords::open_mode = std::ios_base::out | std::ios_base::app);
    sink->set_formatter(CreateLogFormatters(options.formatter_settings));
    SinkFiltersUtils<FileSink>::SetFiltersForSink(sink, std::move(options.severities),
                                                  std::move(options.custom_traces));
    return sink;
}

boost::shared_ptr<LoggerGroup::StreamSink> LoggerGroup::createStreamSink(SinkOptions&& options, std::ostream* stream) {
    if (!options.enabled) {
        return {};
    }
    auto backend = boost::make_shared<boost::log::sinks::basic_text_ostream_backend<char>>();
    backend->auto_flush(true);
    auto sink = boost::make_shared<StreamSink>(backend);
    sink->set_formatter(CreateLogFormatters(options.formatter_settings));
    backend->add_stream(boost::shared_ptr<std::ostream>(stream, null_deleter()));
    boost::log::core::get()->add_sink(sink);
    SinkFiltersUtils<StreamSink>::SetFiltersForSink(sink, std::move(options.severities),
                                                    std::move(options.custom_traces));
    return sink;
}

void LoggerGroup::updateFileSink(Loggers index,
                                 const boost::filesystem::path& folder,
                                 const std::string& name,
                                 SinkOptions&& options) {
    boost::shared_ptr<FileSink>* slot = nullptr;
    switch (index) {
        case core_file: slot = &m_core_file_sink; break;
        case verbose_file: slot = &m_verbose_file_sink; break;
        default: VEMLA_LOG(common::logging::error) << "Failed to update file sink - received wrong logger type"; return;
    }
    if (!options.enabled) {
        return;
    }
    if (*slot) {
        SinkFiltersUtils<FileSink>::SetFiltersForSink(*slot, std::move(options.severities),
                                                      std::move(options.custom_traces));
    } else {
        *slot = createFileSink(folder, name, options);
    }
}

void LoggerGroup::updateStreamSink(Loggers index, SinkOptions&& options) {
    boost::shared_ptr<StreamSink>* slot = nullptr;
    std::ostream* stream = nullptr;
    switch (index) {
        case error_console:
            slot = &m_error_console_sink;
            stream = &std::cerr;
            break;
        case output_console:
            slot = &m_output_console_sink;
            stream = &std::cout;
            break;
        default:
            VEMLA_LOG(common::logging::error) << "Failed to update stream sink - received wrong logger type";
            return;
    }
    if (!options.enabled) {
        return;
    }
    if (*slot) {
        SinkFiltersUtils<StreamSink>::SetFiltersForSink(*slot, std::move(options.severities),
                                                        std::move(options.custom_traces));
    } else {
        *slot = createStreamSink(std::move(options), stream);
    }
}

void LoggerGroup::updateSeverityFilters(LoggerOptions&& options) {
    m_options = options;
    auto core = boost::log::core::get();
    core->set_filter(DefineGlobalFilter(options));
    updateFileSink(core_file, options.log_folder, options.core_log_name, std::move(options.sinks[core_file]));
    updateFileSink(verbose_file, options.log_folder, options.verbose_log_name, std::move(options.sinks[verbose_file]));
    updateStreamSink(error_console, std::move(options.sinks[error_console]));
    updateStreamSink(output_console, std::move(options.sinks[output_console]));
    core->set_logging_enabled(isLoggingActive());
}

void LoggerGroup::removeSink(boost::shared_ptr<FileSink>& sink) {
    if (sink) {
        boost::log::core::get()->remove_sink(sink);
        sink.reset();
    }
}

void LoggerGroup::removeSink(boost::shared_ptr<StreamSink>& sink) {
    if (sink) {
        boost::log::core::get()->remove_sink(sink);
        sink.reset();
    }
}

bool LoggerGroup::isLoggingActive() const {
    return (m_core_file_sink && m_options.sinks[core_file].enabled) ||
           (m_error_console_sink && m_options.sinks[error_console].enabled) ||
           (m_output_console_sink && m_options.sinks[output_console].enabled) ||
           (m_verbose_file_sink && m_options.sinks[verbose_file].enabled);
}

namespace {

LoggerGroup& group_instance() {
    auto& instance = common::Singleton<LoggerGroup>::s_instance;
    if (!instance) {
        instance.reset(new LoggerGroup());
    }
    return *instance;
}

}  // namespace

void LoggerOptionsUtils::SetDefaultLogOptions() {
    bool first = false;
    std::call_once(is_initialised_flag, [&first] { first = true; });
    if (!first) {
        return;
    }
    group_instance().SetLoggerOptions(GetDefaultLibraryLogOptions());
}

void LoggerOptionsUtils::SetDefaultVemlaLogOptions(const std::string& log_folder,
                                                   const std::string& core_log_name,
                                                   const std::string& verbose_log_name,
                                                   bool quiet,
                                                   bool verbose_logs,
                                                   const std::string& custom_trace_list) {
    std::call_once(is_initialised_flag, [] {});
    LoggerOptions options = GetDefaultVemlaLogOptions(quiet, verbose_logs, custom_trace_list);
    options.log_folder = log_folder;
    options.core_log_name = core_log_name;
    options.verbose_log_name = verbose_log_name;
    group_instance().SetLoggerOptions(std::move(options));
}

void LoggerOptionsUtils::DisableAllLogs() {
    group_instance();
    boost::log::core::get()->set_logging_enabled(false);
}

}  // namespace logging
}  // namespace common
