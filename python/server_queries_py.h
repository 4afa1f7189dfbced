#pragma once

#include "python/vemla_client_py.h"

namespace vemla {

// The static methods of VemlaClient: one-shot server queries and the version
// numbers. Arguments are positional only.
void bind_server_queries(py::class_<VemlaClientPy, VemlaClientPyHolder>& cls);

}  // namespace vemla
