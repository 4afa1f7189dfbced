#pragma once

// The Python class VemlaClient: one library client per Python object.

#include "vemla/vemla_client.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

namespace vemla {

namespace py = pybind11;

class VemlaClientPy {
public:
    VemlaClientPy(const std::string& address, const std::string& config);

    Result set_params(const py::dict& params);
    ConnectionStatus get_status() const;
    std::string get_error_message() const;
    std::string get_internal_state() const;
    Result connect();
    PassReadResult pass_read(const py::dict& read, int wait_duration_ms);
    py::list get_completed_reads();
    Result finish(int timeout);
    Result disconnect();
    py::tuple get_basecalling_config();
    py::tuple get_alignment_sam_header();
    std::string repr() const;

private:
    VemlaClient m_client;
};

// The Python object's single owner of its VemlaClientPy. Destroying a
// client joins its engine's threads, which may wait on the server, so the
// interpreter lock is released meanwhile (the library never calls into
// Python).
struct ReleasingDelete {
    void operator()(VemlaClientPy* client) const;
};
using VemlaClientPyHolder = std::unique_ptr<VemlaClientPy, ReleasingDelete>;

// Registers the class, its static methods and its nested enumerations.
void bind_vemla_client(py::module_& module);

}  // namespace vemla
