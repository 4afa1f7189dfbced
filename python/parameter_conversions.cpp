#include "python/parameter_conversions.h"

#include "ipc_tools/registered_client_options.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vemla {

using bass::data_wrappers::Metadata;

namespace {

const std::map<std::string, std::type_index> CLIENT_PARAMETER_TYPES = {
        {"client_name", typeid(std::string)},     {"query_timeout", typeid(uint32_t)},
        {"pass_read_timeout", typeid(uint32_t)},  {"server_file_load_timeout", typeid(uint32_t)},
        {"connection_timeout", typeid(uint32_t)}, {"reconnect_timeout", typeid(uint32_t)},
        {"max_reads_queued", typeid(uint64_t)},   {"max_message_size", typeid(uint64_t)},
};

// str as its UTF-8 text, bytes as they are, a list joined by commas; any
// other value gives the empty text.
std::string text_value(py::handle value) {
    if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) {
        return value.cast<std::string>();
    }
    std::string text;
    if (py::isinstance<py::list>(value) && !str_list_to_std_string(py::reinterpret_borrow<py::list>(value), text)) {
        throw std::runtime_error("Could not convert python list to string.");
    }
    return text;
}

template <typename T>
void insert_cast(Metadata& metadata, const std::string& key, py::handle value) {
    metadata.insert(key, value.cast<T>());
}

}  // namespace

const std::map<std::string, std::type_index>& client_parameter_types() {
    return CLIENT_PARAMETER_TYPES;
}

void insert_py_value(Metadata& metadata, const std::string& key, py::handle value, std::type_index type) {
    if (type == typeid(std::string)) {
        metadata.insert(key, text_value(value));
    } else if (type == typeid(bool)) {
        insert_cast<bool>(metadata, key, value);
    } else if (type == typeid(int32_t)) {
        insert_cast<int32_t>(metadata, key, value);
    } else if (type == typeid(uint32_t)) {
        insert_cast<uint32_t>(metadata, key, value);
    } else if (type == typeid(int64_t)) {
        insert_cast<int64_t>(metadata, key, value);
    } else if (type == typeid(uint64_t)) {
        insert_cast<uint64_t>(metadata, key, value);
    } else if (type == typeid(float)) {
        insert_cast<float>(metadata, key, value);
    } else if (type == typeid(double)) {
        insert_cast<double>(metadata, key, value);
    } else {
        throw std::runtime_error("Client parameter '" + key + "' has a value type Python cannot set.");
    }
}

ClientParameters client_parameters_from_dict(const py::dict& dict) {
    const client_options::RegisteredClientOptions options;
    ClientParameters result;
    for (const auto item : dict) {
        const auto key = item.first.cast<std::string>();
        const auto option = options.types().find(key);
        const auto parameter = client_parameter_types().find(key);
        if (option != options.types().end()) {
            insert_py_value(result.params, key, item.second, option->second);
        } else if (parameter != client_parameter_types().end()) {
            insert_py_value(result.params, key, item.second, parameter->second);
        } else if (key == "priority") {
            if (!py::isinstance<Read::Priority>(item.second)) {
                throw std::invalid_argument("priority must be a read_priority member");
            }
            result.priority = item.second.cast<Read::Priority>();
            result.has_priority = true;
        } else {
            throw std::invalid_argument("unknown client parameter '" + key + "'");
        }
    }
    return result;
}

bool str_list_to_std_string(const py::list& list, std::string& out) {
    for (const py::handle item : list) {
        if (!py::isinstance<py::str>(item) && !py::isinstance<py::bytes>(item)) {
            return false;
        }
        if (!out.empty()) {
            out += ',';
        }
        out += item.cast<std::string>();
    }
    return true;
}

}  // namespace vemla
