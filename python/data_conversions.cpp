#include "python/data_conversions.h"

#include "python/align_results.h"
#include "python/array_storage.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vemla {

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataView;
using bass::data_wrappers::Metadata;

namespace {

template <typename T>
py::object metadata_value(const Metadata& metadata, const std::string& key) {
    return py::cast(metadata.get_value<T>(key));
}

template <typename T>
void check_element_type(const DataView& view) {
    if (view.info.type != bass::data_wrappers::data_type_of<T>::value) {
        throw std::runtime_error("Invalid array type requested.");
    }
}

template <>
void check_element_type<AlignResults>(const DataView& view) {
    if (view.info.type != DataSetType::table) {
        throw std::runtime_error("Invalid array type requested.");
    }
}

// One block copy of the dataset into a new array of T: a matrix keeps its
// two dimensions, anything else becomes one entry per element (table row).
template <typename T>
py::array copy_into_array(const DataView& view) {
    check_element_type<T>(view);
    const DataSetType type = view.info.type;
    if (view.info.element_size != sizeof(T)) {
        throw std::runtime_error("Python data type size (" + std::to_string(sizeof(T)) + ") for DataType " +
                                 std::to_string(static_cast<int32_t>(type)) + " does not match input data size (" +
                                 std::to_string(view.info.element_size) + ")");
    }
    const bool matrix = view.info.size1 != 0;
    const bool fills_shape = view.info.size2 == 0 ? view.info.count == 0
                                                  : view.info.count % view.info.size2 == 0 &&
                                                            view.info.count / view.info.size2 == view.info.size1;
    if (matrix && !fills_shape) {
        // The copy is sized by the element count, the array by the
        // dimensions: they must agree or the copy would overrun the array.
        throw std::runtime_error("Dataset of " + std::to_string(view.info.count) + " elements does not fill its " +
                                 std::to_string(view.info.size1) + " x " + std::to_string(view.info.size2) + " shape");
    }
    if (view.info.count != 0 && view.data == nullptr) {
        throw std::runtime_error("Dataset of " + std::to_string(view.info.count) + " elements holds no data");
    }
    std::vector<py::ssize_t> shape;
    if (matrix) {
        shape = {static_cast<py::ssize_t>(view.info.size1), static_cast<py::ssize_t>(view.info.size2)};
    } else {
        shape = {static_cast<py::ssize_t>(view.info.count)};
    }
    py::array array = new_array(py::dtype::of<T>(), shape);
    if (view.info.count != 0) {
        std::memcpy(array.mutable_data(), view.data, view.info.count * sizeof(T));
    }
    return array;
}

bool is_alignment_table(const DataView& view) {
    return !view.info.fields.empty() && view.info.fields.front().name == "Genome";
}

// Decoded straight from the dataset's bytes: a read's sequence and
// qualities are copied once, into the Python string.
py::str dataset_text(const DataView& view) {
    if (view.string != nullptr) {
        return py::str(*view.string);
    }
    if (view.data == nullptr || view.info.element_size == 0) {
        return py::str();
    }
    return py::str(static_cast<const char*>(view.data), view.info.element_size - 1);
}

}  // namespace

void metadata_value_to_python(py::dict& dict, const Metadata& metadata, const std::string& key, std::type_index type) {
    py::object value;
    if (type == typeid(bool)) {
        value = metadata_value<bool>(metadata, key);
    } else if (type == typeid(int8_t)) {
        value = metadata_value<int8_t>(metadata, key);
    } else if (type == typeid(uint8_t)) {
        value = metadata_value<uint8_t>(metadata, key);
    } else if (type == typeid(int16_t)) {
        value = metadata_value<int16_t>(metadata, key);
    } else if (type == typeid(uint16_t)) {
        value = metadata_value<uint16_t>(metadata, key);
    } else if (type == typeid(int32_t)) {
        value = metadata_value<int32_t>(metadata, key);
    } else if (type == typeid(uint32_t)) {
        value = metadata_value<uint32_t>(metadata, key);
    } else if (type == typeid(int64_t)) {
        value = metadata_value<int64_t>(metadata, key);
    } else if (type == typeid(uint64_t)) {
        value = metadata_value<uint64_t>(metadata, key);
    } else if (type == typeid(float)) {
        value = py::float_(static_cast<double>(metadata.get_value<float>(key)));
    } else if (type == typeid(double)) {
        value = metadata_value<double>(metadata, key);
    } else if (type == typeid(std::string)) {
        value = metadata_value<std::string>(metadata, key);
    } else {
        return;
    }
    dict[py::str(key)] = std::move(value);
}

py::dict config_details_to_dict(const Metadata& metadata) {
    py::dict dict;
    for (const auto& entry : metadata.get_keys()) {
        metadata_value_to_python(dict, metadata, entry.first, entry.second);
    }
    return dict;
}

const char* dataset_name(dataset id) {
    switch (id) {
        case dataset::raw_data: return "raw_data";
        case dataset::sequence: return "sequence";
        case dataset::qstring: return "qstring";
        case dataset::movement: return "movement";
        case dataset::flipflop_trace: return "flipflop_trace";
        case dataset::state_data: return "state_data";
        case dataset::rle_base: return "rle_base";
        case dataset::rle_shape: return "rle_shape";
        case dataset::rle_scale: return "rle_scale";
        case dataset::rle_weight: return "rle_weight";
        case dataset::rle_index: return "rle_index";
        case dataset::rle_runlength: return "rle_runlength";
        case dataset::base_mod_probs: return "base_mod_probs";
        case dataset::align_results: return "align_results";
    }
    return nullptr;
}

py::dict datasets_to_dict(const interfaces::DatasetMap& datasets) {
    py::dict dict;
    for (const auto& entry : datasets) {
        const char* name = dataset_name(entry.first);
        if (name == nullptr) {
            continue;
        }
        if (entry.second.info.type == DataSetType::string) {
            dict[name] = dataset_text(entry.second);
        } else {
            dict[name] = dataview_to_array(entry.second);
        }
    }
    return dict;
}

py::array dataview_to_array(const DataView& view) {
    switch (view.info.type) {
        case DataSetType::int8: return copy_into_array<int8_t>(view);
        case DataSetType::int16: return copy_into_array<int16_t>(view);
        case DataSetType::int32: return copy_into_array<int32_t>(view);
        case DataSetType::int64: return copy_into_array<int64_t>(view);
        case DataSetType::uint8: return copy_into_array<uint8_t>(view);
        case DataSetType::uint16: return copy_into_array<uint16_t>(view);
        case DataSetType::uint32: return copy_into_array<uint32_t>(view);
        case DataSetType::uint64: return copy_into_array<uint64_t>(view);
        case DataSetType::float32: return copy_into_array<float>(view);
        case DataSetType::float64: return copy_into_array<double>(view);
        case DataSetType::table:
            if (is_alignment_table(view)) {
                return copy_into_array<AlignResults>(view);
            }
            break;
        case DataSetType::fixed_string:
        case DataSetType::string:
        case DataSetType::none: break;
    }
    return py::array_t<double>(0);
}

}  // namespace vemla
