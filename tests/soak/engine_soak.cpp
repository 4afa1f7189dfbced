// A soak of the client against the bundled test server with random faults.
// Many client lifetimes, each passing reads of random sizes (some too short
// to send, tags reused) while the server drops replies, refuses blocks,
// loses reads, returns lost reads late, leaves optional data out, spoils
// called data, or is killed and started again on the same port; some
// lifetimes end by destroying the client mid-stream. Every read must come
// back at most once, with the server's call of its own signal, and all of
// them must be back when finish reports success; anything else is a
// violation. Runs for minutes, so it is no ctest test: scripts/soak_engine.sh.
//
//   vemla_engine_soak [--minutes M] [--seed S] [--verbose]   (--verbose: a line per lifetime)
#include "test_server/called_read.h"
#include "test_server/test_server.h"
#include "tests/vemla/client_test_support.h"
#include "vemla/vemla_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using bass::data_wrappers::Metadata;
using Clock = std::chrono::steady_clock;
using test_server::Fault;
using test_server::FaultRule;
using test_server::RequestKind;

constexpr std::chrono::seconds LIFETIME_LIMIT = std::chrono::minutes(5);  // a lifetime longer than this hangs

struct Figures {
    uint64_t lifetimes = 0;
    uint64_t destroyed_mid_stream = 0;
    uint64_t failures_reported = 0;  // connect or finish reported a failure
    uint64_t reads_passed = 0;
    uint64_t reads_back = 0;
    uint64_t reads_unsent = 0;  // too short to send: back at once
    uint64_t reads_missing_after_failure = 0;
    uint64_t reads_refused = 0;  // pass_read refused them: they stayed with the caller
    uint64_t server_kills = 0;
    uint64_t faults_fired = 0;
    std::map<std::string, uint64_t> faults_armed;
    uint64_t violations = 0;
};

void violation(Figures& figures, const std::string& what) {
    ++figures.violations;
    std::cout << "VIOLATION (lifetime " << figures.lifetimes << "): " << what << std::endl;
}

// The test server of one lifetime on the soak's fixed endpoint; it may be
// killed and started again there, with what it was told forgotten.
class Server {
public:
    Server(test_server::ServerSettings settings, std::string& endpoint) : m_settings(std::move(settings)) {
        start(endpoint);
    }
    ~Server() { take_count(); }

    test_server::TestServer& get() { return *m_server; }
    const test_server::ServerSettings& settings() const { return m_settings; }

    void add_fault(const FaultRule& rule) {
        m_server->add_fault(rule);
        ++m_armed;
    }

    void kill_and_restart(std::chrono::milliseconds downtime) {
        take_count();
        const std::string endpoint = m_server->endpoint();
        m_server.reset();
        std::this_thread::sleep_for(downtime);
        std::string again = endpoint;
        start(again);
    }

    // Faults that fired so far (armed faults die with a killed server).
    uint64_t fired() {
        take_count();
        return m_fired;
    }

private:
    void start(std::string& endpoint) {
        for (int attempt = 0;; ++attempt) {
            m_server = std::make_unique<test_server::TestServer>(m_settings);
            try {
                endpoint = m_server->start(endpoint.empty() ? "tcp://127.0.0.1:*" : endpoint);
                return;
            } catch (const zmq::error_t&) {
                if (attempt > 500) {
                    throw;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the port is not free yet
            }
        }
    }

    void take_count() {
        if (m_server) {
            m_fired += m_armed - m_server->faults_pending();
            m_armed = m_server->faults_pending();
        }
    }

    test_server::ServerSettings m_settings;
    std::unique_ptr<test_server::TestServer> m_server;
    uint64_t m_armed = 0;
    uint64_t m_fired = 0;
};

// A read as the soak passed it, and what must come back for it.
struct Expected {
    uint64_t tag = 0;
    std::vector<int16_t> signal;
    bool unsent = false;
    bool back = false;
};

class Soak {
public:
    Soak(uint64_t seed, bool verbose) : m_random(seed), m_verbose(verbose) {}

    void run_lifetime();
    const Figures& figures() const { return m_figures; }
    void print(std::ostream& out) const;

private:
    uint64_t pick(uint64_t low, uint64_t high) { return std::uniform_int_distribution<uint64_t>(low, high)(m_random); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }

