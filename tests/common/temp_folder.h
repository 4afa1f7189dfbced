#pragma once

#include <stdlib.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include <boost/filesystem.hpp>

namespace vemla_test {

// A fresh folder under the system temp folder, removed with its contents.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (boost::filesystem::temp_directory_path() / "vemla_test_XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = pattern;
    }
    ~TempFolder() {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const boost::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }

    // Writes `text` byte for byte to the file `name` in the folder, replacing
    // it; returns the file's path.
    std::string write_file(const std::string& name, const std::string& text) const {
        const std::string file = (m_path / name).string();
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

private:
    boost::filesystem::path m_path;
};

}  // namespace vemla_test
