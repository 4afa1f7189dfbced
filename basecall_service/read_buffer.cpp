#include "basecall_service/read_buffer.h"

#include "basecall_service/read_block_messages.h"
#include "bass/data_wrappers/metadata_keys.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <stdexcept>

namespace basecall_service {

namespace {

using interfaces::ReadHolder;
using ValidationDomain = common::diagnostics::tracing::TraceDomain<ReadBuffer::MetadataValidationTrace>;

// Barcoding and LAMP keys that a classified read carries together.
const char* const BARCODING_KEYS[] = {
        "barcode_arrangement",
        "barcode_full_arrangement",
        "barcode_kit",
        "barcode_variant",
        "barcode_score",
        "barcode_front_id",
        "barcode_front_score",
        "barcode_front_refseq",
        "barcode_front_foundseq",
        "barcode_front_begin_index",
        "barcode_rear_id",
        "barcode_rear_score",
        "barcode_rear_refseq",
        "barcode_rear_foundseq",
        "barcode_rear_end_index",
        "barcode_mid_front_score",
        "barcode_mid_rear_score",
        "lamp_barcode_id",
        "lamp_barcode_score",
        "lamp_target_id",
        "lamp_target_score",
};

std::atomic<uint32_t> g_failed_validations{0};

// Longer waits (up to "for ever") are cut to this, so that the deadline
// cannot overflow the clock and turn into one long past.
constexpr uint64_t LONGEST_WAIT_MS = uint64_t{100} * 365 * 24 * 3600 * 1000;

void refuse_wide_tags(const ReadHolder& read) {
    constexpr uint64_t limit = std::numeric_limits<uint32_t>::max();
    if (read.m_read_tag > limit) {
        throw std::invalid_argument("Read tag " + std::to_string(read.m_read_tag) +
                                    " does not fit the 32 bits a read tag travels in.");
    }
    if (read.m_sub_tag > limit) {
        throw std::invalid_argument("Sub tag " + std::to_string(read.m_sub_tag) +
                                    " does not fit the 32 bits a sub tag travels in.");
    }
}

std::unique_ptr<ReadHolder> take(ReadHolder& read) {
    return std::make_unique<ReadHolder>(std::move(read));
}

}  // namespace

ReadBuffer::ReadBuffer() : m_shutdown_latch(std::make_shared<common::synchronisation::Latch>(0)) {}

ReadBuffer::~ReadBuffer() {
    auto trace = create_trace("~ReadBuffer");
    std::shared_ptr<common::synchronisation::Latch> latch;
    {
        std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
        m_no_more_data = true;
        m_shutdown_latch = std::make_shared<common::synchronisation::Latch>(m_waiters);
        latch = m_shutdown_latch;
    }
    m_space_available.notify_all();
    // Callers still inside queue_read hold the lock when they count down, so
    // once the latch opens none of them touches this object again.
    latch->wait();
}

void ReadBuffer::set_block_size(uint64_t block_size) {
    get_trace_context()->write_message("set_block_size", std::to_string(block_size));
    m_block_size = block_size;
}

void ReadBuffer::set_max_input_queue_size(uint64_t max_reads) {
    get_trace_context()->write_message("set_max_input_queue_size", std::to_string(max_reads));
    m_max_input_queue_size = max_reads;
}

std::vector<ipc_tools::Message> ReadBuffer::create_messages(const ReadHolder& read, std::string& connection_id) const {
    uint64_t block_size = 0;
    {
        std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
        block_size = m_block_size;
        connection_id = m_connection_id;
    }
    return build_read_block_messages(read, block_size, connection_id);
}

bool ReadBuffer::queue_read(ReadHolder& read, uint64_t timeout_ms) {
    auto trace = create_hftrace("queue_read");
    refuse_wide_tags(read);
    if (read_is_too_short_to_send(read)) {
        put_read_on_output_queue(read);
        return true;
    }
    // Built outside the lock, so callers prepare blocks while the worker sends.
    std::string stamped_id;
    auto messages = create_messages(read, stamped_id);

    std::unique_lock<common::InstrumentedMutex> lock(m_mutex);
    if (m_no_more_data) {
        return false;
    }
    ++m_waiters;
    // Leaves with the lock still held, whichever way the call ends.
    struct WaiterExit {
        ReadBuffer& buffer;
        ~WaiterExit() {
            --buffer.m_waiters;
            buffer.m_shutdown_latch->count_down();
        }
    } waiter_exit{*this};

    refuse_if_in_flight(read.m_read_tag);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(std::min(timeout_ms, LONGEST_WAIT_MS));
    while (m_queued_reads.size() >= m_max_input_queue_size) {
        if (m_no_more_data) {
            return false;
        }
        if (m_space_available.wait_until(lock, deadline) == std::cv_status::timeout &&
            m_queued_reads.size() >= m_max_input_queue_size) {
            return false;
        }
    }
    if (m_no_more_data) {
        return false;
    }
    // Another caller may have queued the same tag while this one waited.
    refuse_if_in_flight(read.m_read_tag);
    if (stamped_id != m_connection_id) {
        // A reconnection re-addressed the queue while this caller waited;
        // blocks under the old id would be refused by the server.
        messages = build_read_block_messages(read, m_block_size, m_connection_id);
    }
    validate_and_trace_metadata(read, "Queuing read to be sent to the server.");
    queue_read_impl(read, std::move(messages));
    return true;
}

void ReadBuffer::refuse_if_in_flight(uint64_t read_tag) const {
    if (m_tags_in_flight.count(read_tag) != 0) {
        throw std::invalid_argument("Read tag " + std::to_string(read_tag) +
                                    " belongs to a read that is already queued or being basecalled.");
    }
}

void ReadBuffer::queue_read_impl(ReadHolder& read, std::vector<ipc_tools::Message> messages) {
    // Every step that can fail comes before the read is taken, or is undone,
    // so a failure leaves the read with its caller.
    const uint64_t read_tag = read.m_read_tag;
    const bool new_tag = m_tags_in_flight.insert(read_tag).second;
    try {
        m_message_queue_in.push_back(std::move(messages));
        auto held = take(read);
        try {
            m_queued_reads.push_back(std::move(held));
        } catch (...) {
            read = std::move(*held);
            m_message_queue_in.pop_back();
            throw;
        }
    } catch (...) {
        if (new_tag) {
            m_tags_in_flight.erase(read_tag);
        }
        throw;
    }
    write_hftrace("queue_read_impl", [&] { return "Queued: " + std::to_string(m_queued_reads.size()); });
}

void ReadBuffer::put_read_on_output_queue(ReadHolder& read) {
    validate_and_trace_metadata(read, "Read placed directly on output queue without sending to server.");
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    m_reads_out.push_back(take(read));
    write_hftrace("put_read_on_output_queue", [&] { return "Retrieved: " + std::to_string(m_reads_out.size()); });
}

uint64_t ReadBuffer::num_queued_reads() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    return m_queued_reads.size();
}

