// VemlaClient against the bundled test server over real sockets: a full round
// trip with its SAM lines read by samtools, split reads grouped by tag,
// connecting to nothing, and status handlers that call back into the client.
#include "vemla/vemla_client.h"

#include "test_server/test_server.h"
#include "tests/common/temp_folder.h"
#include "tests/vemla/client_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using bass::data_wrappers::Metadata;
using vemla::ConnectionStatus;
using vemla::PassReadResult;
using vemla::Result;
using vemla::VemlaClient;

namespace {

// The statuses a handler was told of, in order, with the error text.
class StatusLog {
public:
    void add(ConnectionStatus from, ConnectionStatus to, std::string error) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_changes.emplace_back(from, to, std::move(error));
        }
        m_changed.notify_all();
    }

    // Waits until a change to `status` was told; false after `limit`.
    bool wait_for(ConnectionStatus status, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] {
            for (const auto& change : m_changes) {
                if (std::get<1>(change) == status) {
                    return true;
                }
            }
            return false;
        });
    }

    std::vector<std::tuple<ConnectionStatus, ConnectionStatus, std::string>> changes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_changes;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::tuple<ConnectionStatus, ConnectionStatus, std::string>> m_changes;
};

// An address where nothing listens: a port the test server held a moment ago.
std::string unused_address() {
    test_server::TestServer server;
    const std::string address = server.start("tcp://127.0.0.1:*");
    server.stop();
    return address;
}

// Gives up on a silent server within about a second.
Metadata quick_give_up() {
    Metadata params;
    params.insert("query_timeout", uint32_t(200));
    params.insert("reconnect_timeout", uint32_t(1));
    return params;
}

class ClientAgainstServer : public ::testing::Test {
protected:
    void SetUp() override { address = server.start("tcp://127.0.0.1:*"); }

    test_server::TestServer server;
    std::string address;
    vemla_test::TempFolder folder;
};

TEST_F(ClientAgainstServer, ReadsMakeTheRoundTripAndTheirSamLinesReadInSamtools) {
    vemla_test::Watchdog watchdog(std::chrono::seconds(120), "the round trip");
    // The test server knows its alignment index by file name.
    const std::string index = (folder.path() / "test_ref.mmi").string();
    std::ofstream(index).put('\n');

    VemlaClient client(address, "test_dna_fast");
    Metadata params;
    params.insert("client_name", std::string("api_round_trip"));
    params.insert("align_ref", index);
    params.insert("move_and_trace_enabled", true);
    params.insert("max_message_size", uint64_t(400));  // 2000 samples per block: several blocks a read
    ASSERT_EQ(client.set_params(params), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    EXPECT_EQ(client.get_status(), ConnectionStatus::connected);
    EXPECT_EQ(client.connect(), Result::already_connected);
    EXPECT_EQ(client.set_params(params), Result::already_connected);

    Metadata config;
    ASSERT_EQ(client.get_basecalling_config(config), Result::success);
    EXPECT_EQ(config.get_value<std::string>("config_name"), "test_dna_fast");
    EXPECT_EQ(config.get_value<uint64_t>("model_stride"), 5u);
    std::string header;
    ASSERT_EQ(client.get_alignment_sam_header(header), Result::success);
    EXPECT_NE(header.find("@SQ\tSN:test_chr1"), std::string::npos) << header;

    // A tag beyond 32 bits is refused, and the read stays with the caller.
    vemla::Read too_large = vemla_test::make_read(uint64_t(1) << 32, 5000);
    EXPECT_EQ(client.pass_read(too_large, 1000), PassReadResult::bad_read);
    EXPECT_EQ(too_large.get_datasets().count(dataset::raw_data), 1u);

    const uint64_t count = 12;
    for (uint64_t tag = 1; tag <= count; ++tag) {
        vemla::Read read = vemla_test::make_read(tag, 3000 + 900 * tag);
        ASSERT_EQ(client.pass_read(read, 5000), PassReadResult::success) << tag;
        EXPECT_EQ(read.get_read_tag(), tag);  // the caller keeps the tag, the contents moved on
        EXPECT_TRUE(read.get_datasets().empty());
    }
    // No limit that a clock could overflow: this waits until every read is back.
    ASSERT_EQ(client.finish(std::numeric_limits<uint64_t>::max()), Result::success);

    std::list<std::list<vemla::Read>> groups;
    client.get_completed_reads(groups);
    std::set<uint64_t> tags;
    const std::string sam_file = (folder.path() / "reads.sam").string();
    std::ofstream sam(sam_file);
    sam << "@HD\tVN:1.6\tSO:unsorted\n" << header;
    size_t lines = 0;
    for (const auto& group : groups) {
        ASSERT_EQ(group.size(), 1u);
        const vemla::Read& read = group.front();
        EXPECT_TRUE(tags.insert(read.get_read_tag()).second) << "read came back twice";
        EXPECT_EQ(read.get_by_name("read_id"), "read_" + std::to_string(read.get_read_tag()));
        EXPECT_TRUE(read.has_alignment_data());
        for (const auto& line : read.extract_sam_and_bed_lines(50.0f)) {
            sam << line.sam_line << "\n";
            ++lines;
        }
    }
    sam.close();
    EXPECT_EQ(tags.size(), count);

    const auto [status, output] = vemla_test::run_command("samtools view -c '" + sam_file + "' 2>&1");
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, std::to_string(lines) + "\n");
    const auto [moves_status, moves] = vemla_test::run_command("samtools view '" + sam_file + "' | grep -c 'mv:B:c,5'");
    EXPECT_EQ(moves, std::to_string(count) + "\n") << "each first SAM line carries the move table";

    // Finishing ended the connection.
    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
    EXPECT_EQ(client.disconnect(), Result::no_connection);
}