    test_server::ServerSettings server_settings();
    void arm_faults(Server& server);
    vemla::Read make_read(uint64_t tag, const std::string& read_id, uint64_t samples, std::vector<int16_t>& signal);
    void collect(vemla::VemlaClient& client);
    void check(const vemla::Read& read);

    std::mt19937_64 m_random;
    bool m_verbose = false;
    std::string m_story;  // what this lifetime did, for --verbose
    Figures m_figures;
    std::string m_endpoint;
    std::string m_config;
    uint32_t m_stride = 1;
    const test_server::ServerSettings* m_settings = nullptr;
    std::map<std::string, Expected> m_expected;  // by read id
};

test_server::ServerSettings Soak::server_settings() {
    auto settings = test_server::ServerSettings::defaults();
    const uint32_t block_positions[] = {3, 16, 40, 300, 1000};
    settings.called_block_positions = block_positions[pick(0, 4)];
    settings.call_delay_ms = chance(0.3) ? static_cast<uint32_t>(pick(1, 50)) : 0;
    return settings;
}

void Soak::arm_faults(Server& server) {
    struct Kind {
        Fault fault;
        std::optional<RequestKind> on;
        uint32_t delay_ms;
    };
    const Kind kinds[] = {
            {Fault::drop_reply, std::nullopt, 0},
            {Fault::delay_reply, RequestKind::get_next_called_block, 300},
            {Fault::not_ready, RequestKind::pass_first_raw_block, 0},
            {Fault::not_ready, RequestKind::pass_next_raw_block, 0},
            {Fault::lose_reads, RequestKind::get_first_called_block, 0},
            {Fault::report_lost_reads, RequestKind::get_first_called_block, 0},
            {Fault::late_return, RequestKind::get_first_called_block, 0},
            {Fault::absent_optional_vectors, RequestKind::get_next_called_block, 0},
            {Fault::absent_optional_vectors, RequestKind::get_first_called_block, 0},
            {Fault::empty_extra_block, RequestKind::get_first_called_block, 0},
            {Fault::inconsistent_called_data, RequestKind::get_next_called_block, 0},
            {Fault::forget_clients, RequestKind::pass_next_raw_block, 0},
            {Fault::die_and_return, std::nullopt, 400},
            {Fault::short_frame, RequestKind::get_first_called_block, 0},
            {Fault::claim_many_blocks, RequestKind::get_first_called_block, 0},
    };
    const uint64_t rules = pick(0, 3);
    for (uint64_t i = 0; i < rules; ++i) {
        const Kind& kind = kinds[pick(0, std::size(kinds) - 1)];
        FaultRule rule(kind.fault, kind.on, static_cast<uint32_t>(pick(0, 40)), static_cast<uint32_t>(pick(1, 3)),
                       kind.delay_ms);
        server.add_fault(rule);
        const std::string name = std::string(test_server::fault_name(kind.fault)) + ":" +
                                 (kind.on ? test_server::request_kind_name(*kind.on) : "ANY");
        ++m_figures.faults_armed[name];
        m_story += " " + name;
    }
}

vemla::Read Soak::make_read(uint64_t tag, const std::string& read_id, uint64_t samples, std::vector<int16_t>& signal) {
    signal.resize(samples);
    std::uniform_int_distribution<int> step(-60, 60);
    int level = static_cast<int>(pick(0, 400));
    for (auto& sample : signal) {
        level = std::max(-2000, std::min(2000, level + step(m_random)));
        sample = static_cast<int16_t>(level);
    }
    vemla::Read read;
    read.set_read_tag(tag);
    read.get_metadata().insert("read_id", read_id);
    read.get_metadata().insert("daq_offset", 4.0f);
    read.get_metadata().insert("daq_scaling", 0.5f);
    read.get_datasets().emplace(dataset::raw_data, bass::data_wrappers::DataView(std::vector<int16_t>(signal)));
    return read;
}

void Soak::check(const vemla::Read& read) {
    const std::string read_id = read.get_by_name("read_id");
    const auto found = m_expected.find(read_id);
    if (found == m_expected.end()) {
        violation(m_figures, "a read that was never passed came back: '" + read_id + "'");
        return;
    }
    Expected& expected = found->second;
    if (expected.back) {
        violation(m_figures, "read " + read_id + " came back twice");
        return;
    }
    expected.back = true;
    ++m_figures.reads_back;
    if (read.get_read_tag() != expected.tag) {
        violation(m_figures, "read " + read_id + " came back under tag " + std::to_string(read.get_read_tag()) +
                                     " instead of " + std::to_string(expected.tag));
    }
    if (read.get_by_name("strand_id") != read_id) {
        violation(m_figures,
                  "read " + read_id + " came back with the strand id '" + read.get_by_name("strand_id") + "'");
    }
    const auto sequence = read.get_datasets().find(dataset::sequence);
    if (expected.unsent) {
        ++m_figures.reads_unsent;
        if (sequence != read.get_datasets().end()) {
            violation(m_figures, "read " + read_id + ", too short to send, came back called");
        }
        return;
    }
    test_server::AssembledRead sent;
    sent.read_tag = static_cast<uint32_t>(expected.tag);
    sent.read_id = sent.strand_id = read_id;
    sent.duration = static_cast<uint32_t>(expected.signal.size());
    sent.daq_offset = 4.0f;
    sent.daq_scaling = 0.5f;
    sent.signal = expected.signal;
    test_server::CallOptions options;
    options.config = *m_settings->find_config(m_config);
    const std::string want = test_server::call_signal(sent, options).sequence;
    if (sequence == read.get_datasets().end() || !sequence->second.string || *sequence->second.string != want) {
        violation(m_figures, "read " + read_id + " came back without the server's call of its signal");
    }
}

void Soak::collect(vemla::VemlaClient& client) {
    std::list<std::list<vemla::Read>> groups;
    client.get_completed_reads(groups);
    for (const auto& group : groups) {
        for (const auto& read : group) {
            check(read);
        }
    }
}

void Soak::run_lifetime() {
    ++m_figures.lifetimes;
    // A lifetime that hangs ends the soak as a violation.
    vemla_test::Watchdog watchdog(LIFETIME_LIMIT, "lifetime " + std::to_string(m_figures.lifetimes));
    const auto start = Clock::now();
    m_expected.clear();
    m_story.clear();
    const char* const configs[] = {"test_dna_fast", "test_dna_modbase", "test_dna_rle"};
    m_config = configs[pick(0, 2)];
    Server server(server_settings(), m_endpoint);
    m_settings = &server.settings();
    m_stride = m_settings->find_config(m_config)->model_stride;

    auto client = std::make_unique<vemla::VemlaClient>(m_endpoint, m_config);
    Metadata params;
    const uint64_t block_strides[] = {20, 50, 100, 400, 2000};
    params.insert("max_message_size", block_strides[pick(0, 4)]);
    params.insert("max_reads_queued", pick(1, 30));
    params.insert("query_timeout", uint32_t(500));
    params.insert("reconnect_timeout", uint32_t(20));
    params.insert("move_and_trace_enabled", chance(0.5));
    params.insert("post_out", chance(0.5));
    if (client->set_params(params) != vemla::Result::success) {
        violation(m_figures, "valid parameters were refused");
        return;
    }
    if (client->connect() != vemla::Result::success) {
        ++m_figures.failures_reported;
        return;
    }
    arm_faults(server);

    const uint64_t reads = pick(3, 40);
    const bool destroy_mid_stream = chance(0.2);
    const uint64_t destroy_after = pick(0, reads);
    // The server is killed after a number of raw blocks, unless the
    // lifetime is over by then.
    std::thread striker;
    std::atomic<bool> streaming{true};
    std::atomic<bool> killed{false};
    if (chance(0.25)) {
        const uint64_t after_blocks = pick(1, 30);
        const auto downtime = std::chrono::milliseconds(pick(0, 1500));
        striker = std::thread([&server, &streaming, &killed, after_blocks, downtime] {
            while (server.get().requests_seen(RequestKind::pass_first_raw_block) +
                           server.get().requests_seen(RequestKind::pass_next_raw_block) <
                   after_blocks) {
                if (!streaming) {
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            server.kill_and_restart(downtime);
            killed = true;
        });
    }

    // Tags come from a small pool, so that tags are reused, also those of
    // reads lost on the server.
    const uint64_t tag_pool = std::max<uint64_t>(3, reads / 2);
    uint64_t serial = 0;
    bool accepting = true;
    for (uint64_t n = 0; n < reads && accepting; ++n) {
        if (destroy_mid_stream && n == destroy_after) {
            break;
        }
        const std::string read_id = "L" + std::to_string(m_figures.lifetimes) + "-R" + std::to_string(serial++);
        Expected expected;
        const uint64_t samples = chance(0.1) ? pick(1, 20 * m_stride - 1) : pick(20 * m_stride, 15000);
        vemla::Read read = make_read(pick(1, tag_pool), read_id, samples, expected.signal);
        expected.unsent = samples < 20 * m_stride;
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (true) {
            expected.tag = read.get_read_tag();
            const auto result = client->pass_read(read, 200);
            if (result == vemla::PassReadResult::success) {
                ++m_figures.reads_passed;
                m_expected.emplace(read_id, std::move(expected));
                break;
            }
            if (result == vemla::PassReadResult::bad_read) {
                read.set_read_tag(read.get_read_tag() + tag_pool);  // its tag is still in flight
            } else if (result == vemla::PassReadResult::not_accepting_reads || Clock::now() > deadline) {
                ++m_figures.reads_refused;
                accepting = false;  // the connection ended, or stays full: a failure to report below
                break;
            }
            collect(*client);
        }
        collect(*client);
    }

    const auto lifetime_over = [&] {
        streaming = false;
        if (striker.joinable()) {
            striker.join();
        }
        if (killed) {
            ++m_figures.server_kills;
            m_story += " killed";
        }
    };
    if (destroy_mid_stream) {
        ++m_figures.destroyed_mid_stream;
        client.reset();
        lifetime_over();
        m_story += " -> destroyed";
    } else {
        const vemla::Result finished = client->finish(30);
        lifetime_over();
        m_story += std::string(" -> ") + vemla::to_string(finished);
        collect(*client);
        uint64_t missing = 0;
        for (const auto& [read_id, expected] : m_expected) {
            missing += expected.back ? 0 : 1;
        }
        if (finished == vemla::Result::success && missing > 0) {
            violation(m_figures, std::to_string(missing) + " reads missing after finish reported success");
        }
        if (finished != vemla::Result::success) {
            ++m_figures.failures_reported;
            m_figures.reads_missing_after_failure += missing;
        }
        client.reset();
    }
    m_figures.faults_fired += server.fired();
    if (m_verbose) {
        const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::cout << "lifetime " << m_figures.lifetimes << " " << m_config << " " << m_expected.size() << " reads"
                  << m_story << " (" << seconds << " s)" << std::endl;
    }
}

void Soak::print(std::ostream& out) const {
    const Figures& f = m_figures;
    out << "lifetimes " << f.lifetimes << " (destroyed mid-stream " << f.destroyed_mid_stream << ", failures reported "
        << f.failures_reported << "), reads passed " << f.reads_passed << ", back " << f.reads_back << " (unsent "
        << f.reads_unsent << "), missing after a reported failure " << f.reads_missing_after_failure << ", refused "
        << f.reads_refused << ", server kills " << f.server_kills << ", faults fired " << f.faults_fired
        << ", violations " << f.violations << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    double minutes = 20;
    uint64_t seed = std::random_device()();
    bool verbose = false;
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--verbose") {
            verbose = true;
            --i;
        } else if (i + 1 >= argc) {
            std::cerr << "usage: vemla_engine_soak [--minutes M] [--seed S] [--verbose]\n";
            return 2;
        } else if (option == "--minutes") {
            minutes = std::stod(argv[i + 1]);
        } else if (option == "--seed") {
            seed = std::stoull(argv[i + 1]);
        } else {
            std::cerr << "usage: vemla_engine_soak [--minutes M] [--seed S] [--verbose]\n";
            return 2;
        }
    }
    std::cout << "soak: " << minutes << " minutes, seed " << seed << std::endl;
    Soak soak(seed, verbose);
    const auto end = Clock::now() + std::chrono::duration<double, std::ratio<60>>(minutes);
    auto next_report = Clock::now() + std::chrono::minutes(1);
    while (Clock::now() < end) {
        soak.run_lifetime();
        if (Clock::now() >= next_report) {
            soak.print(std::cout);
            next_report += std::chrono::minutes(1);
        }
    }
    std::cout << "faults armed:";
    for (const auto& [fault, count] : soak.figures().faults_armed) {
        std::cout << " " << fault << "=" << count;
    }
    std::cout << "\nfinal: ";
    soak.print(std::cout);
    return soak.figures().violations == 0 ? 0 : 1;
}
