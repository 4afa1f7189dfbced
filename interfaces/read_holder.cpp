#include "interfaces/read_holder.h"

#include "common/value_formatter.h"

#include <utility>

namespace interfaces {

namespace {

constexpr ReadPriority DEFAULT_PRIORITY = 1;

const common::ValueFormatter& display_formatter() {
    static const common::ValueFormatter formatter = [] {
        common::ValueFormatter f;
        f.nan_text = "0";
        f.positive_infinity_text = "0";
        f.negative_infinity_text = "0";
        f.true_text = "TRUE";
        f.false_text = "FALSE";
        return f;
    }();
    return formatter;
}

}  // namespace

void ReadCoordinator::register_sub_tag(uint64_t sub_tag) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sub_tags.insert(sub_tag);
}

std::unordered_set<uint64_t> ReadCoordinator::registered_sub_tags() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sub_tags;
}

ReadHolder::ReadHolder() = default;

ReadHolder::ReadHolder(ReadHolder&& other) noexcept
    : m_read_tag(other.m_read_tag),
      m_priority(other.m_priority),
      m_metadata(std::move(other.m_metadata)),
      m_datasets(std::move(other.m_datasets)),
      m_coordinator(std::move(other.m_coordinator)),
      m_sub_tag(other.m_sub_tag),
      m_sub_tag_counter(std::move(other.m_sub_tag_counter)),
      m_attachment(std::move(other.m_attachment)),
      m_timestamps(std::exchange(other.m_timestamps, common::diagnostics::timings::Timestamps())) {
    other.clear();
}

ReadHolder& ReadHolder::operator=(ReadHolder&& other) noexcept {
    if (this != &other) {
        m_read_tag = other.m_read_tag;
        m_priority = other.m_priority;
        m_metadata = std::move(other.m_metadata);
        m_datasets = std::move(other.m_datasets);
        m_coordinator = std::move(other.m_coordinator);
        m_sub_tag = other.m_sub_tag;
        m_sub_tag_counter = std::move(other.m_sub_tag_counter);
        m_attachment = std::move(other.m_attachment);
        m_timestamps = std::exchange(other.m_timestamps, common::diagnostics::timings::Timestamps());
        other.clear();
    }
    return *this;
}

ReadHolder::~ReadHolder() {
    // Released in a fixed order: what is shared with other reads goes before
    // what this read alone owns.
    m_timestamps = common::diagnostics::timings::Timestamps();
    m_attachment.reset();
    m_sub_tag_counter.reset();
    m_coordinator.reset();
    m_datasets.clear();
    m_metadata.clear();
}

void ReadHolder::clear() {
    m_read_tag = 0;
    m_priority = DEFAULT_PRIORITY;
    m_sub_tag = 0;
    m_sub_tag_counter.reset();
    m_coordinator.reset();
    m_metadata.clear();
    m_datasets.clear();
}

std::string ReadHolder::get_by_name(const std::string& name) const {
    if (!m_metadata.exists(name)) {
        return std::string();
    }
    const std::type_info& type = m_metadata.check_type(name);
    // Narrow integers are widened so that 8-bit values print as numbers.
    if (type == typeid(std::string)) return m_metadata.get_value<std::string>(name);
    if (type == typeid(float)) return display_formatter().Format(m_metadata.get_value<float>(name));
    if (type == typeid(double)) return display_formatter().Format(m_metadata.get_value<double>(name));
    if (type == typeid(bool)) return display_formatter().Format(m_metadata.get_value<bool>(name));
    if (type == typeid(int8_t)) return std::to_string(static_cast<int32_t>(m_metadata.get_value<int8_t>(name)));
    if (type == typeid(uint8_t)) return std::to_string(static_cast<int32_t>(m_metadata.get_value<uint8_t>(name)));
    if (type == typeid(int16_t)) return std::to_string(static_cast<int32_t>(m_metadata.get_value<int16_t>(name)));
    if (type == typeid(uint16_t)) return std::to_string(static_cast<int32_t>(m_metadata.get_value<uint16_t>(name)));
    if (type == typeid(int32_t)) return std::to_string(m_metadata.get_value<int32_t>(name));
    if (type == typeid(uint32_t)) return std::to_string(m_metadata.get_value<uint32_t>(name));
    if (type == typeid(int64_t)) return std::to_string(m_metadata.get_value<int64_t>(name));
    if (type == typeid(uint64_t)) return std::to_string(m_metadata.get_value<uint64_t>(name));
    return "unsupported_type";
}

void ReadHolder::create_timestamp() const {
    m_timestamps.create_timestamp();
}

}  // namespace interfaces
