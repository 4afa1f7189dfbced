#include "common/state_formatter.h"

#include <sstream>
#include <stdexcept>

namespace common {
namespace diagnostics {
namespace state {
namespace {

[[noreturn]] void throw_invalid_type(const boost::any& value) {
    throw std::runtime_error(std::string("invalid type held as state record value: ") + value.type().name());
}

StateJson to_json(const boost::any& value) {
    if (value.empty()) {
        return nullptr;
    }
    if (auto v = boost::any_cast<long long>(&value)) {
        return static_cast<std::int64_t>(*v);
    }
    if (auto v = boost::any_cast<unsigned long long>(&value)) {
        return static_cast<std::uint64_t>(*v);
    }
    if (auto v = boost::any_cast<double>(&value)) {
        return *v;
    }
    if (auto v = boost::any_cast<std::string>(&value)) {
        return *v;
    }
    if (auto v = boost::any_cast<bool>(&value)) {
        return *v;
    }
    throw_invalid_type(value);
}

std::string to_text(const boost::any& value) {
    if (value.empty()) {
        return {};
    }
    if (auto v = boost::any_cast<long long>(&value)) {
        return std::to_string(*v);
    }
    if (auto v = boost::any_cast<unsigned long long>(&value)) {
        return std::to_string(*v);
    }
    if (auto v = boost::any_cast<double>(&value)) {
        return std::to_string(*v);
    }
    if (auto v = boost::any_cast<std::string>(&value)) {
        return *v;
    }
    if (auto v = boost::any_cast<bool>(&value)) {
        return *v ? "true" : "false";
    }
    throw_invalid_type(value);
}

std::string create_indent(int depth) {
    if (depth < 0) {
        throw std::runtime_error("Malformed StateTable detected while formatting.");
    }
    return std::string(static_cast<std::size_t>(depth) * 4, ' ');
}

}  // namespace

std::size_t read_section_to_json(StateJson& section, const std::vector<StateRecord>& records, std::size_t index) {
    for (; index < records.size(); ++index) {
        const auto& record = records[index];
        switch (record.type) {
            case StateRecordType::value:
                // Insert-or-assign: a repeated key keeps its first position.
                section[record.key] = to_json(record.value);
                break;
            case StateRecordType::section_begin: {
                auto child = StateJson::object();
                index = read_section_to_json(child, records, index + 1);
                section[record.key] = std::move(child);
                break;
            }
            case StateRecordType::section_end: return index;
            default: break;
        }
    }
    return index;
}

std::string JsonFormatter::operator()(const std::vector<StateRecord>& records) const {
    auto trace = create_trace("operator()");
    auto root = StateJson::object();
    if (read_section_to_json(root, records, 0) != records.size()) {
        throw std::runtime_error("malformed state_table");
    }
    // Invalid UTF-8 in a value is replaced rather than making the report fail.
    return "\n" + root.dump(4, ' ', false, StateJson::error_handler_t::replace);
}

std::string IndentationFormatter::operator()(const std::vector<StateRecord>& records) const {
    auto trace = create_trace("operator()");
    std::ostringstream out;
    out << '\n';
    int depth = 0;
    std::string indent;
    for (const auto& record : records) {
        switch (record.type) {
            case StateRecordType::value: out << indent << record.key << ": " << to_text(record.value) << '\n'; break;
            case StateRecordType::section_begin:
                out << indent << record.key << '\n';
                indent = create_indent(++depth);
                break;
            case StateRecordType::section_end: indent = create_indent(--depth); break;
            default: break;
        }
    }
    return out.str();
}

}  // namespace state
}  // namespace diagnostics
}  // namespace common
