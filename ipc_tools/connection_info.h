#pragma once

#include "bass/data_wrappers/metadata.h"
#include "common/trace.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace ipc_tools {

namespace connection_string {

extern const std::string KEY_CONNECTION_CLIENT_TIMEOUT;  // "timeout_interval"
extern const std::string KEY_CLIENT_NAME;                // "client_name"
extern const std::string VALUE_TRUE;                     // "true"
extern const std::string VALUE_FALSE;                    // "false"

/// ">" + key + "=" + value.
std::string create_kvp(const std::string& key, unsigned int value);
std::string create_kvp(const std::string& key, const std::string& value);

/// Splits ">key=value>key=value..." into its pairs; a later pair replaces an
/// earlier one of the same key. The flag is false for malformed text.
std::pair<bool, std::map<std::string, std::string>> get_kvps(const std::string& text);

/// Reads a number from the start of `text` (leading blanks skipped, anything
/// after the number ignored); false when no number could be read.
template <typename T>
bool parse_value(const std::string& text, T& value);

extern template bool parse_value<unsigned int>(const std::string& text, unsigned int& value);

}  // namespace connection_string

/// Everything a client connects with; turned into the connection string the
/// server reads at registration.
class ConnectionInfo : private common::diagnostics::tracing::TraceDomain<ConnectionInfo> {
public:
    ConnectionInfo() = default;
    ConnectionInfo(const ConnectionInfo&) = default;
    ConnectionInfo& operator=(const ConnectionInfo&) = default;
    ~ConnectionInfo() = default;

    /// `config` ":" then the time-out, the client name and every registered
    /// option present in `params`, in registration order. Makes `align_ref`
    /// and `bed_file` canonical absolute paths first. Throws
    /// std::runtime_error when a path cannot be made canonical, or when the
    /// config name or a value contains a separator the server would misread.
    std::string build_connection_string();

    /// Reads a connection string back. On failure the flag is false and
    /// `error` says what could not be read.
    static std::pair<bool, ConnectionInfo> parse(const std::string& text, std::string& error);

    std::string config;
    std::string client_name;
    std::string barcode_kits;
    std::string align_ref;
    std::string bed_file;
    std::string align_type;
    uint32_t priority = 2;
    bass::data_wrappers::Metadata params;
    uint32_t timeout_interval = 0;
};

/// The `value` a CONNECT request carries for a connection priority: the
/// server ranks the other way round, so 0 to 2 are mirrored; any other
/// priority is sent as it is.
uint32_t connect_priority_code(uint32_t priority);

}  // namespace ipc_tools
