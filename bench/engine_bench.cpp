// Reads through the whole engine (BasecallClient) against the bundled test
// server, next to the protocol's floor: a bare loop on a raw ZeroMQ REQ
// socket making the same exchanges with the same server (every raw block
// pushed, every called block pulled, nothing decoded). Over tcp loopback and
// ipc, for reads of 4 k to 4 M samples; the server returns every read at once.
//
// Each path runs in long blocks of reads, the blocks of the two paths taking
// turns in pairs whose order alternates (engine first, then floor first), so
// that both see the same thread placement and neither always runs second.
// The median block of each is reported; the ratio is the median of the
// pairs' ratios, with their range on the last line. Before that, a child
// process streams 10 000 reads of 100 k samples with at most 100 queued and
// reports its peak resident memory.
#include "basecall_service/basecall_client.h"
#include "ipc_tools/ipc_tools.h"
#include "test_server/test_server.h"
#include "bench_support.h"

#include <zmq.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <list>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::adopt;
using bench::Clock;
using bench::median;
using bench::peak_resident_kib;
using bench::smoke;
using bench::Spread;
using basecall_service::BasecallClient;
using interfaces::ReadHolder;

constexpr uint64_t MODEL_STRIDE = 5;  // test_dna_fast
constexpr uint64_t BLOCK_STRIDES = 50000;
constexpr uint64_t RATIO_SAMPLES = 100000;
constexpr uint32_t REPLY_TIMEOUT_MS = 20000;

struct Setting {
    std::vector<uint64_t> read_samples;
    uint64_t samples_per_block_of_reads;  // how long one block of reads runs
    int blocks_per_path;
    uint64_t memory_reads;
};

Setting setting() {
    if (smoke) {
        return {{4000, RATIO_SAMPLES}, 2000000, 1, 300};
    }
    return {{4000, 40000, RATIO_SAMPLES, 400000, 4000000}, 60000000, 5, 10000};
}

std::vector<int16_t> signal_of(uint64_t samples) {
    std::vector<int16_t> signal(samples);
    for (uint64_t i = 0; i < samples; ++i) {
        signal[i] = static_cast<int16_t>(static_cast<int64_t>((i * 7919) % 4001) - 2000);
    }
    return signal;
}

ReadHolder make_read(uint64_t tag, const std::vector<int16_t>& signal) {
    ReadHolder read;
    read.m_read_tag = tag;
    read.m_metadata.insert("read_id", "bench-read-" + std::to_string(tag));
    read.m_metadata.insert("strand_id", "bench-strand-" + std::to_string(tag));
    read.m_metadata.insert("duration", uint64_t(signal.size()));
    read.m_metadata.insert("daq_offset", 4.0f);
    read.m_metadata.insert("daq_scaling", 0.5f);
    read.m_metadata.insert("model_stride", MODEL_STRIDE);
    read.m_datasets.emplace(dataset::raw_data, bass::data_wrappers::DataView(std::vector<int16_t>(signal)));
    return read;
}

ipc_tools::ConnectionInfo connection_info() {
    ipc_tools::ConnectionInfo info;
    info.config = "test_dna_fast";
    info.client_name = "bench";
    return info;
}

// ---------------------------------------------------------------------------
// The engine: a producer thread hands reads over, this thread collects them.

class EnginePath {
public:
    EnginePath(const std::string& endpoint, uint64_t max_queued)
        : m_engine(BLOCK_STRIDES, max_queued, false, false, nullptr) {
        m_engine.connect(endpoint, REPLY_TIMEOUT_MS, 30, connection_info());
        if (m_engine.get_connection_state().get_status() != basecall_service::ClientStatus::connected) {
            throw std::runtime_error("engine could not connect: " +
                                     to_string(m_engine.get_connection_state().get_error_state()));
        }
    }
    ~EnginePath() { m_engine.finish_by(60); }

