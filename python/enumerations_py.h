#pragma once

#include "python/vemla_client_py.h"

namespace vemla {

// The enumerations status, result, pass_read_result and read_priority in the
// scope of the VemlaClient class, their members exported into that scope.
void bind_enumerations(py::class_<VemlaClientPy, VemlaClientPyHolder>& cls);

}  // namespace vemla
