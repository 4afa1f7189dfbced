#pragma once

#include <string>
#include <unordered_set>

namespace common {

// The read ids of a text file, one per line, trimmed of surrounding white
// space. An id with an inner space is kept but logged as a warning; a blank
// line gives the empty id. A path that does not exist, or a file that cannot
// be opened or read, throws std::runtime_error.
std::unordered_set<std::string> getReadIdWhitelist(const std::string& path);

}  // namespace common