uint64_t ReadBuffer::num_submitted_reads() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    return m_submitted_reads.size();
}

std::vector<ipc_tools::Message>& ReadBuffer::next_read_messages() {
    return m_message_queue_in.front();
}

void ReadBuffer::rebuild_next_read_messages() {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    if (m_queued_reads.empty()) {
        return;
    }
    m_message_queue_in.front() = build_read_block_messages(*m_queued_reads.front(), m_block_size, m_connection_id);
}

void ReadBuffer::read_submitted() {
    {
        std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
        // The map entry is made before the read leaves the queue.
        auto& submitted = m_submitted_reads[m_queued_reads.front()->m_read_tag];
        submitted = std::move(m_queued_reads.front());
        m_queued_reads.pop_front();
        m_message_queue_in.pop_front();
        write_hftrace("read_submitted", [&] { return "Queued: " + std::to_string(m_queued_reads.size()); });
        write_hftrace("read_submitted", [&] { return "Submitted: " + std::to_string(m_submitted_reads.size()); });
    }
    m_space_available.notify_all();
}

ReadHolder* ReadBuffer::get_submitted_read_holder(uint64_t read_tag) const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    const auto found = m_submitted_reads.find(read_tag);
    return found == m_submitted_reads.end() ? nullptr : found->second.get();
}

