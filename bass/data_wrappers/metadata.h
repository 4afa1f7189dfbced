#pragma once

#include "common/export.h"

// The key types come with the map that Metadata::get reads them from.
#include "bass/data_wrappers/metadata_keys.h"

#include <boost/any.hpp>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>

namespace bass {
namespace data_wrappers {

// The twelve value types a metadata entry may hold. Counts are stored as the
// exact fixed-width types (uint64_t, not size_t aliases of another width).
template <typename T>
struct is_metadata_type
    : std::integral_constant<bool,
                             std::is_same<T, bool>::value || std::is_same<T, int8_t>::value ||
                                     std::is_same<T, uint8_t>::value || std::is_same<T, int16_t>::value ||
                                     std::is_same<T, uint16_t>::value || std::is_same<T, int32_t>::value ||
                                     std::is_same<T, uint32_t>::value || std::is_same<T, int64_t>::value ||
                                     std::is_same<T, uint64_t>::value || std::is_same<T, float>::value ||
                                     std::is_same<T, double>::value || std::is_same<T, std::string>::value> {};

// String-keyed map of dynamically typed values. Type identity is exact
// (typeid equality): no value is ever converted to another type.
class VEMLA_DATA_EXPORT MapWrapper {
public:
    using ValueMap = std::map<std::string, boost::any>;
    using TypeMap = std::map<std::string, std::type_index>;
    using KeyList = std::list<std::pair<std::string, std::type_index>>;

    MapWrapper();
    MapWrapper(const MapWrapper& other);
    MapWrapper(MapWrapper&& other) noexcept;
    MapWrapper& operator=(const MapWrapper& other);
    MapWrapper& operator=(MapWrapper&& other) noexcept;
    ~MapWrapper();

    // Points `out` at the stored value itself when `key` holds a T. Absent
    // key: false, `out` untouched. Other type: false, `out` null.
    template <typename T>
    bool extract(const std::string& key, T*& out) const {
        static_assert(is_metadata_type<T>::value, "unsupported metadata value type");
        const auto found = m_map->find(key);
        if (found == m_map->end()) {
            return false;
        }
        out = boost::any_cast<T>(&found->second);
        return out != nullptr;
    }

    // Stores a copy, replacing any value of any type under the key.
    template <typename T,
              typename = std::enable_if_t<is_metadata_type<T>::value && !std::is_same<T, std::string>::value>>
    void insert(const std::string& key, const T& value) {
        (*m_map)[key] = value;
    }
    void insert(const std::string& key, const std::string& value);

    // Moves the value in, replacing any previous value (an existing entry
    // does not win, unlike std::map::emplace).
    template <typename T,
              typename V = std::decay_t<T>,
              typename = std::enable_if_t<is_metadata_type<V>::value && !std::is_same<V, std::string>::value>>
    void emplace(const std::string& key, T&& value) {
        (*m_map)[key] = V(std::forward<T>(value));
    }
    void emplace(const std::string& key, std::string value);

    // Copy of the value; std::out_of_range when absent or of another type.
    template <typename T>
    T get_value(const std::string& key) const {
        T* value = nullptr;
        if (!extract(key, value)) {
            throw std::out_of_range("Could not find key '" + key + "' in map.");
        }
        return *value;
    }

    bool exists(const std::string& key) const;
    // typeid(void) when the key is absent or its holder empty.
    const std::type_info& check_type(const std::string& key) const;
    void remove(const std::string& key);
    void clear();
    bool empty() const;
    std::size_t size() const;
    void swap(MapWrapper& other) noexcept;
    // Copies every entry of `other` here, overwriting entries of the same key.
    void merge(const MapWrapper& other);
    std::string get_as_string(const std::string& key) const;
    KeyList get_keys() const;
    // Reports entries whose key is not expected or whose type differs;
    // with `remove` set they are also erased.
    TypeMap validate(const TypeMap& expected, bool remove);
    std::ostream& write_to_stream(std::ostream& stream) const;
    // Exact equality, except floats and doubles within 1e-6 (NaN never equal).
    bool operator==(const MapWrapper& other) const;
    bool operator!=(const MapWrapper& other) const { return !(*this == other); }

private:
    std::unique_ptr<ValueMap> m_map;
};

class VEMLA_DATA_EXPORT Metadata : public MapWrapper {
public:
    Metadata() = default;
    Metadata(const Metadata& other) = default;
    Metadata(Metadata&& other) noexcept = default;
    Metadata& operator=(const Metadata& other) = default;
    Metadata& operator=(Metadata&& other) noexcept = default;
    ~Metadata() = default;

    // Takes over `source`'s entries; a non-empty `expected` then silently
    // drops every entry that is not expected or has the wrong type.
    Metadata(MapWrapper&& source, const TypeMap& expected);

    std::ostream& write_to_stream(std::ostream& stream) const { return MapWrapper::write_to_stream(stream); }

    // Writable reference to the entry a key type names (even through a const
    // Metadata); std::out_of_range when absent or of another type.
    template <typename Key>
    typename Key::value_type& get() const {
        using Value = typename Key::value_type;
        static_assert(is_metadata_type<Value>::value, "key type has an unsupported value type");
        const std::string key(Key::name);
        Value* value = nullptr;
        if (!extract(key, value)) {
            throw std::out_of_range("Key '" + key + "' not found.");
        }
        return *value;
    }
};

VEMLA_DATA_EXPORT std::ostream& operator<<(std::ostream& stream, const MapWrapper& map);

}  // namespace data_wrappers
}  // namespace bass
