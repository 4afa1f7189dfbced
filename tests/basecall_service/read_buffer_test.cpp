// The read buffer on its own: cutting reads into blocks, the queue limit,
// tags, sub-reads, lost reads and re-addressing after a reconnection.
#include "basecall_service/read_buffer.h"

#include "common/concrete_state_logger.h"
#include "engine_test_reads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>
#include <thread>

using basecall_service::ReadBuffer;
using engine_test::make_read;
using interfaces::ReadHolder;

namespace {

constexpr uint64_t STRIDE = 5;
constexpr uint64_t BLOCK_STRIDES = 10;  // 50 samples per block

std::unique_ptr<ReadBuffer> make_buffer(uint64_t max_queued = 100) {
    auto buffer = std::make_unique<ReadBuffer>();
    buffer->set_block_size(BLOCK_STRIDES);
    buffer->set_max_input_queue_size(max_queued);
    return buffer;
}

const vemla_ipc::ReadBlockData& block_of(const ipc_tools::Message& message) {
    return *message.get_message_data()->content_as_ReadBlockData();
}

std::string client_id_of(const ipc_tools::Message& message) {
    const auto* id = message.get_message_data()->client_id();
    return id ? id->str() : std::string();
}

// Sends the oldest queued read as the worker would after the server took it.
void submit_next(ReadBuffer& buffer) {
    buffer.read_submitted();
}

ReadBuffer::ReadList take_output(ReadBuffer& buffer) {
    ReadBuffer::ReadList out;
    buffer.get_reads_out(out);
    return out;
}

std::vector<std::string> state_of(const ReadBuffer& buffer) {
    std::vector<common::diagnostics::state::StateRecord> records;
    common::diagnostics::state::detail::ConcreteStateLogger logger(records);
    buffer.report_state(logger);
    std::vector<std::string> keys;
    for (const auto& record : records) {
        keys.push_back(record.key);
    }
    return keys;
}

// Until a caller is inside queue_read waiting for room: the count is read
// under the buffer's lock, which a waiting caller has released.
void wait_until_a_caller_waits(const ReadBuffer& buffer) {
    while (buffer.num_waiting_callers() == 0) {
        std::this_thread::yield();
    }
}

uint64_t state_count(const ReadBuffer& buffer, const std::string& key) {
    std::vector<common::diagnostics::state::StateRecord> records;
    common::diagnostics::state::detail::ConcreteStateLogger logger(records);
    buffer.report_state(logger);
    for (const auto& record : records) {
        if (record.key == key) {
            return boost::any_cast<unsigned long long>(record.value);
        }
    }
    ADD_FAILURE() << "no state key " << key;
    return 0;
}

}  // namespace