    // Streams `count` reads; `on_progress` sees the number back so far.
    void stream(const std::vector<int16_t>& signal,
                uint64_t count,
                const std::function<void(uint64_t)>& on_progress = {}) {
        std::thread producer([&] {
            for (uint64_t i = 0; i < count; ++i) {
                ReadHolder read = make_read(m_next_tag++, signal);
                while (m_engine.pass_read(read, 1000) == basecall_service::PassReadResult::queue_full) {
                }
            }
        });
        uint64_t back = 0;
        std::list<std::unique_ptr<ReadHolder>> reads;
        while (back < count) {
            m_engine.get_completed_reads(reads, 0);
            if (reads.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            back += reads.size();
            reads.clear();
            if (on_progress) {
                on_progress(back);
            }
            if (m_engine.get_connection_state().get_status() == basecall_service::ClientStatus::error) {
                producer.detach();
                throw std::runtime_error("engine failed: " +
                                         to_string(m_engine.get_connection_state().get_error_state()));
            }
        }
        producer.join();
    }

private:
    BasecallClient m_engine;
    uint64_t m_next_tag = 1;
};

// ---------------------------------------------------------------------------
// The floor: the same exchanges on a raw REQ socket, nothing decoded.

class FloorPath {
public:
    FloorPath(zmq::context_t& context, const std::string& endpoint) : m_socket(context, zmq::socket_type::req) {
        m_socket.set(zmq::sockopt::linger, 0);
        m_socket.connect(endpoint);
        if (exchange(simple(vemla_ipc::SimpleRequestType_LOAD_CONFIG, "", 0, "test_dna_fast")) !=
            vemla_ipc::Content_SimpleReplyData) {
            throw std::runtime_error("floor could not load the config");
        }
        ipc_tools::ConnectionInfo info = connection_info();
        exchange(simple(vemla_ipc::SimpleRequestType_CONNECT, "", 0, info.build_connection_string()));
        const auto* reply = root()->content_as_SimpleReplyData();
        if (!reply || reply->type() != vemla_ipc::SimpleReplyType_CONNECTED || !reply->text()) {
            throw std::runtime_error("floor could not register");
        }
        m_client_id = reply->text()->str();
    }

    void stream(const std::vector<int16_t>& signal, uint64_t count) {
        for (uint64_t i = 0; i < count; ++i) {
            push(signal, m_next_tag);
            pull();
            ++m_next_tag;
        }
    }

private:
    flatbuffers::FlatBufferBuilder simple(vemla_ipc::SimpleRequestType type,
                                          const std::string& client_id,
                                          uint32_t value,
                                          const std::string& text) {
        flatbuffers::FlatBufferBuilder fbb(256);
        const auto text_offset = text.empty() ? flatbuffers::Offset<flatbuffers::String>() : fbb.CreateString(text);
        const auto content = vemla_ipc::CreateSimpleRequestData(fbb, type, value, text_offset);
        finish(fbb, client_id, vemla_ipc::Content_SimpleRequestData, content.Union());
        return fbb;
    }

    void finish(flatbuffers::FlatBufferBuilder& fbb,
                const std::string& client_id,
                vemla_ipc::Content type,
                flatbuffers::Offset<void> content) {
        const auto id = client_id.empty() ? flatbuffers::Offset<flatbuffers::String>() : fbb.CreateString(client_id);
        const auto message = vemla_ipc::CreateMessageData(fbb, &ipc_tools::current_version(), id, type, content);
        vemla_ipc::FinishMessageDataBuffer(fbb, message);
    }

    // Sends, waits for the reply frame and returns its content type.
    vemla_ipc::Content exchange(flatbuffers::FlatBufferBuilder fbb) {
        zmq::message_t request = adopt(fbb);
        m_socket.send(request, zmq::send_flags::none);
        if (!m_socket.recv(m_reply, zmq::recv_flags::none)) {
            throw std::runtime_error("floor: no reply");
        }
        return root()->content_type();
    }

    const vemla_ipc::MessageData* root() const { return vemla_ipc::GetMessageData(m_reply.data()); }

