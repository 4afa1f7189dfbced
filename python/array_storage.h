#pragma once

// Storage of the larger NumPy arrays the conversions hand to Python.
//
// A stream of completed reads becomes a stream of arrays of similar sizes
// that Python frees batch by batch. Left to malloc, each freed batch shrinks
// the heap and the next one faults every page in again, which costs more
// than the copy itself. Buffers of freed arrays are therefore kept (up to a
// bound) and serve the next arrays of a similar size. Everything here runs
// with the interpreter lock held, which serialises it.

#include <pybind11/numpy.h>

#include <vector>

namespace vemla {

namespace py = pybind11;

// A new C-contiguous array of `dtype` and `shape` with uninitialised
// elements; the caller fills every byte.
py::array new_array(const py::dtype& dtype, const std::vector<py::ssize_t>& shape);

}  // namespace vemla