void ReadBuffer::read_retrieved(uint64_t read_tag) {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    const auto found = m_submitted_reads.find(read_tag);
    if (found == m_submitted_reads.end()) {
        throw std::out_of_range("map::at:  key not found");
    }
    m_reads_out.push_back(std::move(found->second));
    validate_and_trace_metadata(*m_reads_out.back(), "Read returned from server, placing on output queue.");
    m_submitted_reads.erase(found);
    m_tags_in_flight.erase(read_tag);

    const auto held = m_held_sub_reads.find(read_tag);
    if (held != m_held_sub_reads.end()) {
        for (auto& sub_read : held->second) {
            m_reads_out.push_back(std::move(sub_read.second));
        }
        m_held_sub_reads.erase(held);
    }
    write_hftrace("read_retrieved", [&] { return "Submitted: " + std::to_string(m_submitted_reads.size()); });
    write_hftrace("read_retrieved", [&] { return "Retrieved: " + std::to_string(m_reads_out.size()); });
}

void ReadBuffer::sub_read_retrieved(ReadHolder& sub_read) {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    const uint64_t parent_tag = sub_read.m_read_tag;
    const uint64_t sub_tag = sub_read.m_sub_tag;
    validate_and_trace_metadata(sub_read, "Sub read, with sub_tag: " + std::to_string(sub_tag) +
                                                  ", returned from server, placing on output queue.");
    m_held_sub_reads[parent_tag][sub_tag] = take(sub_read);
}

void ReadBuffer::clear_submitted_reads() {
    auto trace = create_trace("clear_submitted_reads");
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    for (const auto& [read_tag, read] : m_submitted_reads) {
        // Sub-reads of a lost parent could never follow it to the output.
        m_held_sub_reads.erase(read_tag);
        m_tags_in_flight.erase(read_tag);
        std::string* strand_id = nullptr;
        read->m_metadata.extract(read_data::strand_id::name, strand_id);
        const auto raw = read->m_datasets.find(dataset::raw_data);
        m_lost_reads_by_tag.emplace(read_tag, LostRead{strand_id ? *strand_id : std::string(),
                                                       raw == read->m_datasets.end() ? 0 : raw->second.info.count});
        ++m_lost_reads;
    }
    m_submitted_reads.clear();
}

std::vector<ReadBuffer::LostRead> ReadBuffer::lost_reads_under(uint64_t read_tag) const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    std::vector<LostRead> lost;
    const auto range = m_lost_reads_by_tag.equal_range(read_tag);
    for (auto it = range.first; it != range.second; ++it) {
        lost.push_back(it->second);
    }
    return lost;
}

void ReadBuffer::forget_lost_read(uint64_t read_tag, const std::string& strand_id) {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    const auto range = m_lost_reads_by_tag.equal_range(read_tag);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.strand_id == strand_id) {
            m_lost_reads_by_tag.erase(it);
            return;
        }
    }
}

uint64_t ReadBuffer::num_waiting_callers() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    return m_waiters;
}

uint64_t ReadBuffer::num_lost_reads() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    return m_lost_reads;
}

void ReadBuffer::get_reads_out(ReadList& out) {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    if (m_reads_out.empty()) {
        return;
    }
    for (const auto& read : m_reads_out) {
        validate_and_trace_metadata(*read, "Read being returned from basecall client.");
    }
    write_hftrace("get_reads_out", [&] { return "Completed: " + std::to_string(m_reads_out.size()); });
    out.splice(out.end(), m_reads_out);
}

