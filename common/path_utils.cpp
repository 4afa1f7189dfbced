#include "common/path_utils.h"

#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include <boost/filesystem/operations.hpp>

namespace common {

namespace {

// readlink into a growing buffer: the link text has no size limit we can
// learn beforehand. Returns the empty string when the link cannot be read.
std::string read_self_exe() {
    std::vector<char> buffer(256);
    while (true) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

boost::filesystem::path executable_path() {
    const std::string name = read_self_exe();
    if (name.empty()) {
        throw std::runtime_error("Could not determine the length of the process name");
    }
    // The link text may be cut at an embedded NUL, as a C string would be.
    const std::string path_text(name.c_str());
    if (path_text.empty()) {
        throw std::runtime_error("Could not determine the process name");
    }
    return boost::filesystem::canonical(path_text, boost::filesystem::current_path());
}

std::string make_canonical_path(const std::string& file_name) {
    if (file_name.empty()) {
        return {};
    }
    const boost::filesystem::path path(file_name);
    if (path.has_root_directory()) {
        return file_name;
    }
    boost::system::error_code error;
    const auto canonical = boost::filesystem::canonical(path, boost::filesystem::current_path(), error);
    if (error) {
        throw std::runtime_error("Error while converting relative path " + file_name + " to file: " + error.message());
    }
    return canonical.string();
}

std::string relativePath(const std::string& path, const std::string& base) {
    std::string stripped_base = base;
    while (!stripped_base.empty() && (stripped_base.back() == '/' || stripped_base.back() == '\\')) {
        stripped_base.pop_back();
    }
    const boost::filesystem::path from(stripped_base);
    const boost::filesystem::path to(path);

    auto from_it = from.begin();
    auto to_it = to.begin();
    while (from_it != from.end() && to_it != to.end() && *from_it == *to_it) {
        ++from_it;
        ++to_it;
    }
    boost::filesystem::path result;
    for (; from_it != from.end(); ++from_it) {
        result /= "..";
    }
    for (; to_it != to.end(); ++to_it) {
        result /= *to_it;
    }
    return result.string();
}

}  // namespace common
