#pragma once

#include "basecall_service/client_connection_state.h"
#include "basecall_service/connection_protocol.h"
#include "basecall_service/pass_read_result.h"
#include "basecall_service/read_buffer.h"
#include "basecall_service/read_processing_protocol.h"
#include "common/instrumented_mutex.h"
#include "common/state_context.h"
#include "common/trace.h"
#include "interfaces/read_holder.h"
#include "ipc_tools/connection_info.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace basecall_service {

/// Deadline for reconnecting: now plus `timeout`.
std::chrono::system_clock::time_point calculate_reconnect_timeout_time(std::chrono::seconds timeout);

/// The client engine behind one connected API client. Its worker thread
/// "client_worker" connects, pumps reads, and reconnects after time-outs
/// until the reconnect deadline; every read handed in comes back through
/// `get_completed_reads`, or `finish_by` reports that some did not.
///
/// An engine is connected once; the API makes a new one for the next
/// connection. Any thread may call it; `finish_by`, `disconnect` and the
/// destructor stop the worker, which ends within one connection attempt.
class BasecallClient : private common::diagnostics::tracing::TraceDomain<BasecallClient>,
                       public common::diagnostics::state::StateProvider {
public:
    using ThreadInit = void (*)();

    BasecallClient(uint64_t block_size,
                   uint64_t max_input_queue_size,
                   bool disable_events,
                   bool pull_state_data,
                   ThreadInit thread_init);
    virtual ~BasecallClient();
    BasecallClient(const BasecallClient&) = delete;
    BasecallClient& operator=(const BasecallClient&) = delete;

    /// Before `connect` only.
    void set_reconnect_timeout(std::chrono::seconds timeout);
    void set_connection_protocol(std::shared_ptr<AbstractConnectionProtocol> protocol);
    void set_read_processing_protocol(std::shared_ptr<AbstractReadProcessingProtocol> protocol);

    /// Starts the worker and returns once its first connection attempt has
    /// an outcome: the status is then `connected`, `error` or `disconnected`.
    void connect(std::string address,
                 uint32_t reply_timeout_ms,
                 uint32_t server_file_load_timeout_s,
                 ipc_tools::ConnectionInfo connection_info);

    /// Hands the read to the engine, waiting up to `wait_ms` for queue space.
    /// The read's input faults throw (see ReadBuffer::queue_read) and leave
    /// it with the caller.
    PassReadResult pass_read(interfaces::ReadHolder& read, uint64_t wait_ms);
    /// Appends every finished read; the priority does not matter.
    void get_completed_reads(std::list<std::unique_ptr<interfaces::ReadHolder>>& reads,
                             interfaces::ReadPriority priority);
    /// Takes no more reads, waits (0: without limit) until every read is back
    /// or the connection has ended, then stops the worker. True only when
    /// every read came back (none lost, none left over).
    bool finish_by(uint64_t timeout_s);
    /// Stops the worker; an engine in `error` ends `disconnected`.
    void disconnect();

    ClientConnectionState& get_connection_state() { return m_client_connection_state; }
    const ClientConnectionState& get_connection_state() const { return m_client_connection_state; }
    bool connection_status_is_active() const;
    ConfigDetails get_basecalling_config() const;
    std::string get_alignment_sam_header() const;
    std::shared_ptr<ReadBuffer> get_read_buffer() const;

    void report_state(common::diagnostics::state::StateLogger& logger) const override;

private:
    std::shared_ptr<ReadBuffer> create_read_buffer();
    void start_worker_thread();
    void join_worker_thread();
    void worker_loop(ThreadInit thread_init);
    /// Connection attempts until one ends in anything but a time-out, the
    /// deadline passes or a stop is asked for; the last attempt's error.
    ErrorState connect_and_pump(const std::shared_ptr<ReadBuffer>& buffer, bool& last_attempt_connected);
    void finish_worker(const std::shared_ptr<ReadBuffer>& buffer, ErrorState error, bool last_attempt_connected);
    void release_connect_waiters();
    bool stop_requested() const;
    /// The pause between connection attempts; ends early on a stop.
    void pause_before_reconnecting();

    ClientConnectionState m_client_connection_state;
    std::shared_ptr<AbstractConnectionProtocol> m_connection_protocol;
    mutable common::InstrumentedMutex m_read_buffer_mutex;
    std::shared_ptr<ReadBuffer> m_read_buffer;
    std::shared_ptr<AbstractReadProcessingProtocol> m_read_processing_protocol;
    ThreadInit m_thread_init;
    std::unique_ptr<std::thread> m_worker_thread;
    std::atomic<bool> m_accept_data{false};
    uint64_t m_connect_waiters = 1;
    std::mutex m_connect_mutex;
    std::condition_variable m_connect_cv;
    ipc_tools::ConnectionInfo m_connection_info;
    uint32_t m_server_file_load_timeout = 0;
    std::chrono::seconds m_reconnect_timeout{300};
    uint64_t m_max_input_queue_size;
    uint64_t m_block_size;

    // A stop asked for by finish_by, disconnect or the destructor.
    mutable std::mutex m_stop_mutex;
    std::condition_variable m_stop_cv;
    bool m_stop_requested = false;
    std::mutex m_join_mutex;  // one joiner at a time
};

}  // namespace basecall_service
