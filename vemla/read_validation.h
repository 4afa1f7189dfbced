#pragma once

#include "interfaces/read_holder.h"

#include <string>

namespace vemla {

// Whether a read holds what the client needs to send it: a one-dimensional
// int16 "raw_data" dataset, a string "read_id" and float "daq_offset" and
// "daq_scaling" metadata. If not, `error` is replaced by a text naming every
// fault, in that order; otherwise it is left untouched.
bool validate_read_impl(const interfaces::ReadHolder& read, std::string& error);

}  // namespace vemla
