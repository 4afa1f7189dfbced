#pragma once

// Library data towards Python: metadata as dictionaries, datasets as NumPy
// arrays (or str for texts). Every value is copied; nothing returned refers
// to library memory. All of it runs with the interpreter lock held.

#include "bass/data_wrappers/data_view.h"
#include "bass/data_wrappers/metadata.h"
#include "interfaces/read_holder.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <typeindex>

namespace vemla {

namespace py = pybind11;

// Every entry of `metadata`, in key order, under its own key.
py::dict config_details_to_dict(const bass::data_wrappers::Metadata& metadata);

// Stores the value under `key`, read as `type`, in `dict`; a type that has
// no Python counterpart is left out.
void metadata_value_to_python(py::dict& dict,
                              const bass::data_wrappers::Metadata& metadata,
                              const std::string& key,
                              std::type_index type);

// Every named dataset, in id order, under its name; ids without a name are
// left out.
py::dict datasets_to_dict(const interfaces::DatasetMap& datasets);

// The dataset's name as Python sees it, or null for an id without one.
const char* dataset_name(dataset id);

// A new array holding a copy of the dataset's elements; an empty float64
// array for texts, empty datasets and tables that are not alignment results.
py::array dataview_to_array(const bass::data_wrappers::DataView& view);

}  // namespace vemla
