#include "options.h"

#include <charconv>
#include <system_error>

namespace example {

const char* const usage =
        "usage: vemla_example [options]\n"
        "  --server ADDRESS   a running basecall server (default: start the bundled test server)\n"
        "  --config NAME      its basecall configuration (default: test_dna_fast)\n"
        "  --align-ref PATH   alignment index on the server (the bundled server aligns to its own)\n"
        "  --reads N          reads to stream, 1 to 1000000 (default: 300)\n"
        "  --output FILE      FILE.bam: a sorted BAM file with its index FILE.bam.bai;\n"
        "                     FILE.sam: SAM text (default: vemla_example.bam)\n"
        "A server that does not answer is retried for 20 s, counted from the start of\n"
        "the connect or from the loss of a working connection; each attempt waits 8 s\n"
        "for an answer (4 polls of the 2 s reply time-out), and one still under way at\n"
        "the 20 s mark runs to its end. So the run ends about 24 s after connecting to\n"
        "a silent server, and about 33 s after a server falls silent mid-run (8 s to\n"
        "notice, then 24 s of attempts).\n";

namespace {

constexpr uint32_t MAX_READS = 1000000;

uint32_t parse_read_count(const std::string& value) {
    uint64_t count = 0;
    const char* const end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, count);
    if (error != std::errc() || stop != end || count < 1 || count > MAX_READS) {
        throw UsageError("--reads: '" + value + "' is not a whole number from 1 to " + std::to_string(MAX_READS));
    }
    return static_cast<uint32_t>(count);
}

}  // namespace

Options parse_options(int argc, const char* const* argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.help = true;
            return options;
        }
        std::string* text = nullptr;
        if (option == "--server") {
            text = &options.server;
        } else if (option == "--config") {
            text = &options.config;
        } else if (option == "--align-ref") {
            text = &options.align_ref;
        } else if (option == "--output") {
            text = &options.output;
        } else if (option != "--reads") {
            throw UsageError("unknown option '" + option + "'");
        }
        if (i + 1 >= argc) {
            throw UsageError(option + " needs a value");
        }
        const std::string value = argv[++i];
        if (value.empty()) {
            throw UsageError(option + ": the value is empty");
        }
        if (text) {
            *text = value;
        } else {
            options.reads = parse_read_count(value);
        }
    }
    if (!output_format_of(options.output, options.format)) {
        throw UsageError("--output: '" + options.output + "' ends neither in .bam nor in .sam");
    }
    return options;
}

}  // namespace example
