#pragma once

#include <string>

#include <boost/filesystem/path.hpp>

namespace common {

// Canonical absolute path of the running executable.
boost::filesystem::path executable_path();

// Empty stays empty; a name with a root directory is returned unchanged
// (unchecked); a relative name becomes the canonical absolute path of an
// existing file, or std::runtime_error is thrown.
std::string make_canonical_path(const std::string& file_name);

// `path` expressed relative to `base`, purely textually.
std::string relativePath(const std::string& path, const std::string& base);

}  // namespace common
