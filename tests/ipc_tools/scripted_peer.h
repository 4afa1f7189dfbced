#pragma once

// A stand-in server for broker tests: a ZeroMQ ROUTER socket on its own
// thread and context, bound to a free loopback port, answering each request
// through a test-supplied handler.

#include "ipc_tools/ipc_tools.h"

#include <zmq.hpp>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ipc_tools::test {

using Frame = std::vector<uint8_t>;

struct ReceivedRequest {
    MessageType type = MessageType::UNSET;
    std::string client_id;
    uint32_t value = 0;
    std::string text;
};

/// Reply parts to send, or nothing to stay silent.
using Handler = std::function<std::optional<std::vector<Frame>>(const ReceivedRequest&)>;

/// Frame of a simple reply message.
Frame simple_reply(MessageType type, uint32_t value = 0, const std::string& text = "");

class ScriptedPeer {
public:
    /// Binds `endpoint` (a free loopback port by default) and starts serving.
    explicit ScriptedPeer(Handler handler, const std::string& endpoint = "tcp://127.0.0.1:*");
    ~ScriptedPeer();

    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    /// The bound endpoint, e.g. "tcp://127.0.0.1:40123".
    const std::string& endpoint() const { return m_endpoint; }
    /// "127.0.0.1:40123".
    std::string host_and_port() const;
    std::string port() const;

    /// Every request received so far.
    std::vector<ReceivedRequest> requests();
    /// Blocks until `count` requests have arrived.
    void wait_for_requests(std::size_t count);
    /// Sends `reply` to the sender of the request that was last left
    /// unanswered; returns once it is handed to ZeroMQ.
    void send_late_reply(const Frame& reply);

private:
    void serve();

    Handler m_handler;
    zmq::context_t m_context;
    zmq::socket_t m_socket;
    std::string m_endpoint;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReceivedRequest> m_requests;
    std::optional<Frame> m_late_reply;
    bool m_late_reply_sent = false;
    zmq::message_t m_unanswered_identity;

    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace ipc_tools::test
