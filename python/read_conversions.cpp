#include "python/read_conversions.h"

#include "python/data_conversions.h"

#include <pybind11/numpy.h>

#include <bitset>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace vemla {

using bass::data_wrappers::DataView;

namespace {

enum MandatoryField { READ_TAG, RAW_DATA, READ_ID, DAQ_OFFSET, DAQ_SCALING, MANDATORY_FIELDS };

constexpr int64_t READ_TAG_LIMIT = int64_t{1} << 32;

bool is_float(py::handle value) {
    return PyFloat_Check(value.ptr()) != 0;
}

float float_value(py::handle value) {
    return static_cast<float>(PyFloat_AsDouble(value.ptr()));
}

// The samples of a one-dimensional native int16 array, whatever its strides:
// one block copy when contiguous, else element by element along the stride.
bool copy_raw_data(py::handle value, Read& read) {
    if (!py::array_t<int16_t, 0>::check_(value)) {
        return false;
    }
    const auto array = py::reinterpret_borrow<py::array>(value);
    if (array.ndim() != 1) {
        return false;
    }
    const auto count = static_cast<std::size_t>(array.shape(0));
    const py::ssize_t stride = array.strides(0);
    const auto* source = static_cast<const char*>(array.data());
    std::vector<int16_t> samples(count);
    if (stride == static_cast<py::ssize_t>(sizeof(int16_t)) || count <= 1) {
        if (count != 0) {
            std::memcpy(samples.data(), source, count * sizeof(int16_t));
        }
    } else {
        // memcpy per element: a strided view need not be 2-byte aligned.
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(&samples[i], source + static_cast<py::ssize_t>(i) * stride, sizeof(int16_t));
        }
    }
    read.get_datasets().emplace(dataset::raw_data, DataView(std::move(samples)));
    return true;
}

// A read id must be non-empty text that is valid UTF-8: a completed read's
// id comes back to Python as str, so an id that cannot be decoded would
// make every read of that batch impossible to hand back.
bool utf8_read_id(py::handle value, std::string& id) {
    Py_ssize_t size = 0;
    if (PyUnicode_Check(value.ptr())) {
        const char* text = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
        if (text == nullptr) {  // lone surrogates have no UTF-8 form
            PyErr_Clear();
            return false;
        }
        id.assign(text, static_cast<std::size_t>(size));
    } else if (PyBytes_Check(value.ptr())) {
        char* bytes = nullptr;
        PyBytes_AsStringAndSize(value.ptr(), &bytes, &size);
        PyObject* decoded = PyUnicode_DecodeUTF8(bytes, size, "strict");
        if (decoded == nullptr) {
            PyErr_Clear();
            return false;
        }
        Py_DECREF(decoded);
        id.assign(bytes, static_cast<std::size_t>(size));
    } else {
        return false;
    }
    return !id.empty();
}

// Stores one item; false when its value is rejected.
bool convert_item(const std::string& key, py::handle value, Read& read, std::bitset<MANDATORY_FIELDS>& seen) {
    auto& metadata = read.get_metadata();
    if (key == "read_tag") {
        if (!PyLong_Check(value.ptr())) {
            return false;
        }
        const auto tag = value.cast<int64_t>();
        if (tag < 0 || tag >= READ_TAG_LIMIT) {
            return false;
        }
        read.set_read_tag(static_cast<uint64_t>(tag));
        seen.set(READ_TAG);
    } else if (key == "raw_data") {
        if (!copy_raw_data(value, read)) {
            return false;
        }
        seen.set(RAW_DATA);
    } else if (key == "read_id") {
        std::string id;
        if (!utf8_read_id(value, id)) {
            return false;
        }
        metadata.insert("read_id", id);
        seen.set(READ_ID);
    } else if (key == "daq_offset" || key == "daq_scaling") {
        if (!is_float(value)) {
            return false;
        }
        metadata.insert(key, float_value(value));
        seen.set(key == "daq_offset" ? DAQ_OFFSET : DAQ_SCALING);
    } else if (key == "override_scaling") {
        if (!PyBool_Check(value.ptr())) {
            return false;
        }
        metadata.insert("scaling_override", value.ptr() == Py_True);
    } else if (key == "scaling_med" || key == "scaling_mad") {
        if (!is_float(value)) {
            return false;
        }
        metadata.insert(key == "scaling_med" ? "scaling_override_median" : "scaling_override_med_abs_dev",
                        float_value(value));
    }
    return true;
}

}  // namespace

bool dict_to_readholder(const py::dict& dict, Read& read) {
    // Fields are ticked off rather than counted: a str and a bytes key of
    // the same name are two items but one field.
    std::bitset<MANDATORY_FIELDS> seen;
    for (const auto item : dict) {
        if (!convert_item(item.first.cast<std::string>(), item.second, read, seen)) {
            return false;
        }
    }
    return seen.all();
}

py::dict readholder_to_dict(const Read& read) {
    py::dict dict;
    dict["read_tag"] = read.get_read_tag();
    dict["sub_tag"] = read.get_sub_tag();
    dict["priority"] = read.get_priority();
    dict["metadata"] = config_details_to_dict(read.get_metadata());
    dict["datasets"] = datasets_to_dict(read.get_datasets());
    return dict;
}

}  // namespace vemla
