// The client API under several threads; also built with ThreadSanitizer
// (tests_engine_tsan). What the server told the client is read while a
// reconnect to a changed server rewrites it; settings change while the
// state is reported; engines are swapped while their handlers still run.
#include "vemla/vemla_client.h"

#include "test_server/test_server.h"
#include "tests/vemla/client_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using bass::data_wrappers::Metadata;
using vemla::ConnectionStatus;
using vemla::Read;
using vemla::Result;
using vemla::VemlaClient;

namespace {

// Runs `work` on a few threads until the object goes.
class Readers {
public:
    template <typename Work>
    Readers(int count, Work work) {
        for (int i = 0; i < count; ++i) {
            m_threads.emplace_back([this, work] {
                while (!m_done) {
                    work();
                }
            });
        }
    }
    ~Readers() {
        m_done = true;
        for (auto& thread : m_threads) {
            thread.join();
        }
    }
    Readers(const Readers&) = delete;
    Readers& operator=(const Readers&) = delete;

private:
    std::atomic<bool> m_done{false};
    std::vector<std::thread> m_threads;
};

test_server::ServerSettings settings_with_qscore_offset(float offset) {
    auto settings = test_server::ServerSettings::defaults();
    for (auto& config : settings.configs) {
        config.qscore_offset = offset;
    }
    return settings;
}

float qscore_offset_of(VemlaClient& client) {
    Metadata config;
    client.get_basecalling_config(config);
    return config.get_value<float>("qscore_offset");
}

}  // namespace

TEST(ClientConcurrency, TheConfigIsReadWhileAReconnectToAChangedServerRewritesIt) {
    vemla_test::Watchdog watchdog(std::chrono::seconds(120), "reconnecting to a changed server");
    auto first = std::make_unique<test_server::TestServer>(settings_with_qscore_offset(0.5f));
    const std::string endpoint = first->start("tcp://127.0.0.1:*");
    VemlaClient client(endpoint, "test_dna_fast");
    Metadata params;
    params.insert("query_timeout", uint32_t(200));
    ASSERT_EQ(client.set_params(params), Result::success);
    ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
    ASSERT_EQ(qscore_offset_of(client), 0.5f);

    test_server::TestServer second(settings_with_qscore_offset(7.0f));
    {
        Readers readers(3, [&client] {
            qscore_offset_of(client);
            std::string header;
            client.get_alignment_sam_header(header);
            client.get_internal_state();
        });
        first.reset();  // the client loses the server and reconnects to its successor
        while (true) {
            try {
                second.start(endpoint);
                break;
            } catch (const zmq::error_t&) {
                std::this_thread::yield();  // the port is not free again yet
            }
        }
        while (qscore_offset_of(client) != 7.0f || client.get_status() != ConnectionStatus::connected) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(client.finish(10), Result::success);
}

TEST(ClientConcurrency, SettingsAndHandlersChangeWhileTheStateIsReportedAndEnginesAreSwapped) {
    vemla_test::Watchdog watchdog(std::chrono::seconds(120), "settings changing under a state report");
    test_server::TestServer server;
    VemlaClient client(server.start("tcp://127.0.0.1:*"), "test_dna_fast");
    std::atomic<int> changes{0};
    Readers reporters(2, [&client] { client.get_internal_state(); });
    for (uint32_t round = 0; round < 5; ++round) {
        Metadata params;
        params.insert("query_timeout", uint32_t(1000 + round));
        params.insert("max_reads_queued", uint64_t(10 + round));
        params.insert("client_name", "round_" + std::to_string(round));
        ASSERT_EQ(client.set_params(params), Result::success);
        ASSERT_EQ(client.set_priority(round % 2 ? Read::HIGH_PRIORITY : Read::LOW_PRIORITY), Result::success);
        // A new handler while the previous engine may still be telling the old one.
        ASSERT_EQ(client.set_state_change_handler(
                          [&changes](ConnectionStatus, ConnectionStatus, std::string) { ++changes; }),
                  Result::success);
        ASSERT_EQ(client.connect(), Result::success) << client.get_error_message();
        Read read = vemla_test::make_read(round + 1, 3000);
        EXPECT_EQ(client.pass_read(read, 1000), vemla::PassReadResult::success);
        ASSERT_EQ(client.disconnect(), Result::success);
    }
    EXPECT_GT(changes.load(), 0);
}
