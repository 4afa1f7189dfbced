#include "basecall_service/connection_protocol.h"

#include "common/logger.h"
#include "ipc_tools/wire_access.h"

#include <chrono>
#include <initializer_list>

namespace basecall_service {

using ipc_tools::Message;
using ipc_tools::MessageType;
using ipc_tools::message_type_as_string;

namespace {

constexpr auto LOAD_RETRY_PAUSE = std::chrono::milliseconds(500);

// The list content of a RETURN_CONFIGS reply; null when it carries none.
const vemla_ipc::ConfigListData* config_list_of(const Message& reply) {
    const auto* root = reply.get_message_data();
    return root ? root->content_as_ConfigListData() : nullptr;
}

}  // namespace

ConnectionProtocol::ConnectionProtocol(ClientConnectionState& connection_state) : m_connection_state(connection_state) {
    auto trace = create_trace("ConnectionProtocol");
}

void ConnectionProtocol::set_connection_params(const std::string& server_address, uint32_t reply_timeout_ms) {
    auto trace = create_trace("set_connection_params");
    m_server_address = server_address;
    m_reply_timeout_ms = reply_timeout_ms;
    trace.message("port: " + m_server_address);
    trace.message("timeout: " + std::to_string(m_reply_timeout_ms));
}

RequestBrokerAdapter* ConnectionProtocol::establish_server_connection(const ipc_tools::ConnectionInfo& connection_info,
                                                                      uint32_t server_file_load_timeout_s) {
    auto trace = create_trace("establish_server_connection");
    m_connection_info = connection_info;
    m_server_file_load_timeout_s = server_file_load_timeout_s;
    m_error_state = ErrorState{};
    VEMLA_LOG_INFO << "Connecting to server as '" << m_connection_info.client_name << "'";

    using Step = bool (ConnectionProtocol::*)();
    for (const Step step : {&ConnectionProtocol::prepare_connection, &ConnectionProtocol::load_config,
                            &ConnectionProtocol::load_alignment_index, &ConnectionProtocol::load_bed_file,
                            &ConnectionProtocol::connect}) {
        // A stop outranks whatever the interrupted step reported.
        if (stop_requested() || !(this->*step)()) {
            if (stop_requested()) {
                trace.message("stopped");
                m_error_state = ErrorState{};
            }
            return nullptr;
        }
    }
    m_connection_state.set_status(ClientStatus::connected);
    VEMLA_LOG_INFO << "Connected to server as '" << m_connection_info.client_name
                   << "'. Connection id: " << get_connection_id();
    return &m_transport;
}

ConfigDetails ConnectionProtocol::get_config_details() const {
    std::lock_guard<std::mutex> lock(m_server_details_mutex);
    return m_config_details;
}

std::string ConnectionProtocol::get_connection_id() const {
    std::lock_guard<std::mutex> lock(m_server_details_mutex);
    return m_connection_id;
}

std::string ConnectionProtocol::get_alignment_file_header() const {
    std::lock_guard<std::mutex> lock(m_server_details_mutex);
    return m_alignment_file_header;
}

void ConnectionProtocol::stop() {
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop_requested = true;
    }
    m_stop_condition.notify_all();
}

bool ConnectionProtocol::stop_requested() const {
    std::lock_guard<std::mutex> lock(m_stop_mutex);
    return m_stop_requested;
}

bool ConnectionProtocol::send_request(Message& request, Message& reply) {
    if (!m_transport.send_request(request, reply)) {
        m_error_state = m_transport.error_state();
        return false;
    }
    return true;
}

bool ConnectionProtocol::prepare_connection() {
    m_connection_state.set_status(ClientStatus::preparing_connection);
    if (!m_transport.prepare_connection(m_server_address, m_reply_timeout_ms)) {
        m_error_state = m_transport.error_state();
        return false;
    }
    return true;
}

bool ConnectionProtocol::load_config() {
    m_connection_state.set_status(ClientStatus::loading_config);
    const std::string config = m_connection_info.config;
    return load_file_on_server(MessageType::LOAD_CONFIG, config, m_server_file_load_timeout_s) &&
           retrieve_config_details(config);
}

bool ConnectionProtocol::load_alignment_index() {
    m_connection_state.set_status(ClientStatus::loading_alignment_index);
    const std::string index = m_connection_info.align_ref;
    if (index.empty()) {
        return true;
    }
    return load_file_on_server(MessageType::LOAD_INDEX, index, m_server_file_load_timeout_s) &&
           retrieve_alignment_file_header(index);
}

