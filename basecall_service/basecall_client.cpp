#include "basecall_service/basecall_client.h"

#include "common/contract.h"
#include "common/logger.h"
#include "common/thread_name.h"

namespace basecall_service {

namespace {

// Between two connection attempts, so that a server which refuses at once
// is not hammered; short next to the reconnect time-out.
constexpr auto RECONNECT_PAUSE = std::chrono::milliseconds(200);
constexpr auto FINISH_POLL_PERIOD = std::chrono::milliseconds(100);
constexpr float FINISH_POLLS_PER_SECOND = 10.0f;

}  // namespace

std::chrono::system_clock::time_point calculate_reconnect_timeout_time(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::system_clock::now() + timeout;
    common::diagnostics::tracing::TraceDomain<BasecallClient>::get_trace_context()->write_message(
            "calculate_reconnect_timeout_time", [deadline] {
                const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.time_since_epoch());
                return "retry until (ms): " + std::to_string(ms.count());
            });
    return deadline;
}

BasecallClient::BasecallClient(uint64_t block_size,
                               uint64_t max_input_queue_size,
                               bool disable_events,
                               bool pull_state_data,
                               ThreadInit thread_init)
    : m_connection_protocol(std::make_shared<ConnectionProtocol>(m_client_connection_state)),
      m_read_buffer(std::make_shared<ReadBuffer>()),
      m_read_processing_protocol(std::make_shared<ReadProcessingProtocol>()),
      m_thread_init(thread_init),
      m_max_input_queue_size(max_input_queue_size),
      m_block_size(block_size) {
    auto trace = create_trace("BasecallClient");
    m_read_processing_protocol->set_disable_events(disable_events);
    m_read_processing_protocol->set_pull_state_data(pull_state_data);
}

BasecallClient::~BasecallClient() {
    auto trace = create_trace("~BasecallClient");
    join_worker_thread();
}

void BasecallClient::set_reconnect_timeout(std::chrono::seconds timeout) {
    get_trace_context()->write_message("set_reconnect_timeout", std::to_string(timeout.count()));
    m_reconnect_timeout = timeout;
}

void BasecallClient::set_connection_protocol(std::shared_ptr<AbstractConnectionProtocol> protocol) {
    m_connection_protocol = std::move(protocol);
}

void BasecallClient::set_read_processing_protocol(std::shared_ptr<AbstractReadProcessingProtocol> protocol) {
    m_read_processing_protocol = std::move(protocol);
}

void BasecallClient::connect(std::string address,
                             uint32_t reply_timeout_ms,
                             uint32_t server_file_load_timeout_s,
                             ipc_tools::ConnectionInfo connection_info) {
    auto trace = create_trace("connect");
    common::contract::expects(m_worker_thread == nullptr, "A BasecallClient connects only once.");
    m_connection_info = std::move(connection_info);
    m_server_file_load_timeout = server_file_load_timeout_s;
    m_connection_protocol->set_connection_params(address, reply_timeout_ms);
    start_worker_thread();
    std::unique_lock<std::mutex> lock(m_connect_mutex);
    m_connect_cv.wait(lock, [this] { return m_connect_waiters == 0; });
}

std::shared_ptr<ReadBuffer> BasecallClient::create_read_buffer() {
    std::lock_guard<common::InstrumentedMutex> lock(m_read_buffer_mutex);
    m_read_buffer = std::make_shared<ReadBuffer>();
    m_read_buffer->set_block_size(m_block_size);
    m_read_buffer->set_max_input_queue_size(m_max_input_queue_size);
    return m_read_buffer;
}

void BasecallClient::start_worker_thread() {
    auto trace = create_trace("start_worker_thread");
    // Made before reads are accepted, so that no caller queues into the
    // default buffer the worker would replace.
    create_read_buffer();
    m_accept_data = true;
    m_worker_thread = std::make_unique<std::thread>([this] { worker_loop(m_thread_init); });
}

