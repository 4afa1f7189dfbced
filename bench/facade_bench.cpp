// What the public API adds over the engine: the same reads streamed to the
// test server (every read called at once, no call delay) and collected back,
//
//   engine  basecall_service::BasecallClient driven directly, with reads
//           already carrying everything the engine needs
//   facade  vemla::VemlaClient, which checks and completes each read, and
//           groups the finished reads by tag into vemla::Read objects
//
// over tcp loopback and ipc. Each measurement is a whole block of reads on a
// fresh connection (connect time excluded), engine and facade blocks taking
// turns in pairs; the median samples/s of each is printed, and the ratio is
// the median of the pairs' ratios, with their range on the last line. The
// facade should keep at least 0.95 of the engine's throughput.
#include "basecall_service/basecall_client.h"
#include "bass/data_wrappers/data_view.h"
#include "common/logger.h"
#include "ipc_tools/connection_info.h"
#include "test_server/test_server.h"
#include "vemla/vemla_client.h"
#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::smoke;
using bench::Spread;

const char* const CONFIG = "test_dna_fast";
constexpr uint64_t MODEL_STRIDE = 5;  // of CONFIG on the test server
constexpr uint64_t MAX_READS_QUEUED = 100;
constexpr double FLOOR = 0.95;

struct Size {
    size_t samples;
    size_t reads;  // per block
};

std::vector<Size> sizes() {
    if (smoke) {
        return {{100000, 40}};
    }
    return {{4000, 4000}, {100000, 400}, {1000000, 40}};
}

int blocks_per_path() {
    return smoke ? 2 : 8;
}

std::vector<int16_t> make_signal(size_t samples, uint64_t seed) {
    std::vector<int16_t> signal(samples);
    uint64_t x = seed * 2654435761u + 1;
    for (auto& sample : signal) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        sample = static_cast<int16_t>(300 + (x >> 33) % 400);
    }
    return signal;
}

void fill_read(interfaces::ReadHolder& read, uint64_t tag, size_t samples) {
    read.m_read_tag = tag;
    read.m_metadata.insert("read_id", "bench_" + std::to_string(tag));
    read.m_metadata.insert("daq_offset", 4.0f);
    read.m_metadata.insert("daq_scaling", 0.5f);
    read.m_datasets.emplace(dataset::raw_data, bass::data_wrappers::DataView(make_signal(samples, tag)));
}

// The engine driven as the facade drives it, with each read completed
// beforehand (outside the timing) as the facade completes it.
class EnginePath {
public:
    static const char* name() { return "engine"; }

    EnginePath(const std::string& address, const Size& size) : m_engine(50000, MAX_READS_QUEUED, true, false, nullptr) {
        for (size_t i = 0; i < size.reads; ++i) {
            m_reads.emplace_back();
            auto& read = m_reads.back();
            fill_read(read, i + 1, size.samples);
            read.m_metadata.insert("strand_id", read.m_metadata.get_value<std::string>("read_id"));
            read.m_metadata.insert("duration", uint64_t(size.samples));
            read.m_metadata.insert("model_stride", MODEL_STRIDE);
        }
        ipc_tools::ConnectionInfo info;
        info.config = CONFIG;
        info.client_name = "bench_engine";
        info.align_type = "auto";
        info.priority = 1;
        info.timeout_interval = 15000;
        info.params.insert("barcode_kits", std::string());
        info.params.insert("detect_barcodes", false);
        m_engine.connect(address, 2000, 180, info);
        if (m_engine.get_connection_state().get_status() != basecall_service::ClientStatus::connected) {
            throw std::runtime_error("engine did not connect");
        }
    }
    ~EnginePath() { m_engine.disconnect(); }

    size_t count() const { return m_reads.size(); }
    // False while the queue is full; any other refusal ends the benchmark.
    bool pass(size_t i, uint32_t wait_ms) {
        const auto result = m_engine.pass_read(m_reads[i], wait_ms);
        if (result == basecall_service::PassReadResult::not_accepting_reads) {
            throw std::runtime_error("engine refused a read");
        }
        return result == basecall_service::PassReadResult::success;
    }
    size_t collect() {
        std::list<std::unique_ptr<interfaces::ReadHolder>> done;
        m_engine.get_completed_reads(done, 1);
        return done.size();
    }

private:
    basecall_service::BasecallClient m_engine;
    std::vector<interfaces::ReadHolder> m_reads;
};

class FacadePath {
public:
    static const char* name() { return "facade"; }

