// The C++ side of the vemlapy benchmark: streams reads through the exported
// client API to a running test server and back, exactly as
// vemlapy_bench.py does from Python, and prints the elapsed time.
//
//   bench_client_reads ENDPOINT READS SAMPLES
//
// Output: one line "seconds: <elapsed>" (from the first pass_read to the last
// read collected). Exits non-zero unless every read came back exactly once.
#include "vemla/vemla_client.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <random>
#include <string>
#include <vector>

namespace {

using bass::data_wrappers::DataView;

// The same settings the Python side gives.
bass::data_wrappers::Metadata bench_params() {
    bass::data_wrappers::Metadata params;
    params.insert("client_name", std::string("bench_client_reads"));
    params.insert("max_reads_queued", uint64_t{100});
    return params;
}

vemla::Read make_read(uint64_t index, const std::vector<int16_t>& samples) {
    vemla::Read read;
    read.set_read_tag(index);
    read.get_metadata().insert("read_id", "bench_read_" + std::to_string(index));
    read.get_metadata().insert("daq_offset", 4.0f);
    read.get_metadata().insert("daq_scaling", 0.5f);
    read.get_datasets().emplace(dataset::raw_data, DataView(std::vector<int16_t>(samples)));
    return read;
}

std::size_t collect(vemla::VemlaClient& client) {
    std::list<std::list<vemla::Read>> groups;
    client.get_completed_reads(groups);
    std::size_t count = 0;
    for (const auto& group : groups) {
        count += group.size();
    }
    return count;
}

int fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "bench_client_reads: %s %s\n", what, detail.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_client_reads ENDPOINT READS SAMPLES\n");
        return 2;
    }
    const std::string endpoint = argv[1];
    const uint64_t reads = std::strtoull(argv[2], nullptr, 10);
    const std::size_t sample_count = std::strtoull(argv[3], nullptr, 10);

    std::mt19937 generator(42);
    std::uniform_int_distribution<int> distribution(-2000, 2000);
    std::vector<int16_t> samples(sample_count);
    for (auto& sample : samples) {
        sample = static_cast<int16_t>(distribution(generator));
    }

    vemla::VemlaClient client(endpoint, "test_dna_fast");
    if (client.set_params(bench_params()) != vemla::Result::success) {
        return fail("set_params failed", "");
    }
    if (const auto result = client.connect(); result != vemla::Result::success) {
        return fail("connect failed:", vemla::to_string(result));
    }

    const auto start = std::chrono::steady_clock::now();
    std::size_t received = 0;
    for (uint64_t index = 0; index < reads; ++index) {
        // A refused read keeps its contents, so it is offered again as it is.
        vemla::Read read = make_read(index, samples);
        for (;;) {
            const auto result = client.pass_read(read, 100);
            if (result == vemla::PassReadResult::success) {
                break;
            }
            if (result != vemla::PassReadResult::queue_full) {
                return fail("pass_read failed:", vemla::to_string(result));
            }
            received += collect(client);
        }
        if (index % 16 == 15) {
            received += collect(client);
        }
    }
    const auto finished = client.finish(0);
    received += collect(client);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    client.disconnect();

    if (finished != vemla::Result::success || received != reads) {
        return fail("reads lost:", std::to_string(received) + " of " + std::to_string(reads) + " back, finish " +
                                           vemla::to_string(finished));
    }
    std::printf("seconds: %.6f\n", seconds);
    return 0;
}
