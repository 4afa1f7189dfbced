#include "vemla/vemla_client_impl.h"

#include "bass/data_wrappers/metadata_keys.h"
#include "common/logger.h"
#include "common/path_utils.h"
#include "common/state_formatter.h"
#include "ipc_tools/connection_info.h"
#include "vemla/read_validation.h"
#include "vemla/status_mapping.h"

#include <chrono>
#include <map>
#include <typeindex>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace vemla {

namespace {

using basecall_service::BasecallClient;
using bass::data_wrappers::Metadata;

const std::string STATE_PROVIDER_NAME = "VemlaClient";

// A finish time-out beyond a century means no practical limit; clamping it
// keeps any deadline the engine derives from it inside the clock's range.
constexpr uint64_t MAX_FINISH_TIMEOUT_S = uint64_t(100) * 365 * 24 * 3600;

// Sets `member` from `key` when the key holds a T; otherwise leaves it.
template <typename T>
void read_setting(const Metadata& params, const std::string& key, T& member) {
    T* value = nullptr;
    if (params.extract(key, value)) {
        member = *value;
    }
}

// The value type of every key set_params takes into a setting of its own.
const std::map<std::string, std::type_index>& setting_types() {
    static const std::map<std::string, std::type_index> types = {
            {"client_name", typeid(std::string)},
            {"query_timeout", typeid(uint32_t)},
            {"server_file_load_timeout", typeid(uint32_t)},
            {"pass_read_timeout", typeid(uint32_t)},
            {"connection_timeout", typeid(uint32_t)},
            {"reconnect_timeout", typeid(uint32_t)},
            {"max_message_size", typeid(uint64_t)},
            {"max_reads_queued", typeid(uint64_t)},
            {"barcode_kits", typeid(std::string)},
            {"align_ref", typeid(std::string)},
            {"bed_file", typeid(std::string)},
            {"align_type", typeid(std::string)},
            {"post_out", typeid(bool)},
            {client_options::move_and_trace_enabled::name, typeid(bool)},
    };
    return types;
}

// Why the parameters cannot be taken, or empty when every setting among
// them holds a value of its own type and a usable value.
std::string refusal_of(const Metadata& params) {
    const auto& types = setting_types();
    for (const auto& [key, type] : params.get_keys()) {
        const auto expected = types.find(key);
        if (expected != types.end() && expected->second != type) {
            return "the value of '" + key + "' is not of the type the setting takes";
        }
    }
    uint64_t* block_size = nullptr;
    if (params.extract("max_message_size", block_size) && *block_size == 0) {
        // A block of no samples could never carry a read.
        return "max_message_size must be at least 1";
    }
    return std::string();
}

}  // namespace

VemlaClientImpl::VemlaClientImpl(std::string address, std::string config)
    : m_address(std::move(address)), m_config_name(std::move(config)) {
    auto trace = create_trace("VemlaClientImpl");
    common::diagnostics::state::context::register_provider(this, STATE_PROVIDER_NAME);
}

VemlaClientImpl::~VemlaClientImpl() {
    // First of all, and without our lock: a report in progress may be inside
    // report_state, which takes it; withdrawing waits for that report. A
    // newer client's registration under the same name is left in place.
    common::diagnostics::state::context::unregister_provider(STATE_PROVIDER_NAME, this);
    auto trace = create_trace("~VemlaClientImpl");
    // The engine goes first, while every other member still exists: its
    // last notifications may reach a handler that calls back into us, which
    // then finds no engine rather than one being destroyed.
    std::shared_ptr<BasecallClient> engine;
    {
        std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
        engine = std::move(m_client);
    }
    engine.reset();
}

std::shared_ptr<BasecallClient> VemlaClientImpl::client() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    return m_client;
}

Result VemlaClientImpl::set_params(const Metadata& params) {
    auto trace = create_trace("set_params");
    try {
        for (const auto& key : params.get_keys()) {
            trace.message([&] { return key.first + ": " + params.get_as_string(key.first); });
        }
        if (!is_disconnected()) {
            return Result::already_connected;
        }
        // Every key is checked before any is taken: a refused call changes nothing.
        const std::string refusal = refusal_of(params);
        if (!refusal.empty()) {
            VEMLA_LOG_ERROR << "set_params refused: " << refusal;
            return Result::failed;
        }
        apply_settings(params);
        return Result::success;
    } catch (const std::exception& error) {
        VEMLA_LOG_ERROR << "set_params failed: " << error.what();
        return Result::failed;
    }
}

