#pragma once

#include "basecall_service/client_connection_state.h"
#include "basecall_service/request_broker_adapter.h"
#include "common/trace.h"
#include "ipc_tools/connection_info.h"
#include "ipc_tools/message_type.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace basecall_service {

/// What the server says of the loaded basecall config.
struct ConfigDetails {
    float qscore_offset = 0.0f;
    float qscore_scale = 1.0f;
    float temp_weight = 0.0f;
    float temp_bias = 0.0f;
    uint64_t model_stride = 1;
    uint64_t label_length = 1;
    std::string config_name;
    std::string model_type;
    std::string model_version_id;
    float beam_cut = 100.0f;
    uint64_t beam_width = 40;
};

/// The connect strategy the client worker drives. Every call but `stop`
/// comes from the worker thread.
class AbstractConnectionProtocol {
public:
    virtual ~AbstractConnectionProtocol() = default;

    virtual void set_connection_params(const std::string& server_address, uint32_t reply_timeout_ms) = 0;
    /// Loads the server's files and registers; the transport to use for the
    /// rest of the connection, or null on failure (see `error_state`).
    virtual RequestBrokerAdapter* establish_server_connection(const ipc_tools::ConnectionInfo& connection_info,
                                                              uint32_t server_file_load_timeout_s) = 0;
    /// The details, id and header are read by API threads while a reconnect
    /// on the worker may store them again: each is handed out as a copy.
    virtual ConfigDetails get_config_details() const = 0;
    virtual std::string get_connection_id() const = 0;
    virtual std::string get_alignment_file_header() const = 0;
    virtual const ErrorState& error_state() const = 0;
    virtual void disconnect_from_server() const = 0;

    /// Asks a connect in progress on the worker to give up; safe from any
    /// thread. From then on every connect returns null with a cleared error
    /// state: a requested stop is no failure. A strategy whose connect cannot
    /// wait long may ignore it.
    virtual void stop() {}
};

/// The load-and-register sequence: config, alignment index, BED file, then
/// CONNECT. Reports its progress through the client's connection state and
/// keeps what the server told it on the way.
class ConnectionProtocol : public AbstractConnectionProtocol,
                           private common::diagnostics::tracing::TraceDomain<ConnectionProtocol> {
public:
    explicit ConnectionProtocol(ClientConnectionState& connection_state);

    ConnectionProtocol(const ConnectionProtocol&) = delete;
    ConnectionProtocol& operator=(const ConnectionProtocol&) = delete;

    void set_connection_params(const std::string& server_address, uint32_t reply_timeout_ms) override;
    RequestBrokerAdapter* establish_server_connection(const ipc_tools::ConnectionInfo& connection_info,
                                                      uint32_t server_file_load_timeout_s) override;
    ConfigDetails get_config_details() const override;
    std::string get_connection_id() const override;
    std::string get_alignment_file_header() const override;
    const ErrorState& error_state() const override { return m_error_state; }
    /// Says goodbye to the server; failures are only logged.
    void disconnect_from_server() const override;
    /// Ends a load wait within one pause.
    void stop() override;

    // The steps of the sequence, in order; each tells whether to go on.
    bool prepare_connection();
    bool load_config();
    bool load_alignment_index();
    bool load_bed_file();
    bool connect();

    /// Asks the server to load a file, again every 500 ms while it answers
    /// LOADING, until `timeout_s` has passed.
    bool load_file_on_server(ipc_tools::MessageType type, const std::string& name, uint32_t timeout_s);
    /// One load request: true on SUCCESS; false with a cleared error state
    /// on LOADING.
    bool try_load_on_server(ipc_tools::MessageType type, const std::string& name);
    bool retrieve_config_details(const std::string& config_name);
    bool retrieve_alignment_file_header(const std::string& index_name);

private:
    bool send_request(ipc_tools::Message& request, ipc_tools::Message& reply);
    bool stop_requested() const;

    ClientConnectionState& m_connection_state;
    ErrorState m_error_state;
    // Sending is no change of what the protocol knows, so a const goodbye
    // may use it.
    mutable RequestBrokerAdapter m_transport;
    std::string m_server_address;
    uint32_t m_reply_timeout_ms = 0;
    ipc_tools::ConnectionInfo m_connection_info;
    uint32_t m_server_file_load_timeout_s = 0;

    // What the server told us: read by other threads while a reconnect
    // writes it, so only ever touched under this lock.
    mutable std::mutex m_server_details_mutex;
    ConfigDetails m_config_details;
    std::string m_connection_id;
    std::string m_alignment_file_header;

    mutable std::mutex m_stop_mutex;
    std::condition_variable m_stop_condition;
    bool m_stop_requested = false;
};

/// Error state of a refused load: the code by the request's kind, the
/// server's reason as the message.
ErrorState create_load_request_error_state(ipc_tools::MessageType request_type, const std::string& reason);

/// Error state of a CONNECT answered with anything but CONNECTED.
ErrorState create_connect_error_state(ipc_tools::MessageType reply_type,
                                      const ipc_tools::ConnectionInfo& connection_info);

}  // namespace basecall_service
