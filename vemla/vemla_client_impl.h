#pragma once

// What stands behind vemla::VemlaClient: the client's settings, the engine of
// its current connection, and its report to the process-wide state JSON.

#include "basecall_service/basecall_client.h"
#include "bass/data_wrappers/metadata.h"
#include "common/instrumented_mutex.h"
#include "common/state_context.h"
#include "common/trace.h"
#include "interfaces/read_holder.h"
#include "vemla/read.h"
#include "vemla/results.h"
#include "vemla/vemla_client.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace vemla {

class VemlaClientImpl final : public common::diagnostics::tracing::TraceDomainHelper<VemlaClientImpl>,
                              public common::diagnostics::state::StateProvider {
public:
    VemlaClientImpl(std::string address, std::string config);
    ~VemlaClientImpl();
    VemlaClientImpl(const VemlaClientImpl&) = delete;
    VemlaClientImpl& operator=(const VemlaClientImpl&) = delete;

    Result set_params(const bass::data_wrappers::Metadata& params);
    Result set_state_change_handler(VemlaClient::StateChangeHandler handler);
    Result set_priority(Read::Priority priority);
    Result set_callback_function(VemlaClient::CallbackFunction callback);

    ConnectionStatus get_status() const;
    std::string get_error_message() const;
    std::string get_internal_state() const;

    Result connect();
    PassReadResult pass_read(interfaces::ReadHolder& read, uint32_t timeout_ms);
    void get_completed_reads(std::list<std::list<Read>>& reads);
    Result finish(uint64_t timeout_s);
    Result disconnect();

    Result get_basecalling_config(bass::data_wrappers::Metadata& config);
    Result get_alignment_sam_header(std::string& header);

    void report_state(common::diagnostics::state::StateLogger& logger) const override;

private:
    // The handler, shared with the function registered on every engine: an
    // engine that outlives a change of handler (or this client) still finds
    // a valid, possibly empty, slot.
    struct HandlerSlot {
        std::mutex mutex;
        VemlaClient::StateChangeHandler handler;
    };

    std::shared_ptr<basecall_service::BasecallClient> client() const;
    // Takes settings already checked by set_params.
    void apply_settings(const bass::data_wrappers::Metadata& params);
    std::shared_ptr<basecall_service::BasecallClient> create_client();
    Result get_connect_result(const std::shared_ptr<basecall_service::BasecallClient>& client) const;
    bool is_disconnected() const { return get_status() == ConnectionStatus::disconnected; }

    mutable common::InstrumentedMutex m_mutex;  // guards m_client only
    // Guards the settings below (m_priority to m_callback, and m_params):
    // set while disconnected, yet read by the state report at any time.
    mutable std::mutex m_settings_mutex;
    Read::Priority m_priority = Read::MEDIUM_PRIORITY;
    uint32_t m_connection_timeout_ms = 15000;
    std::string m_address;
    std::string m_config_name;
    std::string m_barcode_kits;
    std::string m_align_index_file;
    std::string m_bed_file;
    std::string m_align_type = "auto";
    std::string m_client_name;
    uint32_t m_timeout = 2000;                  // ms, each request to the server
    uint32_t m_server_file_load_timeout = 180;  // s, each file the server loads
    uint32_t m_pass_read_timeout = 0;           // ms
    uint32_t m_reconnect_timeout = 300;         // s
    uint64_t m_block_size = 50000;              // model strides per block
    uint64_t m_max_reads_queued = 20;
    bool m_disable_events = true;
    bool m_enable_state_data = false;
    VemlaClient::CallbackFunction m_callback = nullptr;
    std::shared_ptr<HandlerSlot> m_state_change_handler = std::make_shared<HandlerSlot>();
    std::shared_ptr<basecall_service::BasecallClient> m_client;
    bass::data_wrappers::Metadata m_params;
    // The model stride of the current engine's configuration, known once its
    // connect succeeded; 0 before (reads are refused until then).
    std::atomic<uint64_t> m_model_stride{0};
};

}  // namespace vemla
