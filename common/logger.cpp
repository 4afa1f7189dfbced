#include "common/logger.h"

#include <algorithm>
#include <stdexcept>

#include <boost/log/keywords/channel.hpp>
#include <boost/log/keywords/severity.hpp>

namespace common {
namespace logging {

namespace attributes {

const char* to_string(SeverityLevel level) {
    switch (level) {
        case trace: return "trace";
        case verbose: return "verbose";
        case message: return "message";
        case info: return "info";
        case warning: return "warning";
        case error: return "error";
    }
    return "unknown";
}

SeverityLevel get_severity_by_name(const std::string& name) {
    static const std::pair<const char*, SeverityLevel> lookup[] = {
            {"error", error}, {"warning", warning}, {"message", message},
            {"info", info},   {"verbose", verbose}, {"trace", trace},
    };
    for (const auto& entry : lookup) {
        if (name == entry.first) {
            return entry.second;
        }
    }
    throw std::runtime_error("unable to find severity for string: " + name);
}

namespace names {
const boost::log::attribute_name& function() {
    static const boost::log::attribute_name name("Function");
    return name;
}
}  // namespace names

}  // namespace attributes

namespace {
BoostLoggerWrapper make_logger(const char* channel, attributes::SeverityLevel level) {
    return BoostLoggerWrapper(channel, level);
}
}  // namespace

BOOST_LOG_GLOBAL_LOGGER_INIT(error, BoostLoggerWrapper) {
    return make_logger("error", attributes::error);
}
BOOST_LOG_GLOBAL_LOGGER_INIT(warning, BoostLoggerWrapper) {
    return make_logger("warning", attributes::warning);
}
BOOST_LOG_GLOBAL_LOGGER_INIT(info, BoostLoggerWrapper) {
    return make_logger("info", attributes::info);
}
BOOST_LOG_GLOBAL_LOGGER_INIT(verbose, BoostLoggerWrapper) {
    return make_logger("verbose", attributes::verbose);
}

void write_log_record(BoostLoggerWrapper& logger, const std::string& function, const std::string& text) {
    boost::log::record rec = logger.open_record();
    if (!rec) {
        return;
    }
    boost::log::record_ostream stream(rec);
    stream << boost::log::add_value(attributes::names::function(), function) << text;
    stream.flush();
    logger.push_record(std::move(rec));
}

namespace {

std::vector<Loggers> all_sinks() {
    return {core_file, error_console, output_console, verbose_file};
}

void disable_if_empty(SinkOptions& sink) {
    if (sink.severities.empty() && sink.custom_traces.empty()) {
        sink.enabled = false;
    }
}

SinkOptions make_sink(bool enabled, std::vector<attributes::SeverityLevel> levels, FormatterSettings settings) {
    SinkOptions sink;
    sink.severities = std::move(levels);
    sink.formatter_settings = settings;
    sink.enabled = enabled;
    return sink;
}

// Field order: timestamp, channel, severity, function, thread id.
FormatterSettings fields(bool ts, bool channel, bool severity, bool function, bool thread) {
    return FormatterSettings{ts, channel, severity, function, thread};
}

}  // namespace

void LoggerOptionsUtils::AddSeverity(LoggerOptions& options,
                                     attributes::SeverityLevel level,
                                     const std::vector<Loggers>& sinks) {
    for (Loggers index : sinks) {
        SinkOptions& sink = options.sinks.at(index);
        if (std::find(sink.severities.begin(), sink.severities.end(), level) == sink.severities.end()) {
            sink.severities.push_back(level);
            sink.enabled = true;
        }
    }
}

void LoggerOptionsUtils::RemoveSeverity(LoggerOptions& options,
                                        attributes::SeverityLevel level,
                                        const boost::optional<std::vector<Loggers>>& sinks) {
    for (Loggers index : sinks ? *sinks : all_sinks()) {
        SinkOptions& sink = options.sinks.at(index);
        sink.severities.erase(std::remove(sink.severities.begin(), sink.severities.end(), level),
                              sink.severities.end());
        disable_if_empty(sink);
    }
}

void LoggerOptionsUtils::AddCustomTrace(LoggerOptions& options,
                                        const std::string& channel,
                                        const std::vector<Loggers>& sinks) {
    for (Loggers index : sinks) {
        SinkOptions& sink = options.sinks.at(index);
        if (sink.custom_traces.insert(channel).second) {
            sink.enabled = true;
        }
    }
}

void LoggerOptionsUtils::RemoveCustomTrace(LoggerOptions& options,
                                           const std::string& channel,
                                           boost::optional<std::vector<Loggers>>& sinks) {
    for (Loggers index : sinks ? *sinks : all_sinks()) {
        SinkOptions& sink = options.sinks.at(index);
        sink.custom_traces.erase(channel);
        disable_if_empty(sink);
    }
}

LoggerOptions LoggerOptionsUtils::GetDefaultLibraryLogOptions() {
    LoggerOptions options;
    options.sinks[core_file] = make_sink(false, {}, fields(true, false, true, true, false));
    options.sinks[error_console] =
            make_sink(true, {attributes::warning, attributes::error}, fields(false, true, false, true, false));
    options.sinks[output_console] = make_sink(true, {attributes::message}, fields(false, false, false, false, false));
    options.sinks[verbose_file] = make_sink(false, {}, fields(true, false, true, true, false));
    return options;
}

LoggerOptions LoggerOptionsUtils::GetDefaultInitData() {
    LoggerOptions options;
    options.sinks[core_file] = make_sink(false, {}, fields(true, true, false, true, true));
    options.sinks[error_console] =
            make_sink(true, {attributes::error, attributes::warning}, fields(false, true, false, true, true));
    options.sinks[output_console] =
            make_sink(true, {attributes::info, attributes::message}, fields(false, true, false, true, true));
    options.sinks[verbose_file] = make_sink(false, {}, fields(true, true, false, true, true));
    options.core_log_name = "core";
    options.verbose_log_name = "core_verbose";
    return options;
}

LoggerOptions LoggerOptionsUtils::GetDefaultVemlaLogOptions(bool quiet,
                                                            bool verbose_logs,
                                                            const std::string& custom_trace_list) {
    LoggerOptions options;
    options.sinks[core_file] =
            make_sink(true, {attributes::message, attributes::info, attributes::warning, attributes::error},
                      fields(true, true, false, false, false));
    options.sinks[error_console] =
            make_sink(true, {attributes::warning, attributes::error}, fields(false, true, false, true, false));
    options.sinks[output_console] =
            quiet ? make_sink(false, {}, fields(false, false, false, false, false))
                  : make_sink(true, {attributes::message}, fields(false, false, false, false, false));

    SinkOptions& verbose_sink = options.sinks[verbose_file];
    if (verbose_logs) {
        verbose_sink.enabled = true;
        verbose_sink.formatter_settings.show_channel = true;
        verbose_sink.severities = {attributes::verbose, attributes::message, attributes::info, attributes::warning,
                                   attributes::error};
    }
    if (custom_trace_list.empty()) {
        return options;
    }
    verbose_sink.enabled = true;
    verbose_sink.formatter_settings.show_channel = true;
    verbose_sink.custom_traces.clear();
    // Split at every comma; adjacent commas give the empty name.
    std::string::size_type start = 0;
    while (true) {
        const auto comma = custom_trace_list.find(',', start);
        if (comma == std::string::npos) {
            verbose_sink.custom_traces.insert(custom_trace_list.substr(start));
            break;
        }
        verbose_sink.custom_traces.insert(custom_trace_list.substr(start, comma - start));
        start = comma + 1;
    }
    return options;
}

}  // namespace logging
}  // namespace common
