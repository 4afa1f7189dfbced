#pragma once

// Logging vocabulary of the library: severities, attribute names, the four
// process-wide loggers, sink options and the helpers that build and install
// them. Every logging point should go through VEMLA_LOG (or the
// write_log_record helper) so that the record carries the "Function" attribute.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include <boost/filesystem/path.hpp>
#include <boost/log/attributes/attribute_name.hpp>
#include <boost/log/keywords/channel.hpp>
#include <boost/log/keywords/severity.hpp>
#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_channel_logger.hpp>
#include <boost/log/utility/manipulators/add_value.hpp>
#include <boost/optional.hpp>

namespace common {
namespace logging {

namespace attributes {

enum SeverityLevel : std::uint8_t {
    trace = 0,
    verbose = 1,
    message = 2,
    info = 3,
    warning = 4,
    error = 5,
};

// Name of a severity; any value above error gives "unknown".
const char* to_string(SeverityLevel level);

// Exact, case-sensitive lookup; throws std::runtime_error for an unknown name.
SeverityLevel get_severity_by_name(const std::string& name);

namespace names {
// The "Function" attribute name, resolved once per process.
const boost::log::attribute_name& function();
}  // namespace names

}  // namespace attributes

// Multi-thread severity and channel logger (light read-write mutex).
class BoostLoggerWrapper
    : public boost::log::sources::severity_channel_logger_mt<attributes::SeverityLevel, std::string> {
    using base_type = boost::log::sources::severity_channel_logger_mt<attributes::SeverityLevel, std::string>;

public:
    BoostLoggerWrapper() = default;
    BoostLoggerWrapper(const std::string& channel, attributes::SeverityLevel default_severity)
        : base_type((boost::log::keywords::channel = channel, boost::log::keywords::severity = default_severity)) {}
};

// The global loggers: channels "error", "warning", "info" and "verbose", each
// opening records at its own severity by default.
BOOST_LOG_GLOBAL_LOGGER(error, BoostLoggerWrapper)
BOOST_LOG_GLOBAL_LOGGER(warning, BoostLoggerWrapper)
BOOST_LOG_GLOBAL_LOGGER(info, BoostLoggerWrapper)
BOOST_LOG_GLOBAL_LOGGER(verbose, BoostLoggerWrapper)

struct FormatterSettings {
    bool show_timestamp = true;
    bool show_channel = false;
    bool show_severity = true;
    bool show_function = true;
    bool show_thread_id = false;
};

struct SinkOptions {
    std::vector<attributes::SeverityLevel> severities;
    std::unordered_set<std::string> custom_traces;
    FormatterSettings formatter_settings;
    bool enabled = false;
};

enum Loggers : std::uint8_t {
    core_file = 0,
    error_console = 1,
    output_console = 2,
    verbose_file = 3,
};

struct LoggerOptions {
    std::array<SinkOptions, 4> sinks;
    boost::filesystem::path log_folder;
    std::string core_log_name;
    std::string verbose_log_name;
};

// Turns options into live sinks; declared in common/logger_group.h.
class LoggerGroup;

class LoggerOptionsUtils {
public:
    // Editing helpers: work on caller-owned options, take no lock.
    static void AddSeverity(LoggerOptions& options, attributes::SeverityLevel level, const std::vector<Loggers>& sinks);
    static void RemoveSeverity(LoggerOptions& options,
                               attributes::SeverityLevel level,
                               const boost::optional<std::vector<Loggers>>& sinks);
    static void AddCustomTrace(LoggerOptions& options, const std::string& channel, const std::vector<Loggers>& sinks);
    static void RemoveCustomTrace(LoggerOptions& options,
                                  const std::string& channel,
                                  boost::optional<std::vector<Loggers>>& sinks);

    // Presets.
    static LoggerOptions GetDefaultLibraryLogOptions();
    static LoggerOptions GetDefaultInitData();
    static LoggerOptions GetDefaultVemlaLogOptions(bool quiet, bool verbose_logs, const std::string& custom_trace_list);

    // Installers (see logger_group.cpp).
    static void SetDefaultLogOptions();
    static void SetDefaultVemlaLogOptions(const std::string& log_folder,
                                          const std::string& core_log_name,
                                          const std::string& verbose_log_name,
                                          bool quiet,
                                          bool verbose_logs,
                                          const std::string& custom_trace_list);
    static void DisableAllLogs();
};

// Writes one record on `logger` at its default severity with the given
// "Function" text. Used where the function text is fixed rather than taken
// from the compiler.
void write_log_record(BoostLoggerWrapper& logger, const std::string& function, const std::string& text);

}  // namespace logging
}  // namespace common

// Opens a record on one of the global loggers (common::logging::error,
// warning, info, verbose) at its own severity, attaches the enclosing
// function's signature as "Function" and streams the message:
//     VEMLA_LOG(common::logging::warning) << "queue full: " << n;
#define VEMLA_LOG(global_logger)                                                                                 \
    BOOST_LOG(global_logger::get()) << ::boost::log::add_value(::common::logging::attributes::names::function(), \
                                                               ::std::string(__PRETTY_FUNCTION__))

#define VEMLA_LOG_ERROR VEMLA_LOG(::common::logging::error)
#define VEMLA_LOG_WARNING VEMLA_LOG(::common::logging::warning)
#define VEMLA_LOG_INFO VEMLA_LOG(::common::logging::info)
#define VEMLA_LOG_VERBOSE VEMLA_LOG(::common::logging::verbose)