void BasecallClient::join_worker_thread() {
    auto trace = create_trace("join_worker_thread");
    m_accept_data = false;
    get_read_buffer()->set_no_more_data();
    m_read_processing_protocol->stop();
    m_connection_protocol->stop();
    {
        std::lock_guard<std::mutex> lock(m_stop_mutex);
        m_stop_requested = true;
    }
    m_stop_cv.notify_all();
    std::lock_guard<std::mutex> lock(m_join_mutex);
    if (m_worker_thread && m_worker_thread->joinable()) {
        m_worker_thread->join();
    }
}

bool BasecallClient::stop_requested() const {
    std::lock_guard<std::mutex> lock(m_stop_mutex);
    return m_stop_requested;
}

void BasecallClient::pause_before_reconnecting() {
    std::unique_lock<std::mutex> lock(m_stop_mutex);
    m_stop_cv.wait_for(lock, RECONNECT_PAUSE, [this] { return m_stop_requested; });
}

void BasecallClient::release_connect_waiters() {
    bool released = false;
    {
        std::lock_guard<std::mutex> lock(m_connect_mutex);
        if (m_connect_waiters > 0) {
            released = --m_connect_waiters == 0;
        }
    }
    if (released) {
        m_connect_cv.notify_all();
    }
}

void BasecallClient::worker_loop(ThreadInit thread_init) {
    bass::util::set_thread_name("client_worker");
    auto trace = create_trace("worker_loop");
    // However the worker ends: connect() returns and no caller waits for
    // queue space any longer.
    struct WorkerExit {
        BasecallClient& client;
        ~WorkerExit() {
            client.release_connect_waiters();
            client.get_read_buffer()->set_no_more_data();
        }
    } worker_exit{*this};

    const auto buffer = get_read_buffer();
    ErrorState error;
    bool last_attempt_connected = false;
    try {
        if (thread_init) {
            thread_init();
        }
        error = connect_and_pump(buffer, last_attempt_connected);
    } catch (const std::exception& failure) {
        // Whatever escaped (a broken invariant, memory exhaustion) ends the
        // connection as a failure, never as a worker that looks connected.
        error = {ConnectionError::failed, std::string("Client worker failed: ") + failure.what()};
    } catch (...) {
        error = {ConnectionError::failed, "Client worker failed: unknown exception"};
    }
    finish_worker(buffer, std::move(error), last_attempt_connected);
    trace.message(to_string(m_client_connection_state.get_error_state()));
}

ErrorState BasecallClient::connect_and_pump(const std::shared_ptr<ReadBuffer>& buffer, bool& last_attempt_connected) {
    auto trace = create_trace("connect_and_pump");
    ErrorState error;
    auto deadline = calculate_reconnect_timeout_time(m_reconnect_timeout);
    while (true) {
        RequestBrokerAdapter* adapter =
                m_connection_protocol->establish_server_connection(m_connection_info, m_server_file_load_timeout);
        last_attempt_connected = adapter != nullptr;
        if (adapter == nullptr) {
            error = m_connection_protocol->error_state();
        } else {
            const std::string connection_id = m_connection_protocol->get_connection_id();
            buffer->set_connection_id(connection_id);
            m_read_processing_protocol->set_connection_id(connection_id);
            trace.message("connected");
            release_connect_waiters();
            error = m_read_processing_protocol->process_reads(buffer.get(), adapter);
            trace.message(to_string(error));
            deadline = calculate_reconnect_timeout_time(m_reconnect_timeout);
        }
        if (error.code != ConnectionError::timed_out || std::chrono::system_clock::now() >= deadline ||
            stop_requested()) {
            return error;
        }
        pause_before_reconnecting();
        if (stop_requested()) {
            return error;
        }
    }
}

