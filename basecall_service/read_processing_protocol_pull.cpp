// The pull half of the read pump: one finished read, all its called blocks,
// decoded aside and handed to the read buffer.
#include "basecall_service/called_read_decoder.h"
#include "basecall_service/read_processing_protocol.h"
#include "common/logger.h"
#include "ipc_tools/wire_access.h"

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

bool ReadProcessingProtocol::request_next_block(RequestBrokerAdapter* adapter, uint32_t read_tag,
                                                const std::string& strand_id, Message& reply) {
    Message request(MessageType::GET_NEXT_CALLED_BLOCK, m_connection_id, read_tag, strand_id);
    if (!adapter->send_request(request, reply)) {
        m_error_state = adapter->error_state();
        return false;
    }
    if (reply.type != MessageType::RETURN_NEXT_CALLED_BLOCK) {
        return fail(ConnectionError::invalid_response,
                    "Failed to get next block from server, invalid reply: " +
                            ipc_tools::message_type_as_string(reply.type),
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
    if (submitted == nullptr) {
        if (m_read_buffer->is_lost_read(read_tag)) {
            return discard_returned_read(adapter, first_block);
        }
        fail(ConnectionError::bad_reply, "Returned read does not belong to this client: " + std::to_string(read_tag),
             false);
        get_trace_context()->write_message("pull_from_server", to_string(m_error_state));
        return false;
    }

    // Decoded aside and applied after the last block, so a failure half way
    // leaves the submitted read exactly as it was sent, ready to be sent again.
    CalledReadDecoder decoder({!m_disable_events, m_pull_state_data}, sample_limit_of(*submitted));
    try {
        decoder.add_first_block(first_block);
        for (uint32_t index = 1; index < decoder.num_blocks(); ++index) {
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

bool ReadProcessingProtocol::discard_returned_read(RequestBrokerAdapter* adapter,
                                                   const vemla_ipc::ReadBlockData& first_block) {
    const uint32_t read_tag = first_block.read_tag();
    const std::string strand_id = ipc_tools::wire::as_string(first_block.strand_id());
    get_trace_context()->write_message("pull_from_server",
                                       "Discarding read " + std::to_string(read_tag) +
                                               ", returned after the server reported it lost.");
    // The rest of its blocks are fetched all the same, so the server is not
    // left half way through returning it.
    for (uint32_t index = 1; index < first_block.num_blocks(); ++index) {
        Message next;
        if (!request_next_block(adapter, read_tag, strand_id, next)) {
            return false;
        }
    }
    return true;
}

}  // namespace basecall_service
