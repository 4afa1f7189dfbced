#pragma once

// How a class writes its internal state: key/value entries in nested named
// sections, each call turned into one StateRecord of a flat list.

#include <cstdint>
#include <memory>
#include <string>

#include <boost/any.hpp>

namespace common {
namespace diagnostics {
namespace state {

enum class StateRecordType : std::uint32_t {
    value = 0,          // one key/value entry
    section_begin = 1,  // opens the section named by the key
    section_end = 2,    // closes the innermost open section
};

// A value record holds one of std::string, bool, long long,
// unsigned long long or double; section records hold nothing.
struct StateRecord {
    StateRecordType type;
    std::string key;
    boost::any value;
};

// Handle of an open section; destroying it closes the section.
class ChildSection {
public:
    virtual ~ChildSection() = default;
};

// Derived loggers should add `using StateLogger::log;` so that the
// convenience overloads below (a string literal in particular) stay visible
// through a reference to the derived class.
class StateLogger {
public:
    virtual void log(std::string key, std::string value) = 0;
    virtual void log(std::string key, bool value) = 0;
    virtual void log(std::string key, long long value) = 0;
    virtual void log(std::string key, unsigned long long value) = 0;
    virtual void log(std::string key, double value) = 0;
    virtual std::unique_ptr<ChildSection> create_child_section(std::string name) = 0;

    // A text must not decay to bool. Requires a non-null pointer.
    void log(std::string key, const char* value) { log(std::move(key), std::string(value)); }

    // Other arithmetic types widen to the five held types, so that int,
    // long (int64_t), unsigned long (uint64_t, size_t) and float are not
    // ambiguous.
    void log(std::string key, int value) { log(std::move(key), static_cast<long long>(value)); }
    void log(std::string key, long value) { log(std::move(key), static_cast<long long>(value)); }
    void log(std::string key, unsigned int value) { log(std::move(key), static_cast<unsigned long long>(value)); }
    void log(std::string key, unsigned long value) { log(std::move(key), static_cast<unsigned long long>(value)); }
    void log(std::string key, float value) { log(std::move(key), static_cast<double>(value)); }

protected:
    StateLogger() = default;
    StateLogger(const StateLogger&) = default;
    StateLogger& operator=(const StateLogger&) = default;
    // Never destroyed through a StateLogger pointer.
    ~StateLogger() = default;
};

}  // namespace state
}  // namespace diagnostics
}  // namespace common