bool ReadBuffer::all_reads_processed() const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    return m_submitted_reads.empty() && m_queued_reads.empty();
}

void ReadBuffer::set_no_more_data() {
    auto trace = create_trace("set_no_more_data");
    {
        std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
        m_no_more_data = true;
    }
    m_space_available.notify_all();
}

void ReadBuffer::set_connection_id(std::string connection_id) {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    auto trace = create_timed_trace("set_connection_id");
    trace.message(connection_id);
    m_connection_id = std::move(connection_id);
    // The old connection's reads cannot come back on the new one.
    m_lost_reads_by_tag.clear();

    ReadQueue queued = fetch_and_empty_input_queue();
    ReadQueue submitted = fetch_and_empty_submitted_reads();
    trace.message([&] { return "requeuing reads, total: " + std::to_string(submitted.size() + queued.size()); });
    queue_reads(submitted);
    queue_reads(queued);
}

ReadBuffer::ReadQueue ReadBuffer::fetch_and_empty_input_queue() {
    ReadQueue reads;
    reads.swap(m_queued_reads);
    m_message_queue_in.clear();
    return reads;
}

ReadBuffer::ReadQueue ReadBuffer::fetch_and_empty_submitted_reads() {
    auto trace = create_trace("fetch_and_empty_submitted_reads");
    ReadQueue reads;
    for (auto& submitted : m_submitted_reads) {
        reads.push_back(std::move(submitted.second));
    }
    m_submitted_reads.clear();
    return reads;
}

void ReadBuffer::queue_reads(ReadQueue& reads) {
    for (auto& read : reads) {
        auto messages = build_read_block_messages(*read, m_block_size, m_connection_id);
        validate_and_trace_metadata(*read, "Requeued read following successful (re)connection.");
        m_message_queue_in.push_back(std::move(messages));
        m_queued_reads.push_back(std::move(read));
    }
    reads.clear();
}

void ReadBuffer::validate_and_trace_metadata(const ReadHolder& read, const std::string& context) {
    const auto domain = ValidationDomain::get_hftrace_context();
    if (!domain->is_active()) {
        return;
    }
    const auto& metadata = read.m_metadata;
    const bool present = metadata.exists(BARCODING_KEYS[0]);
    for (const char* key : BARCODING_KEYS) {
        if (metadata.exists(key) == present) {
            continue;
        }
        const uint32_t failures = ++g_failed_validations;
        const std::string read_id = metadata.exists(read_data::read_id::name)
                                            ? read.get_by_name(read_data::read_id::name)
                                            : std::string("unknown");
        const std::string problem = present ? " Missing metadata key, barcode_arrangement is present but " +
                                                      std::string(key) + " is missing."
                                            : " Unexpected metadata key, barcode_arrangement is missing but " +
                                                      std::string(key) + " is present.";
        domain->write_message("validate_and_trace_metadata",
                              context + problem + " Read ID: " + read_id +
                                      ", Read tag: " + std::to_string(read.m_read_tag) +
                                      ", failed validation count: " + std::to_string(failures));
        return;
    }
}

void ReadBuffer::report_state(common::diagnostics::state::StateLogger& logger) const {
    std::lock_guard<common::InstrumentedMutex> lock(m_mutex);
    logger.log("m_queued_reads (awaiting pushing to server)", uint64_t(m_queued_reads.size()));
    logger.log("m_message_queue_in (awaiting sending to server)", uint64_t(m_message_queue_in.size()));
    logger.log("m_submitted_reads (pushed to server not yet pulled)", uint64_t(m_submitted_reads.size()));
    logger.log("m_reads_out (output queue of reads from server)", uint64_t(m_reads_out.size()));
    logger.log("m_max_input_queue_size", m_max_input_queue_size);
    logger.log("m_block_size ", m_block_size);
    logger.log("m_connection_id ", m_connection_id);
    logger.log("m_lost_reads (lost on the server, never returned)", m_lost_reads);
}

}  // namespace basecall_service
