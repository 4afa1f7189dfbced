// vemla example: the main job of the client library, through its public API.
//
//   1. start the bundled test server in this process, or use a running
//      server (--server ADDRESS --config NAME)
//   2. connect a vemla::VemlaClient, reporting each status change
//   3. stream generated reads to the server, collecting finished reads as
//      they come back, with a progress line
//   4. finish, print a summary and write every read's SAM records to a
//      coordinate-sorted, indexed BAM file (or to SAM text for a .sam name)
#include "generated_reads.h"
#include "options.h"
#include "read_output.h"
#include "run_statistics.h"

#include "test_server/test_server.h"
#include "vemla/vemla_client.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <list>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// How long the client keeps retrying a server that does not answer, at the
// first connect and after losing it: the library's default (300 s) suits a
// long-running application better than an interactive run. A request waits
// up to 4 polls of the reply time-out (the library's default, set here so
// that the usage text in options.cpp, which says what the two add up to,
// stays true).
constexpr uint32_t RECONNECT_TIMEOUT_S = 20;
constexpr uint32_t REPLY_TIMEOUT_MS = 2000;

// The bundled server and what it needs: it knows its alignment index by file
// name and never reads the file, so an empty one in a scratch folder stands in.
struct BundledServer {
    BundledServer() {
        char pattern[] = "/tmp/vemla_example_XXXXXX";
        if (!mkdtemp(pattern)) {
            throw std::runtime_error("cannot create a scratch folder");
        }
        folder = pattern;
        index = folder + "/test_ref.mmi";
        std::ofstream(index).put('\n');
        address = server.start("tcp://127.0.0.1:*");
    }
    ~BundledServer() {
        server.stop();
        std::remove(index.c_str());
        rmdir(folder.c_str());
    }

    test_server::TestServer server;
    std::string folder;
    std::string index;
    std::string address;
};

// The reads' side of a run: it owns the connected client until finish().
class Run {
public:
    Run(std::unique_ptr<vemla::VemlaClient> client, uint32_t reads, example::ReadOutput& output)
        : m_client(std::move(client)), m_total(reads), m_output(output), m_in_place(isatty(STDOUT_FILENO) != 0) {}

    // Streams every read, then waits for the rest to come back; false when
    // the connection ended before every read was sent.
    bool stream() {
        example::ReadGenerator generator(2024);
        for (uint32_t tag = 1; tag <= m_total; ++tag) {
            vemla::Read read = generator.next(tag);
            if (!send(read)) {
                return false;
            }
            progress(false);
        }
        wait_for_reads();
        return true;
    }

    // Waits up to `timeout_s` for the last reads, collects them and releases
    // the client. Releasing it delivers every status line still queued for
    // the state-change handler, so none can print after what follows.
    vemla::Result finish(uint64_t timeout_s) {
        const vemla::Result finished = m_client->finish(timeout_s);
        collect();
        m_client.reset();
        return finished;
    }

    void progress(bool force) {
        const auto now = Clock::now();
        const auto period = std::chrono::milliseconds(m_in_place ? 200 : 1000);
        if (force || now - m_last_progress >= period) {
            m_statistics.print_progress(std::cout, m_total, m_in_place);
            m_last_progress = now;
        }
    }

    const example::RunStatistics& statistics() const { return m_statistics; }

private:
    void collect() {
        std::list<std::list<vemla::Read>> groups;
        m_client->get_completed_reads(groups);
        for (const auto& group : groups) {
            for (const auto& read : group) {
                m_statistics.read_returned(read);
                std::string error;
                if (!m_output.add(read, 50.0f, error)) {
                    std::cerr << "\nread " << read.get_by_name("read_id") << " has no SAM record: " << error << "\n";
                }
            }
        }
    }

    // Offers the read until there is room, collecting finished reads meanwhile.
    bool send(vemla::Read& read) {
        for (;;) {
            const vemla::PassReadResult result = m_client->pass_read(read, 200);
            if (result == vemla::PassReadResult::success) {
                m_statistics.read_sent();
                return true;
            }
            if (result != vemla::PassReadResult::queue_full) {
                m_statistics.read_refused();
                std::cerr << "\nread " << read.get_read_tag() << " refused: " << vemla::to_string(result) << "\n";
                return result == vemla::PassReadResult::bad_read;  // a bad read does not end the run
            }
            collect();
            progress(false);
        }
    }

