#pragma once

#include <list>
#include <map>
#include <string>
#include <typeindex>

namespace client_options {

/// The client options that travel in the connection string, each with its
/// value type, in the fixed order in which they are written.
class RegisteredClientOptions {
public:
    RegisteredClientOptions();

    /// Keys in registration order.
    const std::list<std::string>& keys() const { return m_keys; }
    /// Value type of every registered key.
    const std::map<std::string, std::type_index>& types() const { return m_types; }

    bool is_registered(const std::string& key) const { return m_types.count(key) != 0; }

private:
    std::map<std::string, std::type_index> m_types;
    std::list<std::string> m_keys;
};

}  // namespace client_options
