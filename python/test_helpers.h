#pragma once

#include <pybind11/pybind11.h>

namespace vemla {

// Adds the module-level functions that run one conversion on fixed data, so
// that Python tests can check the conversions without a server.
void add_test_helpers(pybind11::module_& module);

}  // namespace vemla
