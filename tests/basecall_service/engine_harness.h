#pragma once
// An engine connected to the bundled test server, and the oracle its results
// are checked against: the test server's own call of the same signal.
#include "basecall_service/basecall_client.h"
#include "engine_test_reads.h"
#include "test_server/called_read.h"
#include "test_server/connection_string_reader.h"
#include "test_server/test_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace engine_test {

using ReadList = std::list<std::unique_ptr<interfaces::ReadHolder>>;

struct EngineOptions {
    std::string config = "test_dna_fast";
    bass::data_wrappers::Metadata params;  // client options sent at registration
    std::string align_ref;
    std::string bed_file;
    uint64_t block_size = 40;  // model strides per raw block
    uint64_t max_queued = 100;
    bool disable_events = false;
    bool pull_state_data = false;
    uint32_t reply_timeout_ms = 2000;
    std::chrono::seconds reconnect_timeout{60};
};

inline ipc_tools::ConnectionInfo connection_info_for(const EngineOptions& options) {
    ipc_tools::ConnectionInfo info;
    info.config = options.config;
    info.client_name = "engine_test";
    info.params = options.params;
    info.align_ref = options.align_ref;
    info.bed_file = options.bed_file;
    if (!options.align_ref.empty()) {
        info.params.insert("align_ref", options.align_ref);
    }
    if (!options.bed_file.empty()) {
        info.params.insert("bed_file", options.bed_file);
    }
    return info;
}

inline std::unique_ptr<basecall_service::BasecallClient> make_engine(const EngineOptions& options) {
    auto engine = std::make_unique<basecall_service::BasecallClient>(
            options.block_size, options.max_queued, options.disable_events, options.pull_state_data, nullptr);
    engine->set_reconnect_timeout(options.reconnect_timeout);
    return engine;
}

inline std::unique_ptr<basecall_service::BasecallClient> connect_engine(const std::string& endpoint,
                                                                        const EngineOptions& options) {
    auto engine = make_engine(options);
    engine->connect(endpoint, options.reply_timeout_ms, 10, connection_info_for(options));
    return engine;
}

// How the server calls reads of this connection, read from the connection
// string the engine registers with.
inline test_server::CallOptions call_options_for(const EngineOptions& options,
                                                 const test_server::ServerSettings& settings) {
    auto info = connection_info_for(options);
    const auto parsed = test_server::read_connection_string(info.build_connection_string());
    auto call_options = test_server::CallOptions::from(*parsed.request, *settings.find_config(options.config),
                                                       settings.split_min_positions);
    call_options.alignment_targets = settings.alignment_targets;
    return call_options;
}

// The server's calls of a read as it was sent: its sub-reads first, then itself.
inline std::vector<test_server::CalledRead> expected_calls(const interfaces::ReadHolder& read,
                                                           const test_server::CallOptions& options) {
    test_server::AssembledRead assembled;
    assembled.read_tag = static_cast<uint32_t>(read.m_read_tag);
    assembled.sub_tag = static_cast<uint32_t>(read.m_sub_tag);
    assembled.read_id = read.get_by_name("read_id");
    assembled.strand_id = read.get_by_name("strand_id");
    assembled.duration = static_cast<uint32_t>(read.m_metadata.get_value<uint64_t>("duration"));
    assembled.daq_offset = read.m_metadata.get_value<float>("daq_offset");
    assembled.daq_scaling = read.m_metadata.get_value<float>("daq_scaling");
    assembled.signal = raw_samples(read);
    assembled.signal.resize(assembled.duration);
    return test_server::call_read(assembled, options);
}

// Hands every read over (waiting while the queue is full) and collects until
// `expected` reads are back or the time is up.
inline ReadList pass_and_collect(basecall_service::BasecallClient& engine,
                                 std::vector<interfaces::ReadHolder> reads,
                                 size_t expected,
                                 std::chrono::seconds limit = std::chrono::seconds(60)) {
    ReadList out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (auto& read : reads) {
        while (engine.pass_read(read, 100) == basecall_service::PassReadResult::queue_full &&
               std::chrono::steady_clock::now() < deadline) {
            engine.get_completed_reads(out, 0);
        }
    }
    while (out.size() < expected && std::chrono::steady_clock::now() < deadline) {
        engine.get_completed_reads(out, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return out;
}

// Returned reads by read tag, each family in output order.
inline std::map<uint64_t, std::vector<const interfaces::ReadHolder*>> by_tag(const ReadList& reads) {
    std::map<uint64_t, std::vector<const interfaces::ReadHolder*>> families;
    for (const auto& read : reads) {
        families[read->m_read_tag].push_back(read.get());
    }
    return families;
}

inline std::string text_dataset(const interfaces::ReadHolder& read, dataset id) {
    const auto found = read.m_datasets.find(id);
    return found == read.m_datasets.end() || !found->second.string ? std::string("<none>") : *found->second.string;
}

template <typename T>
std::vector<T> dataset_values(const interfaces::ReadHolder& read, dataset id) {
    const auto found = read.m_datasets.find(id);
    if (found == read.m_datasets.end()) {
        return {};
    }
    const auto* data = static_cast<const T*>(found->second.data);
    const uint64_t count = found->second.info.count * found->second.info.element_size / sizeof(T);
    return std::vector<T>(data, data + count);
}

// Polls `done` until it holds or `limit` has passed; whether it held.
template <typename Predicate>
bool wait_for(Predicate done, std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The three ways an application stops an engine: finish with a time-out,
// disconnect, and destruction.
struct StopCase {
    const char* what;
    std::function<void(std::unique_ptr<basecall_service::BasecallClient>&)> stop;
};

inline const std::vector<StopCase>& ways_to_stop() {
    static const std::vector<StopCase> cases = {
            {"finish with a time-out",
             [](std::unique_ptr<basecall_service::BasecallClient>& e) { EXPECT_FALSE(e->finish_by(1)); }},
            {"disconnect", [](std::unique_ptr<basecall_service::BasecallClient>& e) { e->disconnect(); }},
            {"destruction", [](std::unique_ptr<basecall_service::BasecallClient>& e) { e.reset(); }},
    };
    return cases;
}

}  // namespace engine_test