TEST(ReadBuffer, CutsTheSignalIntoBlocksOfTheBlockSizeInModelStrides) {
    struct Case {
        uint64_t block_strides;
        uint64_t samples;
        std::vector<uint64_t> block_sizes;
    };
    const Case cases[] = {{20, 100, {100}},
                          {20, 101, {100, 1}},
                          {10, 149, {50, 50, 49}},
                          {10, 150, {50, 50, 50}},
                          {1000000, 150, {150}}};
    for (const auto& c : cases) {
        auto buffer = std::make_unique<ReadBuffer>();
        buffer->set_block_size(c.block_strides);
        buffer->set_max_input_queue_size(1);
        buffer->set_connection_id("conn-1");
        ReadHolder read = make_read(7, c.samples, STRIDE);
        read.m_sub_tag = 3;
        read.m_metadata.insert("start_time", uint64_t(123456));
        read.m_metadata.insert("scaling_override", true);
        read.m_metadata.insert("scaling_override_median", 2.5f);
        const auto samples = engine_test::raw_samples(read);
        ASSERT_TRUE(buffer->queue_read(read, 0)) << c.samples;

        auto& messages = buffer->next_read_messages();
        ASSERT_EQ(messages.size(), c.block_sizes.size()) << c.samples;
        std::vector<int16_t> sent;
        for (size_t k = 0; k < messages.size(); ++k) {
            const auto& block = block_of(messages[k]);
            EXPECT_EQ(messages[k].type, k == 0 ? ipc_tools::MessageType::PASS_FIRST_RAW_BLOCK
                                               : ipc_tools::MessageType::PASS_NEXT_RAW_BLOCK);
            EXPECT_EQ(client_id_of(messages[k]), "conn-1");
            EXPECT_EQ(block.read_tag(), 7u);
            EXPECT_EQ(block.sub_tag(), 3u);
            EXPECT_EQ(block.block_index(), k);
            EXPECT_EQ(block.num_blocks(), messages.size());
            EXPECT_EQ(block.duration(), c.samples);
            EXPECT_EQ(block.read_id()->str(), "read-7");
            EXPECT_EQ(block.strand_id()->str(), "strand-7");
            EXPECT_EQ(block.start_time(), 123456u);
            EXPECT_FLOAT_EQ(block.daq_offset(), 4.0f);
            ASSERT_NE(block.scaling_override(), nullptr);
            EXPECT_FLOAT_EQ(block.scaling_override()->median(), 2.5f);
            ASSERT_EQ(block.raw_data()->size(), c.block_sizes[k]);
            sent.insert(sent.end(), block.raw_data()->begin(), block.raw_data()->end());
        }
        EXPECT_EQ(sent, samples);
    }
}

TEST(ReadBuffer, AReadBelowTwentyStridesGoesStraightBackEvenAfterNoMoreData) {
    auto buffer = make_buffer();
    ReadHolder sent = make_read(1, 20 * STRIDE, STRIDE);
    EXPECT_TRUE(buffer->queue_read(sent, 0));
    EXPECT_EQ(buffer->num_queued_reads(), 1u);

    buffer->set_no_more_data();
    ReadHolder short_read = make_read(2, 20 * STRIDE - 1, STRIDE);
    EXPECT_TRUE(buffer->queue_read(short_read, 0));
    auto out = take_output(*buffer);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front()->m_read_tag, 2u);
    EXPECT_EQ(buffer->num_queued_reads(), 1u);

    ReadHolder refused = make_read(3, 200, STRIDE);
    EXPECT_FALSE(buffer->queue_read(refused, 0));
    EXPECT_EQ(refused.m_read_tag, 3u) << "a refused read stays with the caller";
    EXPECT_TRUE(refused.m_metadata.exists("read_id"));
}

