#include "test_server/test_server.h"

#include "test_server/wire_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>

namespace test_server {

namespace {

constexpr std::chrono::milliseconds idle_poll{20};

void spoil(Bytes& reply, Fault fault) {
    switch (fault) {
        case Fault::short_frame: reply.resize(7); break;
        case Fault::foreign_identifier: std::memcpy(reply.data() + 4, "XXXX", 4); break;
        case Fault::corrupt_body: {
            // The identifier stays valid; the root offset points far outside.
            const uint32_t offset = 0xFFFFFF00u;
            std::memcpy(reply.data(), &offset, sizeof offset);
            break;
        }
        default: break;
    }
}

}  // namespace

TestServer::TestServer(ServerSettings settings)
    : m_context(1), m_reply_latency_ms(settings.reply_latency_ms), m_logic(std::move(settings)) {}

TestServer::~TestServer() {
    stop();
}

std::string TestServer::bind_socket(const std::string& address) {
    auto socket = std::make_unique<zmq::socket_t>(m_context, zmq::socket_type::router);
    socket->set(zmq::sockopt::linger, 0);
    socket->bind(address);
    std::string endpoint = socket->get(zmq::sockopt::last_endpoint);
    m_socket = std::move(socket);
    return endpoint;
}

std::string TestServer::start(const std::string& bind_address) {
    if (m_thread.joinable()) {
        return m_endpoint;
    }
    m_endpoint = bind_socket(bind_address);
    m_stop = false;
    m_thread = std::thread([this] { serve(); });
    return m_endpoint;
}

void TestServer::stop() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_socket.reset();
    m_scheduled.clear();
}

void TestServer::restart(std::chrono::milliseconds downtime) {
    m_restart_downtime_ms = std::max<int64_t>(0, downtime.count());
}

nlohmann::ordered_json TestServer::report() const {
    std::lock_guard<std::mutex> lock(m_logic_mutex);
    auto report = m_logic.report();
    report["ServerInformation"]["restarts"] = m_restarts.load();
    return report;
}

uint64_t TestServer::requests_seen(RequestKind kind) const {
    std::lock_guard<std::mutex> lock(m_logic_mutex);
    return m_logic.requests_seen(kind);
}

void TestServer::serve() {
    while (!m_stop && m_socket) {
        const int64_t downtime = m_restart_downtime_ms.exchange(-1);
        if (downtime >= 0) {
            go_down_and_return(std::chrono::milliseconds(downtime));
            continue;
        }
        auto timeout = idle_poll;
        const auto now = Clock::now();
        for (const auto& reply : m_scheduled) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(reply.due - now);
            timeout = std::max(std::chrono::milliseconds(0), std::min(timeout, wait));
        }
        zmq::pollitem_t item{m_socket->handle(), 0, ZMQ_POLLIN, 0};
        zmq::poll(&item, 1, timeout);
        if (item.revents & ZMQ_POLLIN) {
            receive_all();
        }
        send_due(Clock::now());
    }
}

void TestServer::receive_all() {
    while (m_socket && !m_stop) {
        std::vector<zmq::message_t> frames;
        zmq::message_t frame;
        if (!m_socket->recv(frame, zmq::recv_flags::dontwait)) {
            return;
        }
        bool more = frame.more();
        frames.push_back(std::move(frame));
        while (more) {
            zmq::message_t part;
            (void)m_socket->recv(part, zmq::recv_flags::none);
            more = part.more();
            frames.push_back(std::move(part));
        }
        if (frames.size() >= 2) {
            answer(std::move(frames));
        }
    }
}

