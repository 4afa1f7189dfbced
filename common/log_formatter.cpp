#include "common/log_formatter.h"

#include <array>
#include <utility>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/expressions/formatters/date_time.hpp>
#include <boost/log/expressions/formatters/stream.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/support/date_time.hpp>

namespace common {
namespace logging {

namespace expressions {
namespace detail {

std::string shorten_pretty_function(const std::string& signature) {
    std::string text = signature;
    const auto paren = text.find('(');
    if (paren == std::string::npos) {
        return text;
    }
    text.erase(paren);
    const auto open = text.find('<');
    if (open != std::string::npos) {
        const auto close = text.rfind('>');
        if (close != std::string::npos) {
            if (close > open) {
                text.erase(open + 1, close - open - 1);
            } else {
                text.erase(open + 1);
            }
        }
    }
    const auto space = text.rfind(' ');
    if (space != std::string::npos) {
        text.erase(0, space + 1);
    }
    return text;
}

void format_pretty_function(const boost::log::record_view& record, boost::log::formatting_ostream& stream) {
    const auto function = boost::log::extract<std::string>(attributes::names::function(), record);
    if (function) {
        stream << shorten_pretty_function(function.get());
    }
}

}  // namespace detail
}  // namespace expressions

namespace {

using attributes::SeverityLevel;

const boost::log::attribute_name& timestamp_name() {
    static const boost::log::attribute_name name("TimeStamp");
    return name;
}
const boost::log::attribute_name& channel_name() {
    static const boost::log::attribute_name name("Channel");
    return name;
}
const boost::log::attribute_name& severity_name() {
    static const boost::log::attribute_name name("Severity");
    return name;
}
const boost::log::attribute_name& thread_id_name() {
    static const boost::log::attribute_name name("ThreadID");
    return name;
}

// One layout per switch combination; the pieces are chosen at compile time so
// that formatting a record tests no switch.
template <bool Timestamp, bool Channel, bool Severity, bool Function, bool ThreadId>
class LineFormatter {
public:
    LineFormatter() {
        if constexpr (Timestamp) {
            // Parsed once here, not per record.
            m_timestamp = boost::log::expressions::stream
                          << boost::log::expressions::format_date_time<boost::posix_time::ptime>(
                                     timestamp_name(), "%Y-%m-%d %H:%M:%S.%f ");
        }
    }

    void operator()(const boost::log::record_view& record, boost::log::formatting_ostream& stream) const {
        if constexpr (Timestamp) {
            m_timestamp(record, stream);
        }
        if constexpr (Channel) {
            stream << "[vemla/";
            if (const auto channel = boost::log::extract<std::string>(channel_name(), record)) {
                stream << channel.get();
            }
            stream << "] ";
        }
        if constexpr (Severity) {
            stream << "{";
            if (const auto level = boost::log::extract<SeverityLevel>(severity_name(), record)) {
                stream << attributes::to_string(level.get());
            }
            stream << "} ";
        }
        if constexpr (Function) {
            expressions::detail::format_pretty_function(record, stream);
            stream << ": ";
        }
        if constexpr (ThreadId) {
            stream << "(thread: ";
            if (const auto id = boost::log::extract<boost::log::attributes::current_thread_id::value_type>(
                        thread_id_name(), record)) {
                stream << id.get();
            }
            stream << ") ";
        }
        stream << record[boost::log::expressions::message];
    }

private:
    boost::log::formatter m_timestamp;
};

template <std::size_t Index>
boost::log::formatter make_formatter() {
    return boost::log::formatter(
            LineFormatter<(Index & 16) != 0, (Index & 8) != 0, (Index & 4) != 0, (Index & 2) != 0, (Index & 1) != 0>());
}

template <std::size_t... Indices>
boost::log::formatter make_formatter_at(std::size_t index, std::index_sequence<Indices...>) {
    using Factory = boost::log::formatter (*)();
    static constexpr std::array<Factory, sizeof...(Indices)> factories = {&make_formatter<Indices>...};
    return factories[index]();
}

}  // namespace

boost::log::formatter CreateLogFormatters(const FormatterSettings& settings) {
    const std::size_t index = (settings.show_timestamp ? 16u : 0u) + (settings.show_channel ? 8u : 0u) +
                              (settings.show_severity ? 4u : 0u) + (settings.show_function ? 2u : 0u) +
                              (settings.show_thread_id ? 1u : 0u);
    return make_formatter_at(index, std::make_index_sequence<32>());
}

}  // namespace logging
}  // namespace common