bool ConnectionProtocol::load_bed_file() {
    m_connection_state.set_status(ClientStatus::loading_bed_file);
    const std::string bed_file = m_connection_info.bed_file;
    if (bed_file.empty()) {
        return true;
    }
    return load_file_on_server(MessageType::LOAD_BED, bed_file, m_server_file_load_timeout_s);
}

bool ConnectionProtocol::load_file_on_server(MessageType type, const std::string& name, uint32_t timeout_s) {
    auto trace = create_trace("load_file_on_server");
    trace.message(name);
    // Full clock resolution: an unfinished attempt always counts as time
    // spent, so a time-out of 0 makes exactly one attempt.
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::milliseconds(uint64_t{timeout_s} * 1000);
    while (true) {
        if (try_load_on_server(type, name)) {
            return true;
        }
        if (m_error_state.code != ConnectionError::no_error) {
            return false;
        }
        if (std::chrono::steady_clock::now() - start > limit) {
            break;
        }
        std::unique_lock<std::mutex> lock(m_stop_mutex);
        if (m_stop_condition.wait_for(lock, LOAD_RETRY_PAUSE, [this] { return m_stop_requested; })) {
            return false;
        }
    }
    trace.message("timeout");
    m_error_state = {ConnectionError::file_load_timeout, "Server did not process load request '" +
                                                                 message_type_as_string(type) + "' for file " + name +
                                                                 "within the " + std::to_string(timeout_s) +
                                                                 "s timeout. Try increasing server_file_load_timeout"};
    return false;
}

bool ConnectionProtocol::try_load_on_server(MessageType type, const std::string& name) {
    auto trace = create_trace("try_load_on_server");
    Message request(type, "", 0, name);
    Message reply;
    if (!send_request(request, reply)) {
        return false;
    }
    const std::string reply_name = message_type_as_string(reply.type);
    trace.message(reply_name);
    switch (reply.type) {
        case MessageType::LOADING: return false;
        case MessageType::SUCCESS: return true;
        case MessageType::REQUEST_FAILED: {
            const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
            m_error_state =
                    create_load_request_error_state(type, content ? ipc_tools::wire::as_string(content->text()) : "");
            break;
        }
        default:
            m_error_state = {ConnectionError::invalid_response,
                             "Error. Load request '" + message_type_as_string(type) +
                                     "' received an invalid reply type: " + reply_name};
            break;
    }
    trace.message(to_string(m_error_state));
    return false;
}

bool ConnectionProtocol::retrieve_config_details(const std::string& config_name) {
    auto trace = create_trace("retrieve_config_details");
    trace.message(config_name);
    Message request(MessageType::GET_CONFIGS, "", 0, "");
    Message reply;
    if (!send_request(request, reply)) {
        return false;
    }
    if (reply.type != MessageType::RETURN_CONFIGS) {
        m_error_state = {ConnectionError::invalid_response, "Could not get details from server (invalid reply type). " +
                                                                    message_type_as_string(reply.type)};
        return false;
    }
    const auto* list = config_list_of(reply);
    for (const auto* entry : ipc_tools::wire::or_empty(list ? list->configs() : nullptr)) {
        if (!entry || !entry->name() || entry->name()->str() != config_name) {
            continue;
        }
        if (entry->model_stride() == 0) {
            // Reads are cut in model strides: a stride of 0 cannot be used.
            m_error_state = {ConnectionError::invalid_response,
                             "Server reported a model stride of 0 for config: " + config_name};
            return false;
        }
        ConfigDetails details;
        details.qscore_offset = entry->qscore_offset();
        details.qscore_scale = entry->qscore_scale();
        details.temp_weight = entry->temp_weight();
        details.temp_bias = entry->temp_bias();
        details.model_stride = entry->model_stride();
        details.label_length = entry->label_length();
        details.config_name = config_name;
        details.model_type = ipc_tools::wire::as_string(entry->model_type());
        details.model_version_id = ipc_tools::wire::as_string(entry->model_version_id());
        std::lock_guard<std::mutex> lock(m_server_details_mutex);
        m_config_details = std::move(details);
        return true;
    }
    m_error_state = {ConnectionError::basecall_config_unavailable,
                     "could not retrieve details for config from server: " + config_name};
    return false;
}

