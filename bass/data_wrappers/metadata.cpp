#include "bass/data_wrappers/metadata.h"

#include <cmath>
#include <vector>

namespace bass {
namespace data_wrappers {

namespace {

template <typename T>
const T* held(const boost::any& value) {
    return boost::any_cast<T>(&value);
}

std::string value_as_string(const boost::any& value) {
    if (const auto* v = held<std::string>(value)) return *v;
    // Narrow integers are widened so that 8-bit values print as numbers.
    if (const auto* v = held<bool>(value)) return std::to_string(static_cast<int32_t>(*v));
    if (const auto* v = held<int8_t>(value)) return std::to_string(static_cast<int32_t>(*v));
    if (const auto* v = held<uint8_t>(value)) return std::to_string(static_cast<int32_t>(*v));
    if (const auto* v = held<int16_t>(value)) return std::to_string(static_cast<int32_t>(*v));
    if (const auto* v = held<uint16_t>(value)) return std::to_string(static_cast<int32_t>(*v));
    if (const auto* v = held<int32_t>(value)) return std::to_string(*v);
    if (const auto* v = held<uint32_t>(value)) return std::to_string(*v);
    if (const auto* v = held<int64_t>(value)) return std::to_string(*v);
    if (const auto* v = held<uint64_t>(value)) return std::to_string(*v);
    if (const auto* v = held<float>(value)) return std::to_string(*v);
    if (const auto* v = held<double>(value)) return std::to_string(*v);
    throw std::runtime_error("Unsupported type for conversion to string.");
}

template <typename T>
bool same_exact(const boost::any& a, const boost::any& b, bool& equal) {
    const auto* x = held<T>(a);
    if (x == nullptr) return false;
    equal = *x == *held<T>(b);
    return true;
}

// Both values are known to hold the same type.
bool values_equal(const boost::any& a, const boost::any& b) {
    bool equal = false;
    if (const auto* x = held<float>(a)) {
        return std::fabs(*x - *held<float>(b)) < 1e-6f;
    }
    if (const auto* x = held<double>(a)) {
        return std::fabs(*x - *held<double>(b)) < 1e-6;
    }
    if (same_exact<std::string>(a, b, equal) || same_exact<bool>(a, b, equal) || same_exact<int8_t>(a, b, equal) ||
        same_exact<uint8_t>(a, b, equal) || same_exact<int16_t>(a, b, equal) || same_exact<uint16_t>(a, b, equal) ||
        same_exact<int32_t>(a, b, equal) || same_exact<uint32_t>(a, b, equal) || same_exact<int64_t>(a, b, equal) ||
        same_exact<uint64_t>(a, b, equal)) {
        return equal;
    }
    return false;
}

}  // namespace

MapWrapper::MapWrapper() : m_map(std::make_unique<ValueMap>()) {}

MapWrapper::MapWrapper(const MapWrapper& other) : m_map(std::make_unique<ValueMap>(*other.m_map)) {}

MapWrapper::MapWrapper(MapWrapper&& other) noexcept : m_map(std::exchange(other.m_map, std::make_unique<ValueMap>())) {}

MapWrapper& MapWrapper::operator=(const MapWrapper& other) {
    if (this != &other) {
        auto copy = std::make_unique<ValueMap>(*other.m_map);
        m_map = std::move(copy);
    }
    return *this;
}

MapWrapper& MapWrapper::operator=(MapWrapper&& other) noexcept {
    if (this != &other) {
        m_map = std::exchange(other.m_map, std::make_unique<ValueMap>());
    }
    return *this;
}

MapWrapper::~MapWrapper() = default;

void MapWrapper::insert(const std::string& key, const std::string& value) {
    (*m_map)[key] = value;
}

void MapWrapper::emplace(const std::string& key, std::string value) {
    (*m_map)[key] = std::move(value);
}

bool MapWrapper::exists(const std::string& key) const {
    return m_map->count(key) != 0;
}

const std::type_info& MapWrapper::check_type(const std::string& key) const {
    const auto found = m_map->find(key);
    return found == m_map->end() ? typeid(void) : found->second.type();
}

void MapWrapper::remove(const std::string& key) {
    if (m_map->erase(key) == 0) {
        throw std::out_of_range("Key '" + key + "' not found.");
    }
}

void MapWrapper::clear() {
    m_map->clear();
}

bool MapWrapper::empty() const {
    return m_map->empty();
}

std::size_t MapWrapper::size() const {
    return m_map->size();
}

void MapWrapper::swap(MapWrapper& other) noexcept {
    m_map.swap(other.m_map);
}

void MapWrapper::merge(const MapWrapper& other) {
    if (this == &other) {
        return;
    }
    for (const auto& entry : *other.m_map) {
        (*m_map)[entry.first] = entry.second;
    }
}

std::string MapWrapper::get_as_string(const std::string& key) const {
    const auto found = m_map->find(key);
    if (found == m_map->end()) {
        throw std::out_of_range("Key '" + key + "' not found.");
    }
    return value_as_string(found->second);
}

MapWrapper::KeyList MapWrapper::get_keys() const {
    KeyList keys;
    for (const auto& entry : *m_map) {
        keys.emplace_back(entry.first, std::type_index(entry.second.type()));
    }
    return keys;
}

MapWrapper::TypeMap MapWrapper::validate(const TypeMap& expected, bool remove) {
    TypeMap report;
    for (const auto& entry : get_keys()) {
        const auto wanted = expected.find(entry.first);
        if (wanted == expected.end() || wanted->second != entry.second) {
            report.emplace(entry.first, entry.second);
        }
    }
    if (remove) {
        for (const auto& entry : report) {
            m_map->erase(entry.first);
        }
    }
    return report;
}

std::ostream& MapWrapper::write_to_stream(std::ostream& stream) const {
    stream << "{";
    std::size_t position = 0;
    for (const auto& entry : *m_map) {
        stream << " (" << entry.first << "=" << value_as_string(entry.second) << ")";
        stream << (++position < m_map->size() ? "," : " ");
    }
    stream << "}";
    return stream;
}

bool MapWrapper::operator==(const MapWrapper& other) const {
    if (m_map->size() != other.m_map->size()) {
        return false;
    }
    for (const auto& entry : *m_map) {
        const auto found = other.m_map->find(entry.first);
        if (found == other.m_map->end() || entry.second.type() != found->second.type()) {
            return false;
        }
        if (!values_equal(entry.second, found->second)) {
            return false;
        }
    }
    return true;
}

Metadata::Metadata(MapWrapper&& source, const TypeMap& expected) : MapWrapper(std::move(source)) {
    if (!expected.empty()) {
        validate(expected, true);
    }
}

std::ostream& operator<<(std::ostream& stream, const MapWrapper& map) {
    return map.write_to_stream(stream);
}

}  // namespace data_wrappers
}  // namespace bass