    FacadePath(const std::string& address, const Size& size) : m_client(address, CONFIG) {
        for (size_t i = 0; i < size.reads; ++i) {
            m_reads.emplace_back();
            fill_read(m_reads.back().get_readholder(), i + 1, size.samples);
        }
        bass::data_wrappers::Metadata params;
        params.insert("client_name", std::string("bench_facade"));
        params.insert("max_reads_queued", MAX_READS_QUEUED);
        m_client.set_params(params);
        if (m_client.connect() != vemla::Result::success) {
            throw std::runtime_error("facade did not connect: " + m_client.get_error_message());
        }
    }
    ~FacadePath() { m_client.disconnect(); }

    size_t count() const { return m_reads.size(); }
    bool pass(size_t i, uint32_t wait_ms) {
        const auto result = m_client.pass_read(m_reads[i], wait_ms);
        if (result != vemla::PassReadResult::success && result != vemla::PassReadResult::queue_full) {
            throw std::runtime_error("facade refused a read: " + vemla::to_string(result));
        }
        return result == vemla::PassReadResult::success;
    }
    size_t collect() {
        std::list<std::list<vemla::Read>> groups;
        m_client.get_completed_reads(groups);
        size_t reads = 0;
        for (const auto& group : groups) {
            reads += group.size();
        }
        return reads;
    }

private:
    vemla::VemlaClient m_client;
    std::vector<vemla::Read> m_reads;
};

// One block: every read in (collecting while the queue is full), then every
// read back; samples per second from the first pass to the last read back.
template <typename Path>
double run_block(const std::string& address, const Size& size) {
    Path path(address, size);
    size_t back = 0;
    const auto start = Clock::now();
    for (size_t i = 0; i < path.count(); ++i) {
        while (!path.pass(i, 5)) {
            back += path.collect();
        }
    }
    const auto deadline = Clock::now() + std::chrono::minutes(2);
    while (back < path.count()) {
        if (Clock::now() > deadline) {
            throw std::runtime_error(std::string(Path::name()) + ": reads did not come back");
        }
        const size_t got = path.collect();
        back += got;
        if (got == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(size.samples * size.reads) / seconds;
}

// Samples/s of every block of engine and facade. The blocks come in pairs,
// in alternating order (engine first, then facade first), because the
// second block of a pair runs slower while the first one's connection winds
// down.
struct Blocks {
    std::vector<double> engine;
    std::vector<double> facade;
};

Blocks measure(const std::string& address, const Size& size) {
    Blocks blocks;
    run_block<EnginePath>(address, size);  // warm-up of both the server and the client
    for (int b = 0; b < blocks_per_path(); ++b) {
        if (b % 2 == 0) {
            blocks.engine.push_back(run_block<EnginePath>(address, size));
            blocks.facade.push_back(run_block<FacadePath>(address, size));
        } else {
            blocks.facade.push_back(run_block<FacadePath>(address, size));
            blocks.engine.push_back(run_block<EnginePath>(address, size));
        }
    }
    return blocks;
}

}  // namespace

int main() {
    try {
        // As a VemlaClient would (the engine alone installs no log sinks).
        common::logging::LoggerOptionsUtils::SetDefaultLogOptions();
        char folder[] = "/tmp/vemla_facade_bench_XXXXXX";
        if (!mkdtemp(folder)) {
            throw std::runtime_error("cannot create a folder for the ipc socket");
        }
        const std::string ipc_path = std::string(folder) + "/server";
        std::vector<std::pair<std::string, std::string>> transports;
        test_server::TestServer tcp_server, ipc_server;
        transports.emplace_back("tcp", tcp_server.start("tcp://127.0.0.1:*"));
        transports.emplace_back("ipc", ipc_server.start("ipc://" + ipc_path));

        std::printf("%-4s %9s %6s %16s %16s %14s\n", "", "samples", "reads", "engine Msa/s", "facade Msa/s",
                    "facade/engine");
        std::vector<Spread> ratios_at_100k;
        for (const auto& size : sizes()) {
            for (const auto& [transport, address] : transports) {
                const Blocks blocks = measure(address, size);
                const Spread ratio = bench::spread_of(bench::pair_ratios(blocks.facade, blocks.engine));
                std::printf("%-4s %9zu %6zu %16.1f %16.1f %14.3f\n", transport.c_str(), size.samples, size.reads,
                            median(blocks.engine) / 1e6, median(blocks.facade) / 1e6, ratio.median);
                std::fflush(stdout);
                if (size.samples == 100000) {
                    ratios_at_100k.push_back(ratio);
                }
            }
        }
        ipc_server.stop();
        unlink(ipc_path.c_str());
        rmdir(folder);
        std::printf("floor: facade/engine >= %.2f\n", FLOOR);
        std::printf("facade/engine at 100000 samples: tcp %.3f ipc %.3f%s\n", ratios_at_100k.at(0).median,
                    ratios_at_100k.at(1).median,
                    bench::pair_ratio_note(blocks_per_path(), ratios_at_100k.at(0), ratios_at_100k.at(1)).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_facade: %s\n", error.what());
        return 1;
    }
}
