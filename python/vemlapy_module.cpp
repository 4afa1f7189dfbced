// The vemlapy module. pybind11's module macro checks the interpreter against
// the version the module was built for, creates the module without a
// docstring, and turns any exception raised here into ImportError.

#include "python/align_results.h"
#include "python/test_helpers.h"
#include "python/vemla_client_py.h"

#include <pybind11/pybind11.h>

PYBIND11_MODULE(vemlapy, module) {
    vemla::register_align_results_dtype();
    vemla::bind_vemla_client(module);
    vemla::add_test_helpers(module);
}
