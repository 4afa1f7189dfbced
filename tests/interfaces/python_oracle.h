#pragma once

// Runs a script under Debian's Python (with NumPy) and returns its standard
// output: an independent reference for identifiers and float arithmetic.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace test_support {

inline std::string run_python(const std::string& script) {
    char folder[] = "/tmp/vemla_python_oracle_XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    const std::string path = std::string(folder) + "/oracle.py";
    std::ofstream(path) << script;
    const std::string command = "/usr/bin/python3 " + path;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot start python");
    }
    std::string output;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    std::remove(path.c_str());
    rmdir(folder);
    if (status != 0) {
        throw std::runtime_error("python failed with status " + std::to_string(status));
    }
    return output;
}

inline std::string to_hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

}  // namespace test_support
