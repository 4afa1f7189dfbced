#include "scripted_peer.h"

#include "ipc_tools/wire_access.h"

namespace ipc_tools::test {

Frame simple_reply(MessageType type, uint32_t value, const std::string& text) {
    const Message message(type, "", value, text);
    return Frame(message.data(), message.data() + message.size());
}

ScriptedPeer::ScriptedPeer(Handler handler, const std::string& endpoint)
    : m_handler(std::move(handler)), m_context(1), m_socket(m_context, zmq::socket_type::router) {
    m_socket.set(zmq::sockopt::linger, 0);
    m_socket.bind(endpoint);
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
    m_thread = std::thread([this] { serve(); });
}

ScriptedPeer::~ScriptedPeer() {
    m_stop = true;
    m_thread.join();
    m_socket.close();
}

std::string ScriptedPeer::host_and_port() const {
    return m_endpoint.substr(std::string("tcp://").size());
}

std::string ScriptedPeer::port() const {
    return m_endpoint.substr(m_endpoint.rfind(':') + 1);
}

std::vector<ReceivedRequest> ScriptedPeer::requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void ScriptedPeer::wait_for_requests(std::size_t count) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_requests.size() >= count; });
}

void ScriptedPeer::send_late_reply(const Frame& reply) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_late_reply = reply;
    m_late_reply_sent = false;
    m_changed.wait(lock, [&] { return m_late_reply_sent; });
}

void ScriptedPeer::serve() {
    while (!m_stop) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_late_reply) {
                m_socket.send(m_unanswered_identity, zmq::send_flags::sndmore);
                m_socket.send(zmq::message_t(), zmq::send_flags::sndmore);
                m_socket.send(zmq::buffer(*m_late_reply), zmq::send_flags::none);
                m_late_reply.reset();
                m_late_reply_sent = true;
                m_changed.notify_all();
            }
        }

        zmq::pollitem_t item{m_socket.handle(), 0, ZMQ_POLLIN, 0};
        if (zmq::poll(&item, 1, std::chrono::milliseconds(10)) == 0) {
            continue;
        }
        // ROUTER in front of a REQ peer: identity, empty delimiter, body.
        std::vector<zmq::message_t> parts;
        do {
            parts.emplace_back();
            (void)m_socket.recv(parts.back());
        } while (parts.back().more());
        if (parts.size() != 3) {
            continue;
        }

        ReceivedRequest request;
        Message message(parts[2]);
        request.type = message.type;
        if (!message.empty()) {
            const auto* root = message.get_message_data();
            request.client_id = wire::as_string(root->client_id());
            if (const auto* simple = root->content_as_SimpleRequestData()) {
                request.value = simple->value();
                request.text = wire::as_string(simple->text());
            }
        }

        const auto replies = m_handler(request);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            if (!replies) {
                m_unanswered_identity.copy(parts[0]);
            }
        }
        m_changed.notify_all();
        if (!replies) {
            continue;
        }
        m_socket.send(parts[0], zmq::send_flags::sndmore);
        m_socket.send(zmq::message_t(), zmq::send_flags::sndmore);
        for (std::size_t i = 0; i < replies->size(); ++i) {
            const bool last = i + 1 == replies->size();
            m_socket.send(zmq::buffer((*replies)[i]), last ? zmq::send_flags::none : zmq::send_flags::sndmore);
        }
    }
}

}  // namespace ipc_tools::test