// The sub-reads of a split read come back in their parent's group.
TEST_F(ClientAgainstServer, SplitReadsComeBackGroupedByTheirTag) {
    VemlaClient client(address, "test_dna_fast");
    Metadata params;
    params.insert("do_read_splitting", true);
    ASSERT_EQ(client.set_params(params), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    for (uint64_t tag : {7, 9}) {
        vemla::Read read = vemla_test::make_read(tag, 6000);
        ASSERT_EQ(client.pass_read(read, 5000), PassReadResult::success);
    }
    ASSERT_EQ(client.finish(60), Result::success);
    std::list<std::list<vemla::Read>> groups(1);  // earlier contents stay
    client.get_completed_reads(groups);
    ASSERT_EQ(groups.size(), 3u);
    groups.pop_front();
    std::set<uint64_t> tags;
    for (const auto& group : groups) {
        ASSERT_GE(group.size(), 2u);  // the parent and its sub-reads
        std::set<uint64_t> sub_tags;
        for (const auto& read : group) {
            EXPECT_EQ(read.get_read_tag(), group.front().get_read_tag());
            sub_tags.insert(read.get_sub_tag());
        }
        EXPECT_EQ(sub_tags.size(), group.size());
        tags.insert(group.front().get_read_tag());
    }
    EXPECT_EQ(tags, (std::set<uint64_t>{7, 9}));
}

// Nothing listens: attempts time out until the reconnect time-out has
// passed; the handler hears every change in order, ending in error.
TEST(ClientWithoutListener, ConnectTimesOutAndTheHandlerHearsEveryChangeInOrder) {
    StatusLog log;  // outlives the client, whose last changes it still hears
    VemlaClient client(unused_address(), "test_dna_fast");
    ASSERT_EQ(client.set_state_change_handler([&log](ConnectionStatus from, ConnectionStatus to, std::string error) {
        log.add(from, to, std::move(error));
    }),
              Result::success);
    ASSERT_EQ(client.set_params(quick_give_up()), Result::success);

    EXPECT_EQ(client.connect(), Result::timed_out);
    EXPECT_EQ(client.get_status(), ConnectionStatus::error);
    EXPECT_NE(client.get_error_message().find("timed_out"), std::string::npos) << client.get_error_message();
    EXPECT_EQ(client.connect(), Result::failed);  // still in error
    EXPECT_EQ(client.finish(1), Result::failed);

    ASSERT_TRUE(log.wait_for(ConnectionStatus::error, std::chrono::seconds(10)));
    const auto changes = log.changes();
    ConnectionStatus expected_from = ConnectionStatus::disconnected;
    for (const auto& [from, to, error] : changes) {
        EXPECT_EQ(from, expected_from);
        expected_from = to;
    }
    EXPECT_EQ(std::get<1>(changes.front()), ConnectionStatus::preparing_connection);
    EXPECT_EQ(std::get<1>(changes.back()), ConnectionStatus::error);
    EXPECT_EQ(std::get<2>(changes.back()).rfind("[timed_out]", 0), 0u) << std::get<2>(changes.back());

    EXPECT_EQ(client.disconnect(), Result::success);
    EXPECT_EQ(client.get_status(), ConnectionStatus::disconnected);
}

// A handler that calls back into the client while the client replaces its
// engine on a new connect: the old engine is released outside the client's
// lock, so neither side waits for the other. The old engine's last change is
// held until the new engine has taken its place (its config is not known
// yet), so the handler is surely still running when the old engine goes.
TEST_F(ClientAgainstServer, HandlerCallingBackDuringReconnectDoesNotDeadlock) {
    vemla_test::Watchdog watchdog(std::chrono::seconds(60), "connect while the handler calls back");
    std::atomic<bool> first_engine_ended{false};
    std::atomic<int> calls{0};
    VemlaClient client(address, "test_dna_fast");
    const auto config_name = [&client] {
        Metadata config;
        client.get_basecalling_config(config);
        return config.get_value<std::string>("config_name");
    };
    client.set_state_change_handler([&](ConnectionStatus, ConnectionStatus to, std::string) {
        if (to == ConnectionStatus::disconnected && !first_engine_ended.exchange(true)) {
            while (config_name() == "test_dna_fast") {
                std::this_thread::yield();
            }
        }
        client.get_status();
        ++calls;
    });
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    EXPECT_EQ(client.disconnect(), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    EXPECT_TRUE(first_engine_ended);
    EXPECT_GT(calls.load(), 6);
}

// While the server is still loading the config its model stride is unknown,
// so a read could not be cut into blocks: it is refused and stays whole.
TEST(ClientAgainstLoadingServer, ReadsAreRefusedUntilTheConnectHasSucceeded) {
    auto settings = test_server::ServerSettings::defaults();
    settings.loading_replies = 2;  // each load answered LOADING twice, asked again after 500 ms
    test_server::TestServer server(settings);
    VemlaClient client(server.start("tcp://127.0.0.1:*"), "test_dna_fast");
    std::thread connecting([&client] { EXPECT_EQ(client.connect(), Result::success); });
    while (client.get_status() != ConnectionStatus::loading_config) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    vemla::Read early = vemla_test::make_read(1, 5000);
    EXPECT_EQ(client.pass_read(early, 0), PassReadResult::not_accepting_reads);
    EXPECT_EQ(early.get_datasets().count(dataset::raw_data), 1u);
    connecting.join();
    EXPECT_EQ(client.pass_read(early, 1000), PassReadResult::success);
    EXPECT_EQ(client.finish(30), Result::success);
}

// Destroying a connected client with reads in flight stops its engine: the
// handler hears the end, and calls it makes back into the client meanwhile
// find no engine rather than one being destroyed, and no state report.
TEST_F(ClientAgainstServer, DestroyingAConnectedClientEndsItsConnection) {
    vemla_test::Watchdog watchdog(std::chrono::seconds(60), "destroying a connected client");
    StatusLog log;
    auto client = std::make_unique<VemlaClient>(address, "test_dna_fast");
    VemlaClient* const raw = client.get();
    client->set_state_change_handler([&](ConnectionStatus from, ConnectionStatus to, std::string error) {
        if (to == ConnectionStatus::disconnected) {
            EXPECT_EQ(raw->get_status(), ConnectionStatus::disconnected);
            EXPECT_EQ(raw->get_internal_state().find(address), std::string::npos);
        }
        log.add(from, to, std::move(error));
    });
    ASSERT_EQ(client->connect(), Result::success) << client->get_error_message();
    for (uint64_t tag = 1; tag <= 8; ++tag) {
        vemla::Read read = vemla_test::make_read(tag, 20000);
        ASSERT_EQ(client->pass_read(read, 5000), PassReadResult::success);
    }
    client.reset();
    const auto changes = log.changes();
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(std::get<0>(changes.back()), ConnectionStatus::connected);
    EXPECT_EQ(std::get<1>(changes.back()), ConnectionStatus::disconnected);
}

TEST_F(ClientAgainstServer, UnknownConfigFailsWithItsCode) {
    VemlaClient client(address, "no_such_config");
    EXPECT_EQ(client.connect(), Result::basecall_config_unavailable);
    EXPECT_NE(client.get_error_message().find("basecall_config_unavailable"), std::string::npos);
}

}  // namespace
