#pragma once
// The bundled basecall test server: a ROUTER socket served by its own
// thread, so it can answer late, stay silent, or serve several clients at
// once. Bind it to "tcp://127.0.0.1:*" (or an ipc:// path) and read the
// real endpoint back, so parallel tests never share a port.
#include "test_server/fault_rules.h"
#include "test_server/server_logic.h"
#include "test_server/server_settings.h"

#include <nlohmann/json.hpp>
#include <zmq.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_server {

class TestServer {
public:
    explicit TestServer(ServerSettings settings = ServerSettings::defaults());
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    // Binds and starts serving; returns the bound endpoint. Throws
    // zmq::error_t when the address cannot be bound.
    std::string start(const std::string& bind_address = "tcp://127.0.0.1:*");
    // Stops serving and closes the socket; unanswered requests are dropped.
    void stop();
    const std::string& endpoint() const { return m_endpoint; }

    void add_fault(const FaultRule& rule) { m_faults.add(rule); }
    void clear_faults() { m_faults.clear(); }
    size_t faults_pending() const { return m_faults.size(); }

    // Dies and comes back: the serving thread closes the socket, forgets
    // every connection and loaded file, and rebinds the same endpoint after
    // the downtime. Returns at once.
    void restart(std::chrono::milliseconds downtime);
    uint64_t restarts() const { return m_restarts.load(); }

    // The internal state a QUERY returns, including what was received.
    nlohmann::ordered_json report() const;
    uint64_t requests_seen(RequestKind kind) const;

private:
    using Clock = std::chrono::steady_clock;
    struct ScheduledReply {
        Clock::time_point due;
        std::vector<zmq::message_t> envelope;
        Bytes body;
    };

    void serve();
    void receive_all();
    void answer(std::vector<zmq::message_t> frames);
    void send_due(Clock::time_point now);
    void send_reply(std::vector<zmq::message_t>& envelope, const Bytes& body);
    void go_down_and_return(std::chrono::milliseconds downtime);
    std::string bind_socket(const std::string& address);

    zmq::context_t m_context;
    std::unique_ptr<zmq::socket_t> m_socket;
    std::string m_endpoint;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_restart_downtime_ms{-1};
    std::atomic<uint64_t> m_restarts{0};
    uint32_t m_reply_latency_ms = 0;

    mutable std::mutex m_logic_mutex;  // the logic is read by report() from other threads
    ServerLogic m_logic;
    FaultTable m_faults;
    std::vector<ScheduledReply> m_scheduled;  // serving thread only
};

}  // namespace test_server
