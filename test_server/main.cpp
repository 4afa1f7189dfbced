// vemla_test_server: the bundled basecall test server as a process.
// Prints "endpoint: <address>" on standard output once it serves, then runs
// until SIGINT or SIGTERM.
#include "test_server/test_server.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const usage =
        "usage: vemla_test_server [options]\n"
        "  --endpoint ADDRESS     address to bind (default tcp://127.0.0.1:*)\n"
        "  --config NAME[:STRIDE[:moves|modbase|rle]]\n"
        "                         accept this basecall config (repeatable; replaces the defaults)\n"
        "  --index NAME           accept this alignment index (repeatable)\n"
        "  --index-no-seq NAME    accept this index, without sequence (repeatable)\n"
        "  --bed NAME             accept this BED file (repeatable)\n"
        "  --latency-ms N         delay every reply by N ms\n"
        "  --call-delay-ms N      a read is ready N ms after its last block\n"
        "  --loading N            answer LOADING N times before SUCCESS, per file\n"
        "  --called-block-positions N   positions per called block\n"
        "  --discard-reads        accept reads but return none (benchmarks)\n"
        "  --fault RULE           fault[:REQUEST|ANY[:count[:skip[:delay_ms]]]] (repeatable)\n"
        "faults: drop_reply delay_reply short_frame foreign_identifier corrupt_body bad_request\n"
        "        not_ready forget_clients lose_reads inconsistent_called_data die_and_return\n"
        "        reply_with=REPLY_KIND (e.g. reply_with=INVALID_CONFIG:CONNECT) report_lost_reads\n"
        "        absent_optional_vectors empty_extra_block late_return claim_many_blocks\n";

bool read_number(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = static_cast<uint32_t>(std::stoul(text));
    return true;
}

int fail(const std::string& message) {
    std::cerr << "vemla_test_server: " << message << "\n" << usage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    test_server::ServerSettings settings = test_server::ServerSettings::defaults();
    std::string endpoint = "tcp://127.0.0.1:*";
    std::vector<test_server::FaultRule> faults;
    bool configs_given = false, indices_given = false, beds_given = false;

    const std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        }
        if (arg == "--discard-reads") {
            settings.discard_reads = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return fail("missing value after " + arg);
        }
        const std::string& value = args[++i];
        if (arg == "--endpoint") {
            endpoint = value;
        } else if (arg == "--config") {
            test_server::BasecallConfig config;
            if (!test_server::parse_config_spec(value, config)) {
                return fail("bad config '" + value + "'");
            }
            if (!configs_given) {
                settings.configs.clear();
                configs_given = true;
            }
            settings.configs.push_back(config);
        } else if (arg == "--index" || arg == "--index-no-seq") {
            if (!indices_given) {
                settings.indices.clear();
                indices_given = true;
            }
            settings.indices.push_back({value, arg == "--index"});
        } else if (arg == "--bed") {
            if (!beds_given) {
                settings.bed_files.clear();
                beds_given = true;
            }
            settings.bed_files.push_back(value);
        } else if (arg == "--latency-ms") {
            if (!read_number(value, settings.reply_latency_ms)) return fail("bad number " + value);
        } else if (arg == "--call-delay-ms") {
            if (!read_number(value, settings.call_delay_ms)) return fail("bad number " + value);
        } else if (arg == "--loading") {
            if (!read_number(value, settings.loading_replies)) return fail("bad number " + value);
        } else if (arg == "--called-block-positions") {
            if (!read_number(value, settings.called_block_positions) || settings.called_block_positions == 0) {
                return fail("bad number " + value);
            }
        } else if (arg == "--fault") {
            test_server::FaultRule rule;
            std::string error;
            if (!test_server::parse_fault_rule(value, rule, error)) {
                return fail(error);
            }
            faults.push_back(rule);
        } else {
            return fail("unknown option " + arg);
        }
    }

    // Block the stop signals before any thread starts, then wait for one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    test_server::TestServer server(settings);
    for (const auto& rule : faults) {
        server.add_fault(rule);
    }
    try {
        std::cout << "endpoint: " << server.start(endpoint) << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "vemla_test_server: cannot bind " << endpoint << ": " << error.what() << "\n";
        return 1;
    }
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    return 0;
}