    void push(const std::vector<int16_t>& signal, uint64_t tag) {
        const uint64_t block_samples = BLOCK_STRIDES * MODEL_STRIDE;
        const uint64_t blocks = (signal.size() + block_samples - 1) / block_samples;
        const std::string read_id = "bench-read-" + std::to_string(tag);
        const std::string strand_id = "bench-strand-" + std::to_string(tag);
        for (uint64_t k = 0; k < blocks; ++k) {
            const uint64_t offset = k * block_samples;
            const uint64_t n = std::min(block_samples, signal.size() - offset);
            flatbuffers::FlatBufferBuilder fbb(2 * n + 236 + read_id.size() + strand_id.size() + m_client_id.size());
            const auto raw = fbb.CreateVector(signal.data() + offset, n);
            const auto read_id_text = fbb.CreateString(read_id);
            const auto strand_id_text = fbb.CreateString(strand_id);
            vemla_ipc::ReadBlockDataBuilder block(fbb);
            block.add_type(k == 0 ? vemla_ipc::ReadBlockType_PASS_FIRST_RAW_BLOCK
                                  : vemla_ipc::ReadBlockType_PASS_NEXT_RAW_BLOCK);
            block.add_read_tag(static_cast<uint32_t>(tag));
            block.add_block_index(static_cast<uint32_t>(k));
            block.add_num_blocks(static_cast<uint32_t>(blocks));
            block.add_duration(static_cast<uint32_t>(signal.size()));
            block.add_daq_offset(4.0f);
            block.add_daq_scaling(0.5f);
            block.add_read_id(read_id_text);
            block.add_raw_data(raw);
            block.add_strand_id(strand_id_text);
            const auto content = block.Finish();
            finish(fbb, m_client_id, vemla_ipc::Content_ReadBlockData, content.Union());
            exchange(std::move(fbb));
            const auto* reply = root()->content_as_SimpleReplyData();
            if (!reply || reply->type() != vemla_ipc::SimpleReplyType_RAW_BLOCK_ACCEPTED) {
                throw std::runtime_error("floor: raw block refused");
            }
        }
    }

    void pull() {
        exchange(simple(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, m_client_id, 0, ""));
        const auto* first = root()->content_as_ReadBlockData();
        if (!first) {
            throw std::runtime_error("floor: no called block");
        }
        const uint32_t blocks = first->num_blocks();
        const uint32_t tag = first->read_tag();
        const std::string strand_id = first->strand_id() ? first->strand_id()->str() : std::string();
        for (uint32_t k = 1; k < blocks; ++k) {
            exchange(simple(vemla_ipc::SimpleRequestType_GET_NEXT_CALLED_BLOCK, m_client_id, tag, strand_id));
            if (!root()->content_as_ReadBlockData()) {
                throw std::runtime_error("floor: no next called block");
            }
        }
    }