void VemlaClientImpl::apply_settings(const Metadata& params) {
    std::string client_name;
    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        read_setting(params, "client_name", m_client_name);
        read_setting(params, "query_timeout", m_timeout);
        read_setting(params, "server_file_load_timeout", m_server_file_load_timeout);
        read_setting(params, "pass_read_timeout", m_pass_read_timeout);
        read_setting(params, "connection_timeout", m_connection_timeout_ms);
        read_setting(params, "reconnect_timeout", m_reconnect_timeout);
        read_setting(params, "max_message_size", m_block_size);
        read_setting(params, "max_reads_queued", m_max_reads_queued);
        read_setting(params, "barcode_kits", m_barcode_kits);
        read_setting(params, "align_ref", m_align_index_file);
        read_setting(params, "bed_file", m_bed_file);
        read_setting(params, "align_type", m_align_type);
        read_setting(params, "post_out", m_enable_state_data);
        bool* move_and_trace = nullptr;
        if (params.extract(client_options::move_and_trace_enabled::name, move_and_trace)) {
            m_disable_events = !*move_and_trace;
        }
        m_params.merge(params);
        if (!m_barcode_kits.empty()) {
            m_params.insert("detect_barcodes", true);
        }
        client_name = m_client_name;
    }
    common::diagnostics::tracing::context().with_trace_file_unique_id(client_name).initialise();
}

Result VemlaClientImpl::set_state_change_handler(VemlaClient::StateChangeHandler handler) {
    if (!is_disconnected()) {
        return Result::already_connected;
    }
    {
        std::lock_guard<std::mutex> lock(m_state_change_handler->mutex);
        m_state_change_handler->handler = std::move(handler);
    }
    get_trace_context()->write_message("set_state_change_handler", "state change handler registered");
    return Result::success;
}

Result VemlaClientImpl::set_priority(Read::Priority priority) {
    if (!is_disconnected()) {
        return Result::already_connected;
    }
    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        m_priority = priority;
    }
    get_trace_context()->write_message("set_priority", std::to_string(static_cast<int32_t>(priority)));
    return Result::success;
}

Result VemlaClientImpl::set_callback_function(VemlaClient::CallbackFunction callback) {
    auto trace = create_trace("set_callback_function");
    if (!is_disconnected()) {
        return Result::already_connected;
    }
    std::lock_guard<std::mutex> lock(m_settings_mutex);
    m_callback = callback;
    return Result::success;
}

ConnectionStatus VemlaClientImpl::get_status() const {
    const auto engine = client();
    if (!engine) {
        return ConnectionStatus::disconnected;
    }
    return to_connection_status(engine->get_connection_state().get_status());
}

std::string VemlaClientImpl::get_error_message() const {
    const auto engine = client();
    if (!engine) {
        return std::string();
    }
    const auto snapshot = engine->get_connection_state().create_snapshot();
    if (snapshot->get_status() != basecall_service::ClientStatus::error) {
        return std::string();
    }
    return basecall_service::to_string(snapshot->get_error_state());
}

std::string VemlaClientImpl::get_internal_state() const {
    auto trace = create_trace("get_internal_state");
    return common::diagnostics::state::context::request_state(common::diagnostics::state::JsonFormatter());
}

Result VemlaClientImpl::connect() {
    auto trace = create_trace("connect");
    const ConnectionStatus status = get_status();
    if (status != ConnectionStatus::disconnected) {
        return status == ConnectionStatus::error ? Result::failed : Result::already_connected;
    }

    ipc_tools::ConnectionInfo info;
    std::string align_index_file;
    std::string bed_file;
    uint32_t reply_timeout_ms = 0;
    uint32_t server_file_load_timeout_s = 0;
    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        info.config = m_config_name;
        info.client_name = m_client_name;
        info.barcode_kits = m_barcode_kits;
        info.align_type = m_align_type;
        info.priority = static_cast<uint32_t>(m_priority);
        info.timeout_interval = m_connection_timeout_ms;
        align_index_file = m_align_index_file;
        bed_file = m_bed_file;
        reply_timeout_ms = m_timeout;
        server_file_load_timeout_s = m_server_file_load_timeout;
    }
    // A relative file name is resolved here, against our working directory;
    // one that names no file could never be loaded by the server.
    try {
        info.align_ref = common::make_canonical_path(align_index_file);
    } catch (const std::runtime_error& error) {
        VEMLA_LOG_ERROR << "Alignment index not found: " << error.what();
        return Result::align_index_unavailable;
    }
    try {
        info.bed_file = common::make_canonical_path(bed_file);
    } catch (const std::runtime_error& error) {
        VEMLA_LOG_ERROR << "BED file not found: " << error.what();
        return Result::bed_file_unavailable;
    }

    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        if (!align_index_file.empty()) {
            m_params.insert("align_ref", align_index_file);
        }
        if (!bed_file.empty()) {
            m_params.insert("bed_file", bed_file);
        }
        m_params.insert("barcode_kits", info.barcode_kits);
        m_params.insert("detect_barcodes", !info.barcode_kits.empty());
        info.params = m_params;
    }

    trace.message("connecting");
    const auto engine = create_client();
    engine->connect(m_address, reply_timeout_ms, server_file_load_timeout_s, std::move(info));
    const Result result = get_connect_result(engine);
    if (result == Result::success) {
        // From now on reads can be cut into blocks of the server's stride.
        m_model_stride = engine->get_basecalling_config().model_stride;
    }
    return result;
}

