#include "basecall_service/read_processing_protocol.h"

#include "common/contract.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace basecall_service {

namespace {

constexpr auto IDLE_PAUSE = std::chrono::milliseconds(1);

}  // namespace

ReadProcessingProtocol::ReadProcessingProtocol() {
    auto trace = create_trace("ReadProcessingProtocol");
}

ReadProcessingProtocol::~ReadProcessingProtocol() {
    auto trace = create_trace("~ReadProcessingProtocol");
}

void ReadProcessingProtocol::set_connection_id(std::string connection_id) {
    get_trace_context()->write_message("set_connection_id", connection_id);
    m_connection_id = std::move(connection_id);
}

void ReadProcessingProtocol::set_disable_events(bool disable_events) {
    get_trace_context()->write_message("set_disable_events", std::to_string(disable_events ? 1 : 0));
    m_disable_events = disable_events;
}

void ReadProcessingProtocol::set_pull_state_data(bool pull_state_data) {
    get_trace_context()->write_message("set_pull_state_data", std::to_string(pull_state_data ? 1 : 0));
    m_pull_state_data = pull_state_data;
}

void ReadProcessingProtocol::stop() {
    auto trace = create_trace("stop");
    std::lock_guard<common::InstrumentedMutex> lock(m_stop_mutex);
    m_stop = true;
}

bool ReadProcessingProtocol::keep_alive() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_stop_mutex);
    return !m_stop;
}

bool ReadProcessingProtocol::fail(ConnectionError code, const std::string& message, bool trace_it) {
    m_error_state = {code, message};
    if (trace_it) {
        get_trace_context()->write_message("pull_from_server", message);
    }
    return false;
}

ErrorState ReadProcessingProtocol::process_reads(ReadBuffer* read_buffer, RequestBrokerAdapter* adapter) {
    common::contract::expects(!m_connection_id.empty(), "process_reads requires valid connection id");
    common::contract::expects(adapter != nullptr, "process_reads requires valid request_broker");
    common::contract::expects(read_buffer != nullptr, "process_reads requires valid read_buffer");

    auto trace = create_trace("process_reads");
    m_read_buffer = read_buffer;
    m_error_state = ErrorState{};
    while (keep_alive()) {
        if (!adapter->ping_server_if_quiet(m_connection_id)) {
            m_error_state = adapter->error_state();
            break;
        }
        const bool queued = m_read_buffer->num_queued_reads() > 0;
        if (!queued && m_read_buffer->num_submitted_reads() == 0) {
            std::this_thread::sleep_for(IDLE_PAUSE);
            continue;
        }
        if (queued && !push_into_server(adapter)) {
            break;
        }
        if (m_read_buffer->num_submitted_reads() == 0) {
            continue;
        }
        if (!pull_from_server(adapter)) {
            break;
        }
    }
    trace.message(to_string(m_error_state));
    return m_error_state;
}

bool ReadProcessingProtocol::push_into_server(RequestBrokerAdapter* adapter) {
    auto trace = create_hftrace("push_into_server");
    auto& messages = m_read_buffer->next_read_messages();
    const auto* first = messages.empty() ? nullptr : messages.front().get_message_data();
    const auto* first_block = first ? first->content_as_ReadBlockData() : nullptr;
    const uint32_t read_tag = first_block ? first_block->read_tag() : 0;
    trace.message([read_tag] { return "read_tag: " + std::to_string(read_tag); });

    for (size_t k = 0; k < messages.size(); ++k) {
        // Every block goes to the server without a copy; sending uses the
        // message up, so a read the server did not take is built again from
        // its signal (here, or by the re-addressing of a reconnection).
        ipc_tools::Message reply;
        if (!adapter->send_request(messages[k], reply)) {
            m_error_state = adapter->error_state();
            return false;
        }
        if (reply.type == ipc_tools::MessageType::RAW_BLOCK_ACCEPTED) {
            continue;
        }
        if (reply.type == ipc_tools::MessageType::NOT_READY && k == 0) {
            m_read_buffer->rebuild_next_read_messages();
            return true;
        }
        if (reply.type == ipc_tools::MessageType::NOT_READY) {
            get_trace_context()->write_message("push_into_server", "Server rejected block: " + std::to_string(k));
            m_error_state = {ConnectionError::bad_reply,
                             "Server accepted first block of read, but then rejected subsequent block for read: " +
                                     std::to_string(read_tag)};
            return false;
        }
        m_error_state = {ConnectionError::invalid_response,
                         "Failed to push to server, invalid reply: " + ipc_tools::message_type_as_string(reply.type) +
                                 " from basecall server when passing raw read data for read: " +
                                 std::to_string(read_tag) + ". Connection id: " + m_connection_id};
        return false;
    }
    m_read_buffer->read_submitted();
    return true;
}

}  // namespace basecall_service
