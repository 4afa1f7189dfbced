#include "test_server/connection_string_reader.h"

namespace test_server {

const std::string* ConnectionRequest::find(const std::string& key) const {
    const auto it = options.find(key);
    return it == options.end() ? nullptr : &it->second;
}

std::string ConnectionRequest::text(const std::string& key, const std::string& fallback) const {
    const auto* value = find(key);
    return value ? *value : fallback;
}

bool ConnectionRequest::flag(const std::string& key, bool fallback) const {
    const auto* value = find(key);
    if (!value) {
        return fallback;
    }
    if (*value == "1" || *value == "true") {
        return true;
    }
    if (*value == "0" || *value == "false") {
        return false;
    }
    return fallback;
}

uint64_t ConnectionRequest::number(const std::string& key, uint64_t fallback) const {
    const auto* value = find(key);
    if (!value || value->empty() || value->size() > 19) {
        return fallback;
    }
    uint64_t result = 0;
    for (const char c : *value) {
        if (c < '0' || c > '9') {
            return fallback;
        }
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    return result;
}

std::vector<std::string> ConnectionRequest::barcode_kits() const {
    std::vector<std::string> kits;
    std::string current;
    for (const char c : text("barcode_kits")) {
        if (c == ' ' || c == ',' || c == '\t') {
            if (!current.empty()) {
                kits.push_back(current);
            }
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        kits.push_back(current);
    }
    return kits;
}

ConnectionStringResult read_connection_string(const std::string& text) {
    ConnectionStringResult result;
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        result.error = "connection string has no ':' after the config name";
        return result;
    }
    ConnectionRequest request;
    request.config = text.substr(0, colon);
    if (request.config.empty()) {
        result.error = "connection string names no config";
        return result;
    }
    const std::string pairs = text.substr(colon + 1);
    size_t pos = 0;
    while (pos < pairs.size()) {
        if (pairs[pos] != '>') {
            result.error = "expected '>' at offset " + std::to_string(colon + 1 + pos) + " of the connection string";
            return result;
        }
        const size_t start = pos + 1;
        size_t end = pairs.find('>', start);
        if (end == std::string::npos) {
            end = pairs.size();
        }
        const std::string piece = pairs.substr(start, end - start);
        const auto equals = piece.find('=');
        if (equals == std::string::npos || equals == 0) {
            result.error = "malformed option '" + piece + "' in connection string";
            return result;
        }
        request.options[piece.substr(0, equals)] = piece.substr(equals + 1);
        pos = end;
    }
    result.request = std::move(request);
    return result;
}

}  // namespace test_server
