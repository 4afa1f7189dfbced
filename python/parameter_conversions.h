#pragma once

// Python values towards client parameters (Metadata entries of a fixed
// value type). All of it runs with the interpreter lock held.

#include "bass/data_wrappers/metadata.h"

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
void insert_py_value(bass::data_wrappers::Metadata& metadata, const std::string& key,
                     py::handle value, std::type_index type);

// Appends the items of `list` to `out`, separated by commas (no separator
// while `out` is empty); false at the first item that is not str or bytes.
bool str_list_to_std_string(const py::list& list, std::string& out);

}  // namespace vemla