    zmq::socket_t m_socket;
    zmq::message_t m_reply;
    std::string m_client_id;
    uint64_t m_next_tag = 1;
};

// ---------------------------------------------------------------------------

template <typename Run>
double samples_per_second(uint64_t samples, uint64_t reads, Run run) {
    const auto start = Clock::now();
    run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(samples * reads) / seconds;
}

std::string address_for(const std::string& transport, const std::string& role) {
    return transport == "tcp" ? std::string("tcp://127.0.0.1:*")
                              : "ipc:///tmp/vemla_engine_bench_" + std::to_string(::getpid()) + "_" + role + ".ipc";
}

// Samples/s of the engine and of the floor for each read size; the ratio at
// RATIO_SAMPLES is returned.
Spread run_transport(const Setting& s, const std::string& transport) {
    test_server::TestServer server;
    const std::string endpoint = server.start(address_for(transport, "server"));
    zmq::context_t context(1);
    FloorPath floor(context, endpoint);
    auto engine_path = std::make_unique<EnginePath>(endpoint, 100);
    EnginePath& engine = *engine_path;

    Spread ratio_at_mark{};
    for (const uint64_t samples : s.read_samples) {
        const auto signal = signal_of(samples);
        const uint64_t reads = std::max<uint64_t>(3, s.samples_per_block_of_reads / samples);
        engine.stream(signal, std::max<uint64_t>(1, reads / 10));  // warm-up
        floor.stream(signal, std::max<uint64_t>(1, reads / 10));
        std::vector<double> engine_rates, floor_rates;
        const auto engine_block = [&] {
            engine_rates.push_back(samples_per_second(samples, reads, [&] { engine.stream(signal, reads); }));
        };
        const auto floor_block = [&] {
            floor_rates.push_back(samples_per_second(samples, reads, [&] { floor.stream(signal, reads); }));
        };
        for (int block = 0; block < s.blocks_per_path; ++block) {
            if (block % 2 == 0) {
                engine_block();
                floor_block();
            } else {
                floor_block();
                engine_block();
            }
        }
        const Spread ratio = bench::spread_of(bench::pair_ratios(engine_rates, floor_rates));
        std::printf("%-4s %9llu %7llu %15.0f %15.0f %8.3f\n", transport.c_str(),
                    static_cast<unsigned long long>(samples), static_cast<unsigned long long>(reads),
                    median(engine_rates), median(floor_rates), ratio.median);
        std::fflush(stdout);
        if (samples == RATIO_SAMPLES) {
            ratio_at_mark = ratio;
        }
    }
    engine_path.reset();  // finishes while the server still answers
    server.stop();
    if (transport == "ipc") {
        const std::string path = address_for(transport, "server").substr(6);
        std::remove(path.c_str());
    }
    return ratio_at_mark;
}

uint64_t resident_kib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoull(line.substr(6));
        }
    }
    return 0;
}

// In a child process, so that nothing else has touched its memory.
int report_memory(const Setting& s) {
    test_server::TestServer server;
    EnginePath engine(server.start(address_for("tcp", "memory")), 100);
    const auto signal = signal_of(RATIO_SAMPLES);
    const uint64_t before = resident_kib();
    uint64_t peak_at_tenth = 0;
    engine.stream(signal, s.memory_reads, [&](uint64_t back) {
        if (peak_at_tenth == 0 && back >= s.memory_reads / 10) {
            peak_at_tenth = peak_resident_kib();
        }
    });
    const uint64_t peak = peak_resident_kib();
    std::printf(
            "peak resident memory streaming %llu reads of %llu samples, max_reads_queued 100: %.1f MiB "
            "(%.1f MiB after the first tenth; %.1f MiB when connected; engine and test server in one process)\n",
            static_cast<unsigned long long>(s.memory_reads), static_cast<unsigned long long>(RATIO_SAMPLES),
            peak / 1024.0, peak_at_tenth / 1024.0, before / 1024.0);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main() {
    const Setting s = setting();
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        try {
            _exit(report_memory(s));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "memory run failed: %s\n", error.what());
            _exit(1);
        }
    }
    int child_status = 0;
    waitpid(child, &child_status, 0);
    if (!WIFEXITED(child_status) || WEXITSTATUS(child_status) != 0) {
        std::fprintf(stderr, "bench failed: the memory run did not complete\n");
        return 1;
    }

    try {
        std::printf("engine throughput%s: samples per second through BasecallClient and through a bare REQ loop\n",
                    smoke ? " (smoke setting, figures indicative only)" : "");
        std::printf("%-4s %9s %7s %15s %15s %8s\n", "via", "samples", "reads", "engine/s", "floor/s", "ratio");
        std::map<std::string, Spread> ratios;
        for (const char* transport : {"tcp", "ipc"}) {
            ratios[transport] = run_transport(s, transport);
        }
        std::printf("engine/floor at %llu samples: tcp %.3f ipc %.3f%s\n",
                    static_cast<unsigned long long>(RATIO_SAMPLES), ratios["tcp"].median, ratios["ipc"].median,
                    bench::pair_ratio_note(s.blocks_per_path, ratios["tcp"], ratios["ipc"]).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench failed: %s\n", error.what());
        return 1;
    }
}
