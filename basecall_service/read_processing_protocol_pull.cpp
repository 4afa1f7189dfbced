// The pull half of the read pump: one finished read, all its called blocks,
// decoded aside and handed to the read buffer.
#include "basecall_service/called_read_decoder.h"
#include "basecall_service/read_processing_protocol.h"
#include "common/logger.h"
#include "ipc_tools/wire_access.h"

#include <algorithm>
#include <string_view>

namespace basecall_service {

namespace {

using interfaces::ReadHolder;
using ipc_tools::Message;
using ipc_tools::MessageType;

// The most samples a call of this read can stand on: the signal it was sent
// with (sub-reads are cut from the same signal).
uint64_t sample_limit_of(const ReadHolder& read) {
    const auto raw = read.m_datasets.find(dataset::raw_data);
    if (raw != read.m_datasets.end()) {
        return raw->second.info.count;
    }
    uint64_t* duration = nullptr;
    return read.m_metadata.extract(read_data::duration::name, duration) && duration ? *duration : 0;
}

// A new sub-read of a submitted read: the parent's datasets and metadata
// copied, its family pointers shared, the sub tag registered with it.
ReadHolder make_sub_read(const ReadHolder& parent, uint64_t sub_tag) {
    ReadHolder sub_read;
    sub_read.m_datasets = parent.m_datasets;
    sub_read.m_metadata = parent.m_metadata;
    sub_read.m_read_tag = parent.m_read_tag;
    sub_read.m_priority = parent.m_priority;
    sub_read.m_sub_tag = sub_tag;
    sub_read.m_coordinator = parent.m_coordinator;
    sub_read.m_attachment = parent.m_attachment;
    if (sub_read.m_coordinator) {
        sub_read.m_coordinator->register_sub_tag(sub_tag);
    }
    return sub_read;
}

const vemla_ipc::ReadBlockData& read_block_of(const Message& message) {
    // The kind was derived from this very table, so it is there.
    return *message.get_message_data()->content_as_ReadBlockData();
}

}  // namespace

bool ReadProcessingProtocol::request_next_block(RequestBrokerAdapter* adapter,
                                                uint32_t read_tag,
                                                const std::string& strand_id,
                                                Message& reply) {
    Message request(MessageType::GET_NEXT_CALLED_BLOCK, m_connection_id, read_tag, strand_id);
    if (!adapter->send_request(request, reply)) {
        m_error_state = adapter->error_state();
        return false;
    }
    if (reply.type != MessageType::RETURN_NEXT_CALLED_BLOCK) {
        return fail(
                ConnectionError::invalid_response,
                "Failed to get next block from server, invalid reply: " + ipc_tools::message_type_as_string(reply.type),
                true);
    }
    return true;
}

bool ReadProcessingProtocol::pull_from_server(RequestBrokerAdapter* adapter) {
    const uint32_t flags = (m_disable_events ? 1u : 0u) | (m_pull_state_data ? 2u : 0u);
    Message request(MessageType::GET_FIRST_CALLED_BLOCK, m_connection_id, flags, "");
    Message reply;
    if (!adapter->send_request(request, reply)) {
        m_error_state = adapter->error_state();
        return false;
    }
    if (reply.type == MessageType::NONE_PENDING) {
        const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
        if (content && content->value() == 1) {
            VEMLA_LOG_WARNING << "One or more reads has been lost on the server.";
            m_read_buffer->clear_submitted_reads();
        }
        return true;
    }

    auto trace = create_hftrace("pull_from_server");
    if (reply.type != MessageType::RETURN_FIRST_CALLED_BLOCK) {
        return fail(ConnectionError::invalid_response,
                    "Failed to pull from server, invalid reply: " + ipc_tools::message_type_as_string(reply.type),
                    true);
    }
    const auto& first_block = read_block_of(reply);
    const uint32_t read_tag = first_block.read_tag();
    const uint32_t sub_tag = first_block.sub_tag();
    ReadHolder* submitted = m_read_buffer->get_submitted_read_holder(read_tag);
    const auto lost = m_read_buffer->lost_reads_under(read_tag);
    if (!lost.empty() && is_late_return(first_block, submitted, lost)) {
        return discard_returned_read(adapter, first_block, lost);
    }
    if (submitted == nullptr) {
        fail(ConnectionError::bad_reply, "Returned read does not belong to this client: " + std::to_string(read_tag),
             false);
        get_trace_context()->write_message("pull_from_server", to_string(m_error_state));
        return false;
    }

    // Decoded aside and applied after the last block, so a failure half way
    // (or a stop) leaves the submitted read exactly as it was sent, ready to
    // be sent again.
    CalledReadDecoder decoder({!m_disable_events, m_pull_state_data}, sample_limit_of(*submitted));
    try {
        decoder.add_first_block(first_block, reply.size());
        for (uint32_t index = 1; index < decoder.num_blocks(); ++index) {
            if (!keep_alive()) {
                return false;  // stopped: the read stays submitted, and counts as not back
            }
            Message next;
            if (!request_next_block(adapter, read_tag, decoder.strand_id(), next)) {
                return false;
            }
            decoder.add_next_block(read_block_of(next));
        }
        // The read itself comes back under sub tag 0, or under its own sub
        // tag when the caller passed in a sub-read; any other sub tag is a
        // piece of a split.
        if (sub_tag == 0 || sub_tag == submitted->m_sub_tag) {
            decoder.commit(*submitted);
            m_read_buffer->read_retrieved(read_tag);
        } else {
            ReadHolder sub_read = make_sub_read(*submitted, sub_tag);
            decoder.commit(sub_read);
            m_read_buffer->sub_read_retrieved(sub_read);
        }
    } catch (const CalledReadWithoutDuration& error) {
        fail(ConnectionError::failed, error.what(), false);
        get_trace_context()->write_message("pull_from_server", to_string(m_error_state));
        return false;
    } catch (const BadCalledData& error) {
        return fail(ConnectionError::bad_reply, error.what(), false);
    }
    return true;
}

bool ReadProcessingProtocol::is_late_return(const vemla_ipc::ReadBlockData& first_block,
                                            const ReadHolder* submitted,
                                            const std::vector<ReadBuffer::LostRead>& lost) const {
    // With no read of the tag submitted, nothing current can be returned
    // under it (a queued read has not reached the server whole).
    if (submitted == nullptr) {
        return true;
    }
    // A piece of a split read carries a strand id of the server's own: it
    // goes with the read submitted under the tag.
    const uint32_t sub_tag = first_block.sub_tag();
    if (sub_tag != 0 && sub_tag != submitted->m_sub_tag) {
        return false;
    }
    // The read itself echoes its strand id: the lost read's, and not the
    // current read's, marks the late return of the lost one.
    const std::string_view strand_id = ipc_tools::wire::as_view(first_block.strand_id());
    std::string* current = nullptr;
    if (submitted->m_metadata.extract(read_data::strand_id::name, current) && current && *current == strand_id) {
        return false;
    }
    return std::any_of(lost.begin(), lost.end(),
                       [&](const ReadBuffer::LostRead& read) { return read.strand_id == strand_id; });
}

bool ReadProcessingProtocol::discard_returned_read(RequestBrokerAdapter* adapter,
                                                   const vemla_ipc::ReadBlockData& first_block,
                                                   const std::vector<ReadBuffer::LostRead>& lost) {
    const uint32_t read_tag = first_block.read_tag();
    const std::string strand_id = ipc_tools::wire::as_string(first_block.strand_id());
    get_trace_context()->write_message("pull_from_server", "Discarding read " + std::to_string(read_tag) +
                                                                   ", returned after the server reported it lost.");
    // Its blocks are fetched all the same, so the server is not left half way
    // through returning it; but no read comes back in more blocks than the
    // samples it was sent with.
    uint64_t samples = 0;
    for (const auto& read : lost) {
        samples = std::max(samples, read.samples);
    }
    if (first_block.num_blocks() > std::max<uint64_t>(1, samples)) {
        return fail(ConnectionError::bad_reply,
                    "Read " + std::to_string(read_tag) + ", returned after the server reported it lost, claims " +
                            std::to_string(first_block.num_blocks()) + " blocks for " + std::to_string(samples) +
                            " samples",
                    true);
    }
    for (uint32_t index = 1; index < first_block.num_blocks(); ++index) {
        if (!keep_alive()) {
            return false;
        }
        Message next;
        if (!request_next_block(adapter, read_tag, strand_id, next)) {
            return false;
        }
    }
    m_read_buffer->forget_lost_read(read_tag, strand_id);
    return true;
}

}  // namespace basecall_service
