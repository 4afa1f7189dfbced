#include "ipc_tools/connection_info.h"

#include "common/path_utils.h"
#include "ipc_tools/registered_client_options.h"

#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <typeindex>

namespace ipc_tools {

namespace connection_string {

const std::string KEY_CONNECTION_CLIENT_TIMEOUT = "timeout_interval";
const std::string KEY_CLIENT_NAME = "client_name";
const std::string VALUE_TRUE = "true";
const std::string VALUE_FALSE = "false";

std::string create_kvp(const std::string& key, unsigned int value) {
    return ">" + key + "=" + std::to_string(value);
}

std::string create_kvp(const std::string& key, const std::string& value) {
    return ">" + key + "=" + value;
}

std::pair<bool, std::map<std::string, std::string>> get_kvps(const std::string& text) {
    std::map<std::string, std::string> pairs;
    if (text.empty()) {
        return {true, pairs};
    }
    if (text.front() != '>' || text.find('=') == std::string::npos) {
        return {false, {}};
    }
    std::size_t start = 1;
    while (true) {
        const std::size_t end = text.find('>', start);
        const std::string piece = text.substr(start, end == std::string::npos ? end : end - start);
        if (end == std::string::npos && piece.empty()) {
            break;  // a trailing ">" adds no pair
        }
        const std::size_t equals = piece.find('=');
        if (equals == 0 || equals == std::string::npos) {
            return {false, {}};
        }
        pairs[piece.substr(0, equals)] = piece.substr(equals + 1);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return {true, pairs};
}

template <typename T>
bool parse_value(const std::string& text, T& value) {
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    stream >> value;
    return !stream.fail() && !stream.bad();
}

template bool parse_value<unsigned int>(const std::string& text, unsigned int& value);

}  // namespace connection_string

namespace {

namespace cs = connection_string;

// The server reads "%f" with a dot whatever locale the host process set.
std::string fixed_six_decimals(double value) {
    std::ostringstream stream;
    stream.imbue(std::locale::classic());
    stream << std::fixed << std::setprecision(6) << value;
    return stream.str();
}

bool is_path_option(const std::string& key) {
    return key == "align_ref" || key == "bed_file";
}

std::string option_text(const bass::data_wrappers::Metadata& params, const std::string& key) {
    float* float_value = nullptr;
    if (params.extract(key, float_value)) {
        return fixed_six_decimals(*float_value);
    }
    double* double_value = nullptr;
    if (params.extract(key, double_value)) {
        return fixed_six_decimals(*double_value);
    }
    std::string* text = nullptr;
    if (is_path_option(key) && params.extract(key, text)) {
        // The server must be told the same file that LOAD_INDEX / LOAD_BED named.
        return common::make_canonical_path(*text);
    }
    return params.get_as_string(key);
}

// No escaping exists in the connection string, so a separator inside a value
// would silently change what the server reads.
void check_value(const std::string& key, const std::string& value) {
    if (value.find_first_of(">\n") != std::string::npos) {
        throw std::runtime_error("Cannot build connection string: the value of '" + key +
                                 "' contains '>' or a line break, which the connection string "
                                 "cannot carry: " +
                                 value);
    }
}

template <typename T>
T read_or_zero(const std::string& text) {
    T value{};
    if (!cs::parse_value(text, value)) {
        return T{};
    }
    return value;
}

void insert_typed(bass::data_wrappers::Metadata& params,
                  const std::string& key,
                  const std::type_index& type,
                  const std::string& text) {
    if (type == typeid(std::string)) {
        params.insert(key, text);
    } else if (type == typeid(bool)) {
        params.insert(key, read_or_zero<bool>(text));
    } else if (type == typeid(int32_t)) {
        params.insert(key, read_or_zero<int32_t>(text));
    } else if (type == typeid(uint32_t)) {
        params.insert(key, read_or_zero<uint32_t>(text));
    } else if (type == typeid(int64_t)) {
        params.insert(key, read_or_zero<int64_t>(text));
    } else if (type == typeid(uint64_t)) {
        params.insert(key, read_or_zero<uint64_t>(text));
    } else if (type == typeid(float)) {
        params.insert(key, read_or_zero<float>(text));
    } else if (type == typeid(double)) {
        params.insert(key, read_or_zero<double>(text));
    }
}

void copy_string_param(const bass::data_wrappers::Metadata& params, const std::string& key, std::string& field) {
    std::string* value = nullptr;
    if (params.extract(key, value)) {
        field = *value;
    }
}

}  // namespace

std::string ConnectionInfo::build_connection_string() {
    align_ref = common::make_canonical_path(align_ref);
    bed_file = common::make_canonical_path(bed_file);

    if (config.find(':') != std::string::npos) {
        throw std::runtime_error("Cannot build connection string: the config name '" + config +
                                 "' contains ':', which separates the config name from the "
                                 "options");
    }
    check_value(cs::KEY_CLIENT_NAME, client_name);

    std::string text = config + ":" + cs::create_kvp(cs::KEY_CONNECTION_CLIENT_TIMEOUT, timeout_interval) +
                       cs::create_kvp(cs::KEY_CLIENT_NAME, client_name);
    const client_options::RegisteredClientOptions registered;
    for (const auto& key : registered.keys()) {
        if (!params.exists(key)) {
            continue;
        }
        const std::string value = option_text(params, key);
        check_value(key, value);
        text += cs::create_kvp(key, value);
    }
    return text;
}

std::pair<bool, ConnectionInfo> ConnectionInfo::parse(const std::string& text, std::string& error) {
    get_trace_context()->write_message("parse", text);
    ConnectionInfo info;
    const std::size_t colon = text.find(':');
    info.config = text.substr(0, colon);
    std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    rest = rest.substr(0, rest.find('\n'));

    if (rest.empty() || rest.front() != '>') {
        info.align_type = "auto";
        return {true, info};
    }

    error = "Failed to parse barcoding options in connection string: " + rest;
    const auto [pairs_ok, pairs] = cs::get_kvps(rest);
    if (!pairs_ok) {
        return {false, ConnectionInfo()};
    }

    const auto client_name = pairs.find(cs::KEY_CLIENT_NAME);
    if (client_name != pairs.end()) {
        info.client_name = client_name->second;
    }
    const auto timeout = pairs.find(cs::KEY_CONNECTION_CLIENT_TIMEOUT);
    if (timeout != pairs.end()) {
        unsigned int value = 0;
        if (!cs::parse_value(timeout->second, value)) {
            return {false, ConnectionInfo()};
        }
        info.timeout_interval = value;
    }

    const client_options::RegisteredClientOptions registered;
    for (const auto& key : registered.keys()) {
        const auto pair = pairs.find(key);
        if (pair != pairs.end()) {
            insert_typed(info.params, key, registered.types().at(key), pair->second);
        }
    }

    copy_string_param(info.params, "barcode_kits", info.barcode_kits);
    copy_string_param(info.params, "align_ref", info.align_ref);
    copy_string_param(info.params, "bed_file", info.bed_file);
    copy_string_param(info.params, "align_type", info.align_type);
    if (info.align_type.empty()) {
        info.align_type = "auto";
    }
    return {true, info};
}

uint32_t connect_priority_code(uint32_t priority) {
    return priority <= 2 ? 2 - priority : priority;
}

}  // namespace ipc_tools
