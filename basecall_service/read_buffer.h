#pragma once

#include "common/instrumented_mutex.h"
#include "common/latch.h"
#include "common/state_context.h"
#include "common/trace.h"
#include "interfaces/read_holder.h"
#include "ipc_tools/ipc_tools.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace basecall_service {

/// Every read of one client between the caller's hand-over and the caller's
/// collection: the input queue (with each read's block messages), the reads
/// pushed to the server and not yet back, the sub-reads waiting for their
/// parent, and the output list.
///
/// Callers' threads use `queue_read`, `get_reads_out` and
/// `all_reads_processed`; everything else belongs to the client's worker
/// thread. A submitted read's holder is touched by the worker only, so it is
/// handed out by pointer and filled outside the lock.
class ReadBuffer : public common::diagnostics::state::StateProvider,
                   private common::diagnostics::tracing::TraceDomain<ReadBuffer> {
public:
    /// Tag of the high-frequency domain the metadata validation writes to.
    struct MetadataValidationTrace {};

    using ReadList = std::list<std::unique_ptr<interfaces::ReadHolder>>;
    using ReadQueue = std::deque<std::unique_ptr<interfaces::ReadHolder>>;

    ReadBuffer();
    virtual ~ReadBuffer();
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    /// Both are set once, before any other thread uses the buffer.
    void set_block_size(uint64_t block_size);
    void set_max_input_queue_size(uint64_t max_reads);

    /// Takes the read (moving its contents out) when it is too short to send
    /// (straight to the output list) or once there is room in the input
    /// queue within `timeout_ms`. False when the queue stayed full or no
    /// more data is accepted; the read is then left as it was. Input faults
    /// throw before anything changes (the read too stays as it was), among
    /// them std::invalid_argument for a read or sub tag that does not fit
    /// the 32 bits the wire carries and for a tag already queued or in
    /// flight.
    bool queue_read(interfaces::ReadHolder& read, uint64_t timeout_ms);

    uint64_t num_queued_reads() const;
    uint64_t num_submitted_reads() const;

    /// The block messages of the oldest queued read, used without the lock:
    /// only the worker removes queued reads. Requires num_queued_reads() > 0.
    std::vector<ipc_tools::Message>& next_read_messages();
    /// Builds the oldest queued read's messages again, after sending used
    /// some of them up without the server taking the read.
    void rebuild_next_read_messages();
    /// The server accepted every block of the oldest queued read.
    void read_submitted();

    /// The submitted read of that tag; null when none is submitted.
    interfaces::ReadHolder* get_submitted_read_holder(uint64_t read_tag) const;
    /// The submitted read is complete: it goes to the output list, followed
    /// by its held sub-reads. Throws std::out_of_range for a tag that is not
    /// submitted.
    void read_retrieved(uint64_t read_tag);
    /// Holds a finished sub-read (contents moved in) until its parent is
    /// retrieved; replaces one held under the same parent and sub tag.
    void sub_read_retrieved(interfaces::ReadHolder& sub_read);
    /// A read the server reported lost on this connection, as far as a late
    /// return of it can be recognised: its strand id, and the samples it was
    /// sent with (no return of it can stand on more).
    struct LostRead {
        std::string strand_id;
        uint64_t samples = 0;
    };

    /// The server lost every submitted read: they are dropped, with the
    /// sub-reads held for them, and counted as lost.
    void clear_submitted_reads();
    /// The reads lost under this tag on this connection. Tags are reused by
    /// callers, so a new read under the tag does not end them: a late return
    /// is told from the new read by its strand id.
    std::vector<LostRead> lost_reads_under(uint64_t read_tag) const;
    /// A late return of that lost read was discarded; it comes back once.
    void forget_lost_read(uint64_t read_tag, const std::string& strand_id);
    uint64_t num_lost_reads() const;
    /// Callers inside `queue_read` waiting for room.
    uint64_t num_waiting_callers() const;

    /// Appends every finished read to `out`, in the order they finished.
    void get_reads_out(ReadList& out);
    /// True when nothing is queued or submitted (lost reads aside).
    bool all_reads_processed() const;
    /// No read is taken from now on; waiting callers return false.
    void set_no_more_data();
    /// After every (re)connection: every read not yet back is queued again,
    /// formerly submitted ones first, with messages under the new id.
    void set_connection_id(std::string connection_id);

    void report_state(common::diagnostics::state::StateLogger& logger) const override;

private:
    using HeldSubReads =
            std::unordered_map<uint64_t, std::unordered_map<uint64_t, std::unique_ptr<interfaces::ReadHolder>>>;

    // The read's block messages and the connection id they carry.
    std::vector<ipc_tools::Message> create_messages(const interfaces::ReadHolder& read,
                                                    std::string& connection_id) const;
    void queue_read_impl(interfaces::ReadHolder& read, std::vector<ipc_tools::Message> messages);
    void put_read_on_output_queue(interfaces::ReadHolder& read);
    ReadQueue fetch_and_empty_input_queue();
    ReadQueue fetch_and_empty_submitted_reads();
    void queue_reads(ReadQueue& reads);
    void refuse_if_in_flight(uint64_t read_tag) const;
    static void validate_and_trace_metadata(const interfaces::ReadHolder& read, const std::string& context);

    mutable common::InstrumentedMutex m_mutex;
    std::condition_variable m_space_available;
    ReadQueue m_queued_reads;
    std::map<uint64_t, std::unique_ptr<interfaces::ReadHolder>> m_submitted_reads;
    std::list<std::vector<ipc_tools::Message>> m_message_queue_in;
    ReadList m_reads_out;
    uint64_t m_max_input_queue_size = 0;
    uint64_t m_block_size = 50000;
    std::string m_connection_id;
    bool m_no_more_data = false;
    HeldSubReads m_held_sub_reads;
    uint64_t m_waiters = 0;
    std::shared_ptr<common::synchronisation::Latch> m_shutdown_latch;
    // Tags of every queued or submitted read: a second read under one of
    // them would be indistinguishable on the wire.
    std::unordered_set<uint64_t> m_tags_in_flight;
    std::unordered_multimap<uint64_t, LostRead> m_lost_reads_by_tag;
    uint64_t m_lost_reads = 0;
};

}  // namespace basecall_service