bool ConnectionProtocol::retrieve_alignment_file_header(const std::string& index_name) {
    auto trace = create_trace("retrieve_alignment_file_header");
    trace.message(index_name);
    Message request(MessageType::GET_INDICES, "", 0, "");
    Message reply;
    if (!send_request(request, reply)) {
        return false;
    }
    if (reply.type != MessageType::RETURN_CONFIGS) {
        m_error_state = {ConnectionError::invalid_response,
                         "Could not get alignment indices from server (invalid reply type). " +
                                 message_type_as_string(reply.type)};
        return false;
    }
    const auto* list = config_list_of(reply);
    for (const auto* entry : ipc_tools::wire::or_empty(list ? list->indices() : nullptr)) {
        if (entry && entry->name() && entry->name()->str() == index_name) {
            std::string header = ipc_tools::wire::as_string(entry->header());
            std::lock_guard<std::mutex> lock(m_server_details_mutex);
            m_alignment_file_header = std::move(header);
            return true;
        }
    }
    m_error_state = {ConnectionError::align_index_unavailable,
                     "Could not retrieve alignment file header for: " + index_name};
    return false;
}

bool ConnectionProtocol::connect() {
    auto trace = create_trace("connect");
    m_connection_state.set_status(ClientStatus::connecting);
    std::string connection_string;
    try {
        connection_string = m_connection_info.build_connection_string();
    } catch (const std::exception& error) {
        // A path that cannot be resolved, or a value the connection string
        // cannot carry: this attempt, and every retry, would fail the same way.
        m_error_state = {ConnectionError::failed, error.what()};
        return false;
    }
    trace.message("config string: " + connection_string);

    Message request(MessageType::CONNECT, "", ipc_tools::connect_priority_code(m_connection_info.priority),
                    connection_string);
    Message reply;
    if (!send_request(request, reply)) {
        return false;
    }
    if (reply.type != MessageType::CONNECTED) {
        m_error_state = create_connect_error_state(reply.type, m_connection_info);
        return false;
    }
    const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
    std::string connection_id = content ? ipc_tools::wire::as_string(content->text()) : std::string();
    if (connection_id.empty()) {
        // Every later request names the connection by this id.
        m_error_state = {ConnectionError::invalid_response,
                         "Could not register on server (the reply carries no connection id)."};
        return false;
    }
    trace.message("Connected. id: " + connection_id);
    std::lock_guard<std::mutex> lock(m_server_details_mutex);
    m_connection_id = std::move(connection_id);
    return true;
}

void ConnectionProtocol::disconnect_from_server() const {
    auto trace = create_trace("disconnect_from_server");
    const std::string connection_id = get_connection_id();
    trace.message("sending DISCONNECT with ID: " + connection_id);
    Message request(MessageType::DISCONNECT, connection_id, 0, "");
    Message reply;
    if (!m_transport.send_request(request, reply)) {
        const std::string failure = to_string(m_transport.error_state());
        trace.message(failure);
        VEMLA_LOG_WARNING << "Error disconnecting from server: " << failure;
        return;
    }
    const std::string reply_name = message_type_as_string(reply.type);
    trace.message("reply type: " + reply_name);
    if (reply.type != MessageType::DISCONNECTED) {
        VEMLA_LOG_INFO << "Could not disconnect from basecall server, invalid reply: " << reply_name;
    }
}

ErrorState create_load_request_error_state(MessageType request_type, const std::string& reason) {
    switch (request_type) {
        case MessageType::LOAD_CONFIG: return {ConnectionError::basecall_config_unavailable, reason};
        case MessageType::LOAD_INDEX: return {ConnectionError::align_index_unavailable, reason};
        case MessageType::LOAD_BED: return {ConnectionError::bed_file_unavailable, reason};
        default: return {ConnectionError::failed, reason};
    }
}

ErrorState create_connect_error_state(MessageType reply_type, const ipc_tools::ConnectionInfo& connection_info) {
    const auto refusal = [](ConnectionError code, const std::string& reason, const std::string& name) {
        return ErrorState{code,
                          "Could not register on server (connection refused due to " + reason + " \"" + name + "\")."};
    };
    switch (reply_type) {
        case MessageType::INVALID_CONFIG:
            return refusal(ConnectionError::basecall_config_unavailable, "unsupported basecall config",
                           connection_info.config);
        case MessageType::INVALID_BARCODE_KIT:
            return refusal(ConnectionError::barcode_kit_unavailable, "unsupported barcoding kit",
                           connection_info.barcode_kits);
        case MessageType::INVALID_INDEX:
            return refusal(ConnectionError::align_index_unavailable, "unsupported alignment index",
                           connection_info.align_ref);
        case MessageType::INVALID_BED:
            return refusal(ConnectionError::bed_file_unavailable, "unsupported bed file", connection_info.bed_file);
        case MessageType::INDEX_NO_SEQ:
            return refusal(ConnectionError::align_index_no_seq, "full alignment not being supported by alignment index",
                           connection_info.align_ref);
        default: return {ConnectionError::invalid_response, "Could not register on server (invalid response)."};
    }
}

}  // namespace basecall_service
