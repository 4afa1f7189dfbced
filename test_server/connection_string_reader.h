#pragma once
// The server's own reading of the connection string a client registers
// with: "config:" followed by ">key=value" pairs. It is written apart from
// the client's writer on purpose, so that the two readings check each other.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_server {

struct ConnectionRequest {
    std::string config;
    std::map<std::string, std::string> options;  // later duplicates win

    const std::string* find(const std::string& key) const;
    std::string text(const std::string& key, const std::string& fallback = {}) const;
    // "1"/"true" are true, "0"/"false" false, anything else the fallback.
    bool flag(const std::string& key, bool fallback = false) const;
    // Whole-text unsigned number, else the fallback.
    uint64_t number(const std::string& key, uint64_t fallback = 0) const;
    // barcode_kits split at blanks and commas, empty pieces dropped.
    std::vector<std::string> barcode_kits() const;
};

struct ConnectionStringResult {
    std::optional<ConnectionRequest> request;
    std::string error;  // set when request is empty
};

// Reads one connection string. The config name must not be empty; after the
// ":" there is either nothing or a sequence of ">key=value" pieces with a
// non-empty key (values may be empty and may contain "=").
ConnectionStringResult read_connection_string(const std::string& text);

}  // namespace test_server
