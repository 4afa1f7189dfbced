#pragma once

#include <string>

namespace common {
namespace barcode_naming {

// The kit's name pattern applied to the index, plus "a" for index 12 when
// the kit has a twelfth-barcode variant. The pattern comes from the server
// and may hold literal text, "%%" and at most one int conversion (d, i, o,
// u, x, X) with optional flags, width, precision and h or hh modifier;
// any other pattern throws std::invalid_argument.
std::string generate_normalised_id(const std::string& name_pattern, int index, bool twelfth_barcode);

// "barcode_external" + last two characters of the outer name + "_internal"
// + last two characters of the inner name. A name shorter than two
// characters throws std::out_of_range.
std::string generate_dual_normalised_id(const std::string& outer_name, const std::string& inner_name);

}  // namespace barcode_naming
}  // namespace common
