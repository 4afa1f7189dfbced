#pragma once

#include "read_output.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace example {

// The example's command line.
struct Options {
    std::string server;  // empty: start the bundled test server
    std::string config = "test_dna_fast";
    std::string align_ref;
    uint32_t reads = 300;
    std::string output = "vemla_example.bam";
    OutputFormat format = OutputFormat::bam;
    bool help = false;
};

// A command line the example cannot run with; its text names the option
// and the value at fault.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

extern const char* const usage;

// Every value is taken whole or refused with a UsageError.
Options parse_options(int argc, const char* const* argv);

}  // namespace example
