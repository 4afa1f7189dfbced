#pragma once

#include <string>

#include <boost/log/core/record_view.hpp>
#include <boost/log/expressions/formatter.hpp>
#include <boost/log/utility/formatting_ostream.hpp>

#include "common/log_options.h"

namespace common {
namespace logging {

// Builds the line layout selected by the five switches: time stamp,
// "[vemla/<channel>] ", "{<severity>} ", "<function>: ", "(thread: <id>) ",
// then the message. The layout is fixed when the formatter is built.
boost::log::formatter CreateLogFormatters(const FormatterSettings& settings);

namespace expressions {
namespace detail {

// Shortens a pretty-function signature to the qualified function name.
std::string shorten_pretty_function(const std::string& signature);

// Writes the record's shortened "Function" value (nothing when absent).
void format_pretty_function(const boost::log::record_view& record, boost::log::formatting_ostream& stream);

}  // namespace detail
}  // namespace expressions

}  // namespace logging
}  // namespace common