std::shared_ptr<BasecallClient> VemlaClientImpl::create_client() {
    std::shared_ptr<BasecallClient> engine;
    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        engine = std::make_shared<BasecallClient>(m_block_size, m_max_reads_queued, m_disable_events,
                                                  m_enable_state_data, m_callback);
        engine->set_reconnect_timeout(std::chrono::seconds(m_reconnect_timeout));
    }
    bool has_handler = false;
    {
        std::lock_guard<std::mutex> lock(m_state_change_handler->mutex);
        has_handler = static_cast<bool>(m_state_change_handler->handler);
    }
    if (has_handler) {
        engine->get_connection_state().register_change_handler(
                [slot = m_state_change_handler](
                        basecall_service::ClientStatus previous,
                        std::shared_ptr<basecall_service::ClientConnectionStateSnapshot> snapshot) {
                    const ConnectionStatus from = to_connection_status(previous);
                    const ConnectionStatus to = to_connection_status(snapshot->get_status());
                    std::string error_text = basecall_service::to_string(snapshot->get_error_state());
                    VemlaClient::StateChangeHandler handler;
                    {
                        std::lock_guard<std::mutex> lock(slot->mutex);
                        handler = slot->handler;
                    }
                    if (handler) {  // cleared since the engine was made: the change is dropped
                        handler(from, to, std::move(error_text));
                    }
                });
    }

    std::shared_ptr<BasecallClient> previous;
    {
        std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
        previous = std::exchange(m_client, engine);
        m_model_stride = 0;
    }
    // Outside the lock: destroying the previous engine joins its notifier,
    // whose handler may be calling back into this client (get_status).
    previous.reset();
    return engine;
}

Result VemlaClientImpl::get_connect_result(const std::shared_ptr<BasecallClient>& engine) const {
    if (!engine) {
        return Result::failed;
    }
    const auto snapshot = engine->get_connection_state().create_snapshot();
    switch (snapshot->get_status()) {
        case basecall_service::ClientStatus::disconnected: return Result::failed;
        case basecall_service::ClientStatus::error: return to_result(snapshot->get_error_state().code);
        default: return Result::success;
    }
}

PassReadResult VemlaClientImpl::pass_read(interfaces::ReadHolder& read, uint32_t timeout_ms) {
    const auto engine = client();
    if (!engine) {
        return PassReadResult::not_accepting_reads;
    }
    std::string error;
    if (!validate_read_impl(read, error)) {
        return PassReadResult::bad_read;
    }
    const uint64_t model_stride = m_model_stride;
    if (model_stride == 0) {  // connect has not yet told the server's stride: no block size
        return PassReadResult::not_accepting_reads;
    }
    Read::Priority priority = Read::MEDIUM_PRIORITY;
    uint32_t pass_read_timeout_ms = 0;
    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        priority = m_priority;
        pass_read_timeout_ms = m_pass_read_timeout;
    }

    Metadata& metadata = read.m_metadata;
    metadata.insert(read_data::strand_id::name, metadata.get<read_data::read_id>());
    metadata.insert(read_data::duration::name, read.m_datasets.at(dataset::raw_data).info.count);
    metadata.insert(basecall_data::model_stride::name, model_stride);
    read.m_priority = static_cast<interfaces::ReadPriority>(priority);

    const uint64_t read_tag = read.m_read_tag;
    try {
        const auto result = engine->pass_read(read, timeout_ms == 0 ? pass_read_timeout_ms : timeout_ms);
        if (result == basecall_service::PassReadResult::success) {
            // The contents moved on; the caller keeps the read's tag and priority.
            read.m_read_tag = read_tag;
            read.m_priority = static_cast<interfaces::ReadPriority>(priority);
        }
        return static_cast<PassReadResult>(static_cast<int32_t>(result));
    } catch (const std::invalid_argument&) {
        // A read tag the engine cannot take (too large, or already in
        // flight); the read is unchanged.
        return PassReadResult::bad_read;
    }
}

