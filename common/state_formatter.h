#pragma once

// Formatters that turn a list of state records into text.

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/state_logger.h"
#include "common/trace.h"

namespace common {
namespace diagnostics {
namespace state {

// Members keep the order of their first insertion.
using StateJson = nlohmann::ordered_json;

// Nested JSON, 4-space indented, preceded by one newline.
class JsonFormatter : private tracing::TraceDomain<JsonFormatter> {
public:
    std::string operator()(const std::vector<StateRecord>& records) const;
};

// Plain text: one line per value, four spaces per section level.
class IndentationFormatter : private tracing::TraceDomain<IndentationFormatter> {
public:
    std::string operator()(const std::vector<StateRecord>& records) const;
};

// Reads records from `index` into `section` until the closing record of the
// section (whose index is returned) or the end of the list.
std::size_t read_section_to_json(StateJson& section, const std::vector<StateRecord>& records, std::size_t index);

}  // namespace state
}  // namespace diagnostics
}  // namespace common