    // Until every read is back, the connection is lost, or nothing came back
    // for a minute.
    void wait_for_reads() {
        auto last_change = Clock::now();
        uint64_t returned = m_statistics.returned();
        while (m_statistics.returned() < m_statistics.sent() && Clock::now() - last_change < std::chrono::minutes(1)) {
            const auto status = m_client->get_status();
            if (status == vemla::ConnectionStatus::error || status == vemla::ConnectionStatus::disconnected) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            collect();
            if (m_statistics.returned() != returned) {
                returned = m_statistics.returned();
                last_change = Clock::now();
            }
            progress(false);
        }
    }

    std::unique_ptr<vemla::VemlaClient> m_client;
    uint32_t m_total;
    example::ReadOutput& m_output;
    bool m_in_place;
    example::RunStatistics m_statistics;
    Clock::time_point m_last_progress;
};

int run(const example::Options& options) {
    std::unique_ptr<BundledServer> bundled;
    std::string address = options.server;
    std::string align_ref = options.align_ref;
    if (address.empty()) {
        bundled = std::make_unique<BundledServer>();
        address = bundled->address;
        if (align_ref.empty()) {
            align_ref = bundled->index;
        }
        std::cout << "started the bundled test server at " << address << "\n";
    }

    auto client = std::make_unique<vemla::VemlaClient>(address, options.config);
    client->set_state_change_handler([](vemla::ConnectionStatus from, vemla::ConnectionStatus to, std::string) {
        std::cout << "status: " << from << " -> " << to << "\n";
    });
    bass::data_wrappers::Metadata params;
    params.insert("client_name", std::string("vemla_example"));
    params.insert("move_and_trace_enabled", true);  // move tables in the SAM lines
    params.insert("max_reads_queued", uint64_t(50));
    params.insert("reconnect_timeout", RECONNECT_TIMEOUT_S);
    params.insert("query_timeout", REPLY_TIMEOUT_MS);
    if (!align_ref.empty()) {
        params.insert("align_ref", align_ref);
    }
    if (client->set_params(params) != vemla::Result::success) {
        throw std::runtime_error("the client refused the example's parameters");
    }

    std::cout << "connecting to " << address << " with config " << options.config << std::endl;
    const vemla::Result connected = client->connect();
    if (connected != vemla::Result::success) {
        const std::string reason = client->get_error_message();
        client.reset();  // the status lines of the attempt come first
        std::cerr << "cannot connect to " << address << " with config " << options.config << ": " << connected << " "
                  << reason << "\n";
        return EXIT_FAILURE;
    }
    std::string reference_header;
    client->get_alignment_sam_header(reference_header);
    example::ReadOutput output(reference_header);

    Run run(std::move(client), options.reads, output);
    const bool streamed = run.stream();
    const vemla::Result finished = run.finish(30);
    run.progress(true);
    std::cout << "\n";

    const uint64_t missing = run.statistics().sent() - run.statistics().returned();
    run.statistics().print_summary(std::cout, missing);
    std::string error;
    if (!output.write(options.output, options.format, error)) {
        std::cerr << error << "\n";
        return EXIT_FAILURE;
    }
    std::cout << "wrote " << output.records() << " records to " << options.output << "\n";
    if (!streamed || finished != vemla::Result::success || missing != 0) {
        std::cerr << "the run did not complete: finish gave " << finished << "\n";
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
    example::Options options;
    try {
        options = example::parse_options(argc, argv);
    } catch (const example::UsageError& error) {
        std::cerr << "vemla_example: " << error.what() << "\n" << example::usage;
        return 2;
    }
    if (options.help) {
        std::cout << example::usage;
        return EXIT_SUCCESS;
    }
    try {
        return run(options);
    } catch (const std::exception& error) {
        std::cerr << "vemla_example: " << error.what() << "\n";
        return EXIT_FAILURE;
    }
}