TEST(ReadBuffer, AFullQueueRefusesAfterTheWaitAndLeavesTheReadWithTheCaller) {
    auto buffer = make_buffer(1);
    ReadHolder first = make_read(1, 200);
    ASSERT_TRUE(buffer->queue_read(first, 0));

    ReadHolder second = make_read(2, 200);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(buffer->queue_read(second, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
    EXPECT_EQ(engine_test::raw_samples(second), engine_test::signal_for(2, 200));

    // Room made by the worker lets a waiting caller in, also one that waits
    // for ever.
    auto waiting = std::async(std::launch::async,
                              [&] { return buffer->queue_read(second, std::numeric_limits<uint64_t>::max()); });
    wait_until_a_caller_waits(*buffer);
    submit_next(*buffer);
    EXPECT_TRUE(waiting.get());
    EXPECT_EQ(buffer->num_queued_reads(), 1u);
    EXPECT_EQ(buffer->num_submitted_reads(), 1u);

    // No more data releases a waiting caller with a refusal.
    ReadHolder third = make_read(3, 200);
    auto refused = std::async(std::launch::async, [&] { return buffer->queue_read(third, 20000); });
    wait_until_a_caller_waits(*buffer);
    buffer->set_no_more_data();
    EXPECT_FALSE(refused.get());
}

TEST(ReadBuffer, RefusesTagsThatCannotTravelOrAreAlreadyInFlight) {
    auto buffer = make_buffer();
    ReadHolder wide = make_read(uint64_t(1) << 32, 200);
    EXPECT_THROW(buffer->queue_read(wide, 0), std::invalid_argument);
    ReadHolder wide_sub = make_read(5, 200);
    wide_sub.m_sub_tag = uint64_t(1) << 32;
    EXPECT_THROW(buffer->queue_read(wide_sub, 0), std::invalid_argument);

    ReadHolder first = make_read(9, 200);
    ASSERT_TRUE(buffer->queue_read(first, 0));
    ReadHolder queued_twice = make_read(9, 300);
    EXPECT_THROW(buffer->queue_read(queued_twice, 0), std::invalid_argument);
    submit_next(*buffer);
    EXPECT_THROW(buffer->queue_read(queued_twice, 0), std::invalid_argument);
    EXPECT_EQ(engine_test::raw_samples(queued_twice).size(), 300u) << "the refused read is unchanged";

    buffer->read_retrieved(9);
    EXPECT_TRUE(buffer->queue_read(queued_twice, 0)) << "a returned read's tag is free again";
    EXPECT_EQ(buffer->num_queued_reads(), 1u);
}

TEST(ReadBuffer, RefusesReadsThatCannotBeCutBeforeTakingThem) {
    struct Case {
        const char* what;
        void (*spoil)(ReadHolder&);
    };
    const Case cases[] = {
            {"no read id", [](ReadHolder& r) { r.m_metadata.remove("read_id"); }},
            {"no raw data", [](ReadHolder& r) { r.m_datasets.clear(); }},
            {"duration beyond the samples", [](ReadHolder& r) { r.m_metadata.insert("duration", uint64_t(201)); }},
            {"model stride 0", [](ReadHolder& r) { r.m_metadata.insert("model_stride", uint64_t(0)); }},
    };
    auto buffer = make_buffer();
    for (const auto& c : cases) {
        ReadHolder read = make_read(4, 200);
        c.spoil(read);
        EXPECT_ANY_THROW(buffer->queue_read(read, 0)) << c.what;
        EXPECT_EQ(read.m_read_tag, 4u) << c.what;
    }
    EXPECT_TRUE(buffer->all_reads_processed());
    EXPECT_TRUE(take_output(*buffer).empty());
}

TEST(ReadBuffer, SubReadsFollowTheirParentAndTheLastOfASubTagWins) {
    auto buffer = make_buffer();
    ReadHolder parent = make_read(3, 200);
    ASSERT_TRUE(buffer->queue_read(parent, 0));
    submit_next(*buffer);

    for (const char* id : {"first", "second"}) {
        ReadHolder sub_read;
        sub_read.m_read_tag = 3;
        sub_read.m_sub_tag = 1;
        sub_read.m_metadata.insert("read_id", std::string(id));
        buffer->sub_read_retrieved(sub_read);
    }
    ReadHolder other;
    other.m_read_tag = 3;
    other.m_sub_tag = 2;
    buffer->sub_read_retrieved(other);
    EXPECT_TRUE(take_output(*buffer).empty()) << "sub-reads wait for their parent";

    buffer->read_retrieved(3);
    auto out = take_output(*buffer);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out.front()->m_sub_tag, 0u);
    std::map<uint64_t, std::string> subs;
    for (auto it = std::next(out.begin()); it != out.end(); ++it) {
        subs[(*it)->m_sub_tag] = (*it)->get_by_name("read_id");
    }
    EXPECT_EQ(subs.at(1), "second");
    EXPECT_EQ(subs.count(2), 1u);
    EXPECT_THROW(buffer->read_retrieved(3), std::out_of_range);
}

TEST(ReadBuffer, LostReadsAreCountedAndTheirSubReadsDropped) {
    auto buffer = make_buffer();
    for (uint64_t tag : {1, 2}) {
        ReadHolder read = make_read(tag, 200);
        ASSERT_TRUE(buffer->queue_read(read, 0));
        submit_next(*buffer);
    }
    ReadHolder sub_read;
    sub_read.m_read_tag = 1;
    sub_read.m_sub_tag = 1;
    buffer->sub_read_retrieved(sub_read);

    buffer->clear_submitted_reads();
    EXPECT_TRUE(buffer->all_reads_processed());
    EXPECT_EQ(buffer->num_lost_reads(), 2u);
    ASSERT_EQ(buffer->lost_reads_under(1).size(), 1u);
    EXPECT_EQ(buffer->lost_reads_under(1).front().strand_id, "strand-1");
    EXPECT_EQ(buffer->lost_reads_under(1).front().samples, 200u);
    EXPECT_EQ(state_count(*buffer, "m_lost_reads (lost on the server, never returned)"), 2u);

    // A new read under a lost tag is a new read, and the parent's sub-read
    // never reaches the output with it; the lost read is still known, so
    // that a late return of it can be told from the new one.
    ReadHolder again = make_read(1, 200);
    ASSERT_TRUE(buffer->queue_read(again, 0));
    EXPECT_EQ(buffer->lost_reads_under(1).size(), 1u);
    submit_next(*buffer);
    buffer->read_retrieved(1);
    EXPECT_EQ(take_output(*buffer).size(), 1u);
}

TEST(ReadBuffer, ReconnectionRequeuesSubmittedReadsFirstUnderTheNewId) {
    auto buffer = make_buffer();
    buffer->set_connection_id("old");
    for (uint64_t tag : {8, 2, 5, 1, 4}) {
        ReadHolder read = make_read(tag, 120);
        ASSERT_TRUE(buffer->queue_read(read, 0));
    }
    for (int i = 0; i < 3; ++i) {
        submit_next(*buffer);  // 8, 2 and 5 are with the server
    }
    buffer->next_read_messages().front() = ipc_tools::Message();  // the worker had sent block 0 of read 1

    buffer->set_connection_id("new");
    EXPECT_EQ(buffer->num_submitted_reads(), 0u);
    std::vector<uint64_t> order;
    while (buffer->num_queued_reads() > 0) {
        const auto& messages = buffer->next_read_messages();
        ASSERT_EQ(messages.size(), 3u);
        for (const auto& message : messages) {
            ASSERT_FALSE(message.empty());
            EXPECT_EQ(client_id_of(message), "new");
        }
        order.push_back(block_of(messages.front()).read_tag());
        submit_next(*buffer);
    }
    EXPECT_EQ(order, (std::vector<uint64_t>{2, 5, 8, 1, 4}));
}

TEST(ReadBuffer, ACallerThatWaitedAcrossAReconnectionSendsUnderTheNewId) {
    auto buffer = make_buffer(1);
    buffer->set_connection_id("before");
    ReadHolder first = make_read(1, 200);
    ASSERT_TRUE(buffer->queue_read(first, 0));

    ReadHolder waiting_read = make_read(2, 200);
    auto waiting = std::async(std::launch::async, [&] { return buffer->queue_read(waiting_read, 20000); });
    wait_until_a_caller_waits(*buffer);
    buffer->set_connection_id("after");
    submit_next(*buffer);
    ASSERT_TRUE(waiting.get());
    for (const auto& message : buffer->next_read_messages()) {
        EXPECT_EQ(client_id_of(message), "after");
    }
}

TEST(ReadBuffer, StateKeysNameTheQueues) {
    auto buffer = make_buffer();
    const std::vector<std::string> expected = {"m_queued_reads (awaiting pushing to server)",
                                               "m_message_queue_in (awaiting sending to server)",
                                               "m_submitted_reads (pushed to server not yet pulled)",
                                               "m_reads_out (output queue of reads from server)",
                                               "m_max_input_queue_size",
                                               "m_block_size ",
                                               "m_connection_id ",
                                               "m_lost_reads (lost on the server, never returned)"};
    EXPECT_EQ(state_of(*buffer), expected);
}
