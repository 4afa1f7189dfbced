#pragma once

#include <string>
#include <vector>

namespace common {

// Reads a k-mer model table (a TextFile with the columns "level_mean",
// "level_stdv", "sd_mean" and "sd_stdv", among any others, in any order; an
// empty cell reads as 0) and returns its k-mer length, 3 to 7, from its
// 4^k rows. sd_stdv comes back as sd_mean^3 / sd_stdv^2 of the file's
// values. Throws std::runtime_error for a file TextFile rejects and a
// missing column (naming it), both before any output changes, and for any
// other row count ("Invalid model length."), with the columns already
// loaded into the outputs.
int load_model(const std::string& file_name,
               std::vector<float>& level_mean,
               std::vector<float>& level_stdv,
               std::vector<float>& sd_mean,
               std::vector<float>& sd_stdv);

}  // namespace common