void BasecallClient::finish_worker(const std::shared_ptr<ReadBuffer>& buffer,
                                   ErrorState error,
                                   bool last_attempt_connected) {
    const bool timed_out = error.code == ConnectionError::timed_out;
    // An outage that a stop interrupted ends as any stop does.
    if (timed_out && stop_requested()) {
        error = ErrorState{};
    }
    m_accept_data = false;
    buffer->set_no_more_data();
    if (error.code != ConnectionError::no_error) {
        try {
            m_client_connection_state.set_error(error);
        } catch (const std::logic_error&) {
            // Refused from `disconnected` (the worker failed before its first
            // attempt): the error is recorded all the same.
        }
        VEMLA_LOG_ERROR << "Connection error. " << to_string(error);
    }
    if (last_attempt_connected && !timed_out) {
        m_connection_protocol->disconnect_from_server();
    }
    const ClientStatus status = m_client_connection_state.get_status();
    if (status != ClientStatus::error && status != ClientStatus::disconnected) {
        m_client_connection_state.set_status(ClientStatus::disconnected);
    }
}

PassReadResult BasecallClient::pass_read(interfaces::ReadHolder& read, uint64_t wait_ms) {
    auto trace = create_hftrace("pass_read");
    const auto refusing = [this] {
        return !m_accept_data || m_client_connection_state.get_status() == ClientStatus::error;
    };
    if (refusing()) {
        return PassReadResult::not_accepting_reads;
    }
    if (get_read_buffer()->queue_read(read, wait_ms)) {
        return PassReadResult::success;
    }
    return refusing() ? PassReadResult::not_accepting_reads : PassReadResult::queue_full;
}

void BasecallClient::get_completed_reads(std::list<std::unique_ptr<interfaces::ReadHolder>>& reads,
                                         interfaces::ReadPriority /*priority*/) {
    get_read_buffer()->get_reads_out(reads);
}

bool BasecallClient::finish_by(uint64_t timeout_s) {
    auto trace = create_trace("finish_by");
    m_accept_data = false;
    const auto buffer = get_read_buffer();
    // The time-out is counted in polls, as exact as the poll period.
    const float poll_limit = static_cast<float>(timeout_s) * FINISH_POLLS_PER_SECOND;
    uint64_t polls = 1;
    while (!buffer->all_reads_processed()) {
        const ClientStatus status = m_client_connection_state.get_status();
        if (status == ClientStatus::disconnected || status == ClientStatus::error) {
            break;
        }
        std::this_thread::sleep_for(FINISH_POLL_PERIOD);
        if (timeout_s > 0) {
            if (static_cast<float>(polls) > poll_limit) {
                break;
            }
            ++polls;
        }
    }
    join_worker_thread();
    return buffer->all_reads_processed() && buffer->num_lost_reads() == 0;
}

void BasecallClient::disconnect() {
    auto trace = create_trace("disconnect");
    join_worker_thread();
    m_client_connection_state.set_status_if(ClientStatus::error, ClientStatus::disconnected);
}

bool BasecallClient::connection_status_is_active() const {
    const ClientStatus status = m_client_connection_state.get_status();
    return status != ClientStatus::disconnected && status != ClientStatus::error;
}

ConfigDetails BasecallClient::get_basecalling_config() const {
    return m_connection_protocol->get_config_details();
}

std::string BasecallClient::get_alignment_sam_header() const {
    return m_connection_protocol->get_alignment_file_header();
}

std::shared_ptr<ReadBuffer> BasecallClient::get_read_buffer() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_read_buffer_mutex);
    return m_read_buffer;
}

void BasecallClient::report_state(common::diagnostics::state::StateLogger& logger) const {
    logger.log("m_client_connection_state", to_string(m_client_connection_state.get_status()));
    logger.log("m_accept_data", m_accept_data.load());
    const auto buffer = get_read_buffer();
    const auto section = logger.create_child_section("ReadBuffer");
    buffer->report_state(logger);
}

}  // namespace basecall_service