void TestServer::answer(std::vector<zmq::message_t> frames) {
    // The envelope is the identity up to and including the empty delimiter
    // (a REQ peer); a peer without delimiter has the identity alone.
    size_t body_begin = 1;
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i].size() == 0) {
            body_begin = i + 1;
            break;
        }
    }
    const size_t body_parts = frames.size() - body_begin;
    if (body_parts != 1) {
        // A request is one frame: answering only one part of it would echo
        // the rest back to the peer as part of the envelope.
        frames.resize(body_begin);
        DecodedRequest unreadable;
        unreadable.error = "a request is one frame, received " + std::to_string(body_parts);
        Bytes reply;
        {
            std::lock_guard<std::mutex> lock(m_logic_mutex);
            reply = m_logic.handle(std::move(unreadable), ContentFaults{}, Clock::now());
        }
        send_reply(frames, reply);
        return;
    }
    zmq::message_t body = std::move(frames.back());
    frames.pop_back();
    // ZeroMQ may hand over a slice of its receive buffer at any address;
    // FlatBuffers reads its scalars in place, so align the frame first.
    const auto* data = static_cast<const uint8_t*>(body.data());
    std::vector<uint64_t> aligned;
    if (reinterpret_cast<uintptr_t>(data) % alignof(uint64_t) != 0) {
        aligned.resize((body.size() + sizeof(uint64_t) - 1) / sizeof(uint64_t));
        std::memcpy(aligned.data(), data, body.size());
        data = reinterpret_cast<const uint8_t*>(aligned.data());
    }
    auto request = decode_request(data, body.size());
    const auto fired = m_faults.take(request.kind);

    ContentFaults content;
    std::vector<Fault> transport;
    uint32_t delay_ms = m_reply_latency_ms;
    for (const auto& rule : fired) {
        switch (rule.fault) {
            case Fault::die_and_return:
                go_down_and_return(std::chrono::milliseconds(rule.delay_ms));
                return;  // the request dies with the socket
            case Fault::forget_clients: {
                std::lock_guard<std::mutex> lock(m_logic_mutex);
                m_logic.forget_clients();
                break;
            }
            case Fault::bad_request: content.bad_request = true; break;
            case Fault::not_ready: content.not_ready = true; break;
            case Fault::lose_reads: content.lose_reads = true; break;
            case Fault::report_lost_reads: content.report_lost_reads = true; break;
            case Fault::inconsistent_called_data: content.inconsistent_called_data = true; break;
            case Fault::absent_optional_vectors: content.absent_optional_vectors = true; break;
            case Fault::empty_extra_block: content.empty_extra_block = true; break;
            case Fault::late_return: content.late_return = true; break;
            case Fault::claim_many_blocks: content.claim_many_blocks = true; break;
            case Fault::reply_with: content.reply_with = rule.reply; break;
            case Fault::delay_reply: delay_ms += rule.delay_ms; break;
            default: transport.push_back(rule.fault); break;
        }
    }

    Bytes reply;
    try {
        std::lock_guard<std::mutex> lock(m_logic_mutex);
        reply = m_logic.handle(std::move(request), content, Clock::now());
    } catch (const std::exception& error) {
        // Whatever a peer sends, the server stays up and says why it refused.
        reply = build_simple_reply(ReplyKind::bad_request, 0, std::string("server error: ") + error.what());
    }
    for (const Fault fault : transport) {
        if (fault == Fault::drop_reply) {
            return;
        }
        spoil(reply, fault);
    }
    if (delay_ms == 0) {
        send_reply(frames, reply);
        return;
    }
    m_scheduled.push_back({Clock::now() + std::chrono::milliseconds(delay_ms), std::move(frames), std::move(reply)});
}

void TestServer::send_due(Clock::time_point now) {
    // Due replies go out in the order they fell due.
    std::stable_sort(m_scheduled.begin(), m_scheduled.end(),
                     [](const ScheduledReply& a, const ScheduledReply& b) { return a.due < b.due; });
    size_t sent = 0;
    while (sent < m_scheduled.size() && m_scheduled[sent].due <= now) {
        send_reply(m_scheduled[sent].envelope, m_scheduled[sent].body);
        ++sent;
    }
    m_scheduled.erase(m_scheduled.begin(), m_scheduled.begin() + static_cast<std::ptrdiff_t>(sent));
}

void TestServer::send_reply(std::vector<zmq::message_t>& envelope, const Bytes& body) {
    // A client that went away is no error: ROUTER drops what it cannot route.
    for (auto& frame : envelope) {
        m_socket->send(frame, zmq::send_flags::sndmore);
    }
    m_socket->send(zmq::buffer(body.data(), body.size()), zmq::send_flags::none);
}

void TestServer::go_down_and_return(std::chrono::milliseconds downtime) {
    m_socket.reset();
    m_scheduled.clear();
    {
        std::lock_guard<std::mutex> lock(m_logic_mutex);
        m_logic.restart();
    }
    ++m_restarts;
    const auto back_at = Clock::now() + downtime;
    while (!m_stop && Clock::now() < back_at) {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(idle_poll, downtime));
    }
    // The port may take a moment to be free again.
    const std::string address = m_endpoint;
    for (int attempt = 0; !m_stop; ++attempt) {
        try {
            (void)bind_socket(address);  // the endpoint is unchanged: other threads may read it
            return;
        } catch (const zmq::error_t& error) {
            if (attempt >= 250) {
                std::cerr << "vemla_test_server: cannot bind " << address << " again: " << error.what() << "\n";
                m_stop = true;
                return;
            }
            std::this_thread::sleep_for(idle_poll);
        }
    }
}

}  // namespace test_server
