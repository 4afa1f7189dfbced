// The vemlapy module. pybind11's module macro checks the interpreter against
// the version the module was built for, creates the module without a
// docstring, and turns any exception raised here into ImportError.

#include "python/align_results.h"
#include "python/test_helpers.h"
#include "python/vemla_client_py.h"

#include <pybind11/pybind11.h>

#include <string>

PYBIND11_MODULE(vemlapy, module) {
    try {
        vemla::register_align_results_dtype();
        vemla::bind_vemla_client(module);
        vemla::add_test_helpers(module);
    } catch (const pybind11::error_already_set& error) {
        // A Python error (NumPy missing or broken, say) would reach the
        // importer as a bare "initialization failed": the ImportError gets
        // its kind and text instead ("ModuleNotFoundError: No module named
        // 'numpy'").
        throw pybind11::import_error(pybind11::str(error.type().attr("__name__")).cast<std::string>() + ": " +
                                     pybind11::str(error.value()).cast<std::string>());
    }
}
