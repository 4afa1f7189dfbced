#pragma once

// Reads between Python dictionaries and vemla::Read. All of it runs with the
// interpreter lock held; data is copied both ways.

#include "vemla/read.h"

#include <pybind11/pybind11.h>

namespace vemla {

namespace py = pybind11;

// Fills the new, empty `read` from the caller's read dictionary. True when
// all five mandatory fields ("read_tag", "raw_data", "read_id", "daq_offset",
// "daq_scaling") were present and valid; false at the first bad value (the
// half-filled read is then to be discarded). Unknown keys are ignored. A key
// that is not text, or a read tag beyond 64 bits, raises.
bool dict_to_readholder(const py::dict& dict, Read& read);

// A completed read as {"read_tag", "sub_tag", "priority", "metadata",
// "datasets"}, in that order.
py::dict readholder_to_dict(const Read& read);

}  // namespace vemla
