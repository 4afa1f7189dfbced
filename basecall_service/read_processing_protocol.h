#pragma once

#include "basecall_service/client_connection_state.h"
#include "basecall_service/read_buffer.h"
#include "basecall_service/request_broker_adapter.h"
#include "common/instrumented_mutex.h"
#include "common/trace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace basecall_service {

/// How the client worker moves reads between its read buffer and the server
/// for as long as one connection lasts.
class AbstractReadProcessingProtocol {
public:
    virtual ~AbstractReadProcessingProtocol() = default;
    /// Runs until stopped (`no_error`) or until an exchange fails (its error).
    virtual ErrorState process_reads(ReadBuffer* read_buffer, RequestBrokerAdapter* adapter) = 0;
    /// Any thread; seen at the top of the next pass, and never undone.
    virtual void stop() = 0;
    virtual void set_connection_id(std::string connection_id) = 0;
    virtual void set_disable_events(bool disable_events) = 0;
    virtual void set_pull_state_data(bool pull_state_data) = 0;
};

/// The read pump: heartbeats while the connection is quiet, pushes the
/// blocks of the oldest queued read, then pulls one finished read back, so
/// sending and collecting alternate. Runs on the client's worker thread;
/// only `stop` comes from other threads.
class ReadProcessingProtocol : public AbstractReadProcessingProtocol,
                               private common::diagnostics::tracing::TraceDomain<ReadProcessingProtocol> {
public:
    ReadProcessingProtocol();
    ~ReadProcessingProtocol() override;
    ReadProcessingProtocol(const ReadProcessingProtocol&) = delete;
    ReadProcessingProtocol& operator=(const ReadProcessingProtocol&) = delete;

    ErrorState process_reads(ReadBuffer* read_buffer, RequestBrokerAdapter* adapter) override;
    void stop() override;
    void set_connection_id(std::string connection_id) override;
    void set_disable_events(bool disable_events) override;
    void set_pull_state_data(bool pull_state_data) override;

    /// True until `stop`.
    bool keep_alive() const;

private:
    /// Sends every block of the oldest queued read; a NOT_READY to its first
    /// block leaves it queued for the next pass.
    bool push_into_server(RequestBrokerAdapter* adapter);
    /// Fetches one finished read (all its called blocks) and hands it to the
    /// read buffer; true also when nothing was pending.
    bool pull_from_server(RequestBrokerAdapter* adapter);
    /// Whether a returned read under a tag with lost reads is the late
    /// return of one of them rather than the read now submitted under it.
    bool is_late_return(const vemla_ipc::ReadBlockData& first_block,
                        const interfaces::ReadHolder* submitted,
                        const std::vector<ReadBuffer::LostRead>& lost) const;
    /// Fetches and drops the remaining blocks of a read the server returned
    /// after reporting it lost.
    bool discard_returned_read(RequestBrokerAdapter* adapter,
                               const vemla_ipc::ReadBlockData& first_block,
                               const std::vector<ReadBuffer::LostRead>& lost);
    bool request_next_block(RequestBrokerAdapter* adapter,
                            uint32_t read_tag,
                            const std::string& strand_id,
                            ipc_tools::Message& reply);
    bool fail(ConnectionError code, const std::string& message, bool trace_it);

    ErrorState m_error_state;
    ReadBuffer* m_read_buffer = nullptr;
    bool m_disable_events = false;
    bool m_pull_state_data = false;
    std::string m_connection_id;
    mutable common::InstrumentedMutex m_stop_mutex;
    bool m_stop = false;
};

}  // namespace basecall_service
