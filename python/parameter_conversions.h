#pragma once

// Python values towards client parameters (Metadata entries of a fixed
// value type). All of it runs with the interpreter lock held.

#include "bass/data_wrappers/metadata.h"
#include "vemla/read.h"

#include <pybind11/pybind11.h>

#include <map>
#include <string>
#include <typeindex>

namespace vemla {

namespace py = pybind11;

// Value types of the client parameters that are not client options (those
// come from the registry of client options).
const std::map<std::string, std::type_index>& client_parameter_types();

// Inserts `value` under `key` as `type`; throws (std::runtime_error or the
// binding layer's cast error) when the value does not convert.
void insert_py_value(bass::data_wrappers::Metadata& metadata,
                     const std::string& key,
                     py::handle value,
                     std::type_index type);

// What a set_params dictionary asks for: client parameters, and a client
// priority when the dictionary names one.
struct ClientParameters {
    bass::data_wrappers::Metadata params;
    bool has_priority = false;
    Read::Priority priority = Read::Priority::MEDIUM_PRIORITY;
};

// Converts every item, in order; throws at an unknown key, a "priority" that
// is not a read_priority member, or a value that does not convert.
ClientParameters client_parameters_from_dict(const py::dict& dict);

// Appends the items of `list` to `out`, separated by commas (no separator
// while `out` is empty); false at the first item that is not str or bytes.
bool str_list_to_std_string(const py::list& list, std::string& out);

}  // namespace vemla