void VemlaClientImpl::get_completed_reads(std::list<std::list<Read>>& reads) {
    const auto engine = client();
    if (!engine) {
        return;
    }
    Read::Priority priority = Read::MEDIUM_PRIORITY;
    {
        std::lock_guard<std::mutex> lock(m_settings_mutex);
        priority = m_priority;
    }
    std::list<std::unique_ptr<interfaces::ReadHolder>> finished;
    engine->get_completed_reads(finished, static_cast<interfaces::ReadPriority>(priority));

    // One group per read tag, appended in the order each tag first came
    // back; a tag's later reads join its group in place (list elements
    // never move).
    std::unordered_map<uint64_t, std::list<Read>*> group_of_tag;
    for (auto& holder : finished) {
        Read read;
        read.set_readholder(*holder);
        std::list<Read>*& group = group_of_tag[read.get_read_tag()];
        if (group == nullptr) {
            group = &reads.emplace_back();
        }
        group->push_back(std::move(read));
    }
}

Result VemlaClientImpl::finish(uint64_t timeout_s) {
    auto trace = create_trace("finish");
    const auto engine = client();
    const ConnectionStatus status = get_status();
    if (!engine || status == ConnectionStatus::disconnected) {
        return Result::no_connection;
    }
    if (status == ConnectionStatus::error) {
        return Result::failed;
    }
    if (engine->finish_by(std::min(timeout_s, MAX_FINISH_TIMEOUT_S))) {
        return Result::success;
    }
    return get_status() == ConnectionStatus::disconnected ? Result::not_ready : Result::failed;
}

Result VemlaClientImpl::disconnect() {
    auto trace = create_trace("disconnect");
    const auto engine = client();
    if (!engine || get_status() == ConnectionStatus::disconnected) {
        return Result::no_connection;
    }
    engine->disconnect();
    return Result::success;
}

Result VemlaClientImpl::get_basecalling_config(Metadata& config) {
    const auto engine = client();
    if (!engine) {
        return Result::no_connection;
    }
    const auto details = engine->get_basecalling_config();
    config.insert("qscore_offset", details.qscore_offset);
    config.insert("qscore_scale", details.qscore_scale);
    config.insert("temp_weight", details.temp_weight);
    config.insert("temp_bias", details.temp_bias);
    config.insert("model_stride", details.model_stride);
    config.insert("label_length", details.label_length);
    config.insert("config_name", details.config_name);
    config.insert("model_type", details.model_type);
    config.insert("model_version_id", details.model_version_id);
    config.insert("beam_cut", details.beam_cut);
    config.insert("beam_width", details.beam_width);
    return Result::success;
}

Result VemlaClientImpl::get_alignment_sam_header(std::string& header) {
    const auto engine = client();
    if (!engine) {
        return Result::no_connection;
    }
    header = engine->get_alignment_sam_header();
    return Result::success;
}

void VemlaClientImpl::report_state(common::diagnostics::state::StateLogger& logger) const {
    logger.log("status", to_string(get_status()));
    std::unique_lock<std::mutex> settings_lock(m_settings_mutex);
    logger.log("priority", static_cast<long long>(m_priority));
    logger.log("m_connection_timeout_ms", m_connection_timeout_ms);
    logger.log("m_address", m_address);
    logger.log("m_config_name", m_config_name);
    logger.log("m_barcode_kits", m_barcode_kits);
    logger.log("m_align_index_file", m_align_index_file);
    logger.log("m_bed_file", m_bed_file);
    logger.log("m_timeout", m_timeout);
    logger.log("m_server_file_load_timeout", m_server_file_load_timeout);
    logger.log("m_block_size", m_block_size);
    logger.log("m_max_reads_queued", m_max_reads_queued);
    logger.log("m_disable_events", m_disable_events);
    logger.log("m_enable_state_data", m_enable_state_data);
    settings_lock.unlock();
    const auto section = logger.create_child_section("BasecallClient");
    const auto engine = client();
    if (engine) {
        engine->report_state(logger);
    } else {
        logger.log("client", "null");
    }
}

}  // namespace vemla
