#include "common/read_id_whitelist.h"

#include <fstream>
#include <stdexcept>

#include <boost/filesystem/operations.hpp>

#include "common/logger.h"
#include "common/string_utils.h"

namespace common {

std::unordered_set<std::string> getReadIdWhitelist(const std::string& path) {
    std::unordered_set<std::string> read_ids;
    const auto type = boost::filesystem::status(path).type();
    if (type == boost::filesystem::status_error || type == boost::filesystem::file_not_found) {
        throw std::runtime_error("Could not load readIdWhitelist file: '" + path + "'");
    }
    // A file that cannot be opened or read must not pass for an empty list.
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("Could not open readIdWhitelist file: '" + path + "'");
    }
    std::string line;
    while (std::getline(file, line)) {
        std::string read_id = trim(line);
        if (read_id.find(' ') != std::string::npos) {
            VEMLA_LOG_WARNING << "read_id is invalid as it contains a space " << read_id;
        }
        read_ids.insert(std::move(read_id));
    }
    if (file.bad()) {
        throw std::runtime_error("Could not read readIdWhitelist file: '" + path + "'");
    }
    return read_ids;
}

}  // namespace common
