// The test server through real ZeroMQ REQ sockets: the connect sequence, a
// read there and back, several clients, and every fault switch.
#include "test_server/test_server.h"

#include "wire_peer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <thread>

using namespace test_server;
using namespace wire_peer;

namespace {

std::vector<int16_t> signal_of(size_t n, int seed) {
    std::vector<int16_t> samples(n);
    for (size_t i = 0; i < n; ++i) {
        samples[i] =
                static_cast<int16_t>(static_cast<int>((i * 7919 + static_cast<size_t>(seed) * 104729) % 4001) - 2000);
    }
    return samples;
}

std::string connect(Peer& peer, const std::string& name = "socket_test") {
    EXPECT_EQ(
            reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_LOAD_CONFIG, {}, 0, "test_dna_fast"))),
            vemla_ipc::SimpleReplyType_SUCCESS);
    const Bytes reply = peer.exchange(
            simple_request(vemla_ipc::SimpleRequestType_CONNECT, {}, 0, "test_dna_fast:>client_name=" + name));
    EXPECT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_CONNECTED);
    return reply_type(reply) ? reply_text(reply) : std::string();
}

// Sends a read in blocks of `block` samples; the reply kinds in order.
std::vector<vemla_ipc::SimpleReplyType> pass_read(Peer& peer,
                                                  const std::string& id,
                                                  uint32_t tag,
                                                  const std::vector<int16_t>& samples,
                                                  size_t block) {
    const auto count = static_cast<uint32_t>((samples.size() + block - 1) / block);
    std::vector<vemla_ipc::SimpleReplyType> replies;
    for (uint32_t k = 0; k < count; ++k) {
        RawBlockSpec spec;
        spec.read_tag = tag;
        spec.block_index = k;
        spec.num_blocks = count;
        spec.duration = static_cast<uint32_t>(samples.size());
        spec.read_id = "read-" + std::to_string(tag);
        const auto begin = samples.begin() + static_cast<std::ptrdiff_t>(k * block);
        const auto end = samples.begin() + static_cast<std::ptrdiff_t>(std::min(samples.size(), (k + 1) * block));
        const auto type = reply_type(peer.exchange(raw_block(id, spec, std::vector<int16_t>(begin, end))));
        EXPECT_TRUE(type);
        replies.push_back(type.value_or(vemla_ipc::SimpleReplyType_SHUTTING_DOWN));
    }
    return replies;
}

// Pulls one read: its sequence, or nothing when no block came back.
std::optional<std::string> pull_sequence(Peer& peer, const std::string& id, uint32_t flags = 0) {
    const Bytes first = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id, flags));
    const auto* block = first.size() >= 8 ? root(first)->content_as_ReadBlockData() : nullptr;
    if (!block) {
        return std::nullopt;
    }
    std::string sequence = block->called_data()->sequence()->str();
    for (uint32_t k = 1; k < block->num_blocks(); ++k) {
        const Bytes next = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_NEXT_CALLED_BLOCK, id,
                                                        block->read_tag(), block->strand_id()->str()));
        const auto* later = next.size() >= 8 ? root(next)->content_as_ReadBlockData() : nullptr;
        EXPECT_NE(later, nullptr);
        if (!later) {
            return std::nullopt;
        }
        EXPECT_EQ(later->block_index(), k);
        sequence += later->called_data()->sequence()->str();
    }
    return sequence;
}

std::string expected_sequence(const std::vector<int16_t>& samples) {
    AssembledRead read;
    read.signal = samples;
    read.duration = static_cast<uint32_t>(samples.size());
    CallOptions options;
    options.config = *ServerSettings::defaults().find_config("test_dna_fast");
    return call_signal(read, options).sequence;
}

class TestServerSocket : public ::testing::Test {
protected:
    void start(ServerSettings settings = ServerSettings::defaults()) {
        settings.called_block_positions = 50;
        server = std::make_unique<TestServer>(settings);
        endpoint = server->start("tcp://127.0.0.1:*");
    }
    void SetUp() override { start(); }

    std::unique_ptr<TestServer> server;
    std::string endpoint;
};

}  // namespace

TEST_F(TestServerSocket, ReportsARealTcpEndpoint) {
    EXPECT_EQ(endpoint.rfind("tcp://127.0.0.1:", 0), 0u) << endpoint;
    EXPECT_EQ(endpoint.find('*'), std::string::npos);
}

TEST_F(TestServerSocket, ServesAReadThereAndBackOverIpc) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("vemla_test_server_" + std::to_string(::getpid()) + ".ipc");
    TestServer ipc_server;
    const std::string ipc_endpoint = ipc_server.start("ipc://" + path.string());
    EXPECT_EQ(ipc_endpoint, "ipc://" + path.string());
    Peer peer(ipc_endpoint);
    const std::string id = connect(peer);
    const auto samples = signal_of(2500, 1);
    for (const auto reply : pass_read(peer, id, 11, samples, 1000)) {
        EXPECT_EQ(reply, vemla_ipc::SimpleReplyType_RAW_BLOCK_ACCEPTED);
    }
    EXPECT_EQ(pull_sequence(peer, id), expected_sequence(samples));
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id))),
              vemla_ipc::SimpleReplyType_NONE_PENDING);
    ipc_server.stop();
}

TEST_F(TestServerSocket, LoadsAnswerLoadingTheConfiguredNumberOfTimes) {
    auto settings = ServerSettings::defaults();
    settings.loading_replies = 3;
    start(settings);
    Peer peer(endpoint);
    for (const auto type : {vemla_ipc::SimpleRequestType_LOAD_CONFIG, vemla_ipc::SimpleRequestType_LOAD_INDEX}) {
        const std::string name = type == vemla_ipc::SimpleRequestType_LOAD_CONFIG ? "test_dna_fast" : "test_ref.mmi";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(reply_type(peer.exchange(simple_request(type, {}, 0, name))), vemla_ipc::SimpleReplyType_LOADING);
        }
        EXPECT_EQ(reply_type(peer.exchange(simple_request(type, {}, 0, name))), vemla_ipc::SimpleReplyType_SUCCESS);
        EXPECT_EQ(reply_type(peer.exchange(simple_request(type, {}, 0, name))), vemla_ipc::SimpleReplyType_SUCCESS);
    }
    const Bytes failed = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_LOAD_BED, {}, 0, "nope.bed"));
    EXPECT_EQ(reply_type(failed), vemla_ipc::SimpleReplyType_REQUEST_FAILED);
    EXPECT_NE(reply_text(failed).find("nope.bed"), std::string::npos);
}

TEST_F(TestServerSocket, ServesSeveralClientsWithInterleavedReads) {
    Peer a(endpoint), b(endpoint);
    const std::string id_a = connect(a, "a"), id_b = connect(b, "b");
    EXPECT_NE(id_a, id_b);
    const auto signal_a = signal_of(1200, 2), signal_b = signal_of(900, 3);
    pass_read(a, id_a, 1, signal_a, 400);
    pass_read(b, id_b, 1, signal_b, 400);  // the same tag on another connection is another read
    EXPECT_EQ(pull_sequence(b, id_b), expected_sequence(signal_b));
    EXPECT_EQ(pull_sequence(a, id_a), expected_sequence(signal_a));

    const Bytes stats = a.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_STATISTICS));
    const auto* content = root(stats)->content_as_ServerStats();
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->lifetime_reads_in(), 2u);
    EXPECT_EQ(content->lifetime_reads_out(), 2u);
    ASSERT_EQ(content->clients()->size(), 2u);
    EXPECT_EQ(content->clients()->Get(0)->input_read_count(), 1u);
}

TEST_F(TestServerSocket, UnreadableFramesAndMismatchedRequestsGetBadRequest) {
    Peer peer(endpoint);
    const Bytes garbage = {1, 2, 3, 4, '0', '0', '1', '1', 9, 9, 9, 9};
    const Bytes reply = peer.exchange(garbage);
    EXPECT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_BAD_REQUEST);
    EXPECT_NE(reply_text(reply).find("verification"), std::string::npos) << reply_text(reply);

    const std::string id = connect(peer);
    const Bytes next = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_NEXT_CALLED_BLOCK, id, 1, "s"));
    EXPECT_EQ(reply_type(next), vemla_ipc::SimpleReplyType_BAD_REQUEST);
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_QUERY, {}, 5))),
              vemla_ipc::SimpleReplyType_BAD_REQUEST);
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, "stale"))),
              vemla_ipc::SimpleReplyType_CLIENT_NOT_RECOGNISED);
}

TEST_F(TestServerSocket, AMultiPartRequestGetsOneBadRequestFrameAndNoEchoOfItsParts) {
    zmq::context_t context(1);
    zmq::socket_t socket(context, zmq::socket_type::req);
    socket.set(zmq::sockopt::linger, 0);
    socket.connect(endpoint);
    const Bytes ping = simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING);
    socket.send(zmq::buffer(ping), zmq::send_flags::sndmore);
    socket.send(zmq::buffer(ping), zmq::send_flags::none);

    zmq::pollitem_t item{socket.handle(), 0, ZMQ_POLLIN, 0};
    zmq::poll(&item, 1, std::chrono::milliseconds(20000));
    ASSERT_TRUE(item.revents & ZMQ_POLLIN);
    zmq::message_t frame;
    ASSERT_TRUE(socket.recv(frame, zmq::recv_flags::none));
    EXPECT_FALSE(frame.more()) << "the reply must be a single frame";
    const auto* data = static_cast<const uint8_t*>(frame.data());
    const Bytes reply(data, data + frame.size());
    EXPECT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_BAD_REQUEST);
    EXPECT_NE(reply_text(reply).find("one frame"), std::string::npos) << reply_text(reply);

    // The server is still in step with this peer.
    Peer peer(endpoint);
    EXPECT_EQ(reply_type(peer.exchange(ping)), vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
}

TEST_F(TestServerSocket, QueryReportsWhatWasReceived) {
    Peer peer(endpoint);
    const std::string id = connect(peer, "reporter");
    const auto samples = signal_of(700, 4);
    pass_read(peer, id, 77, samples, 300);
    const Bytes reply = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_QUERY, {}, 1));
    ASSERT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_RESPONSE);
    const auto report = nlohmann::json::parse(reply_text(reply));
    EXPECT_EQ(report["received"]["connection_strings"][0], "test_dna_fast:>client_name=reporter");
    const auto& read = report["received"]["reads"][0];
    EXPECT_EQ(read["read_tag"], 77);
    EXPECT_EQ(read["num_blocks"], 3);
    EXPECT_EQ(read["client_id"], id);
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(signal_digest(samples)));
    EXPECT_EQ(read["signal_digest"], digest);
    EXPECT_EQ(report["clients"][0]["reads_pending"], 1);
}

namespace {

// A HEARTBEAT_PING of the given protocol version (none when absent).
Bytes ping_of_version(std::optional<vemla_ipc::ProtocolVersion> version) {
    flatbuffers::FlatBufferBuilder fbb(256);
    vemla_ipc::SimpleRequestDataBuilder request(fbb);
    request.add_type(vemla_ipc::SimpleRequestType_HEARTBEAT_PING);
    const auto content = request.Finish();
    vemla_ipc::MessageDataBuilder message(fbb);
    if (version) {
        message.add_version(&*version);
    }
    message.add_content_type(vemla_ipc::Content_SimpleRequestData);
    message.add_content(content.Union());
    fbb.Finish(message.Finish(), vemla_ipc::MessageDataIdentifier());
    return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

}  // namespace

TEST_F(TestServerSocket, RefusesWhatARealServerWouldRefuse) {
    Peer peer(endpoint);
    const std::string id = connect(peer);
    struct Case {
        const char* what;
        Bytes request;
        const char* reason;
    };
    const Case cases[] = {
            {"older version", ping_of_version(vemla_ipc::ProtocolVersion(10, 0, 0)), "protocol version '10.0.0'"},
            {"newer minor", ping_of_version(vemla_ipc::ProtocolVersion(11, 1, 0)), "protocol version '11.1.0'"},
            {"no version", ping_of_version(std::nullopt), "protocol version ''"},
            {"id on LOAD_CONFIG", simple_request(vemla_ipc::SimpleRequestType_LOAD_CONFIG, id, 0, "test_dna_fast"),
             "belongs before CONNECT"},
            {"id on GET_CONFIGS", simple_request(vemla_ipc::SimpleRequestType_GET_CONFIGS, id),
             "belongs before CONNECT"},
            {"id on CONNECT",
             simple_request(vemla_ipc::SimpleRequestType_CONNECT, id, 0, "test_dna_fast:>client_name=x"),
             "belongs before CONNECT"},
            {"id on QUERY", simple_request(vemla_ipc::SimpleRequestType_QUERY, id, 1), "one-shot query"},
            {"id on GET_STATISTICS", simple_request(vemla_ipc::SimpleRequestType_GET_STATISTICS, id), "one-shot query"},
    };
    for (const auto& c : cases) {
        const Bytes reply = peer.exchange(c.request);
        EXPECT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_BAD_REQUEST) << c.what;
        EXPECT_NE(reply_text(reply).find(c.reason), std::string::npos) << c.what << ": " << reply_text(reply);
    }
    EXPECT_EQ(reply_type(peer.exchange(ping_of_version(vemla_ipc::ProtocolVersion(11, 0, 0)))),
              vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
}

TEST_F(TestServerSocket, NextCalledBlockMustNameTheStrandBeingReturned) {
    Peer peer(endpoint);
    const std::string id = connect(peer);
    pass_read(peer, id, 9, signal_of(1000, 12), 1000);  // 200 positions: 4 called blocks of 50
    const Bytes first = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id));
    const auto* block = root(first)->content_as_ReadBlockData();
    ASSERT_NE(block, nullptr);
    ASSERT_GT(block->num_blocks(), 1u);
    const Bytes wrong = peer.exchange(
            simple_request(vemla_ipc::SimpleRequestType_GET_NEXT_CALLED_BLOCK, id, 9, block->strand_id()->str() + "x"));
    EXPECT_EQ(reply_type(wrong), vemla_ipc::SimpleReplyType_BAD_REQUEST);
    EXPECT_NE(reply_text(wrong).find("names strand"), std::string::npos) << reply_text(wrong);
    const Bytes right = peer.exchange(
            simple_request(vemla_ipc::SimpleRequestType_GET_NEXT_CALLED_BLOCK, id, 9, block->strand_id()->str()));
    ASSERT_NE(root(right)->content_as_ReadBlockData(), nullptr);
    EXPECT_EQ(root(right)->content_as_ReadBlockData()->block_index(), 1u);
}

TEST_F(TestServerSocket, QueryStillAnswersAfterRequestsWithInvalidUtf8) {
    Peer peer(endpoint);
    const std::string bad_name = "no\xff\xfe_config";
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_LOAD_CONFIG, {}, 0, bad_name))),
              vemla_ipc::SimpleReplyType_REQUEST_FAILED);
    const Bytes reply = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_QUERY, {}, 1));
    ASSERT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_RESPONSE);
    const auto report = nlohmann::json::parse(reply_text(reply));
    EXPECT_EQ(report["received"]["load_requests"].size(), 1u);
}

// --- fault switches ---------------------------------------------------------

TEST_F(TestServerSocket, DropReplyLeavesOneRequestUnanswered) {
    server->add_fault({Fault::drop_reply, RequestKind::heartbeat_ping, 0, 1, 0});
    Peer silent(endpoint);
    silent.send(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING));
    while (server->requests_seen(RequestKind::heartbeat_ping) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Peer other(endpoint);
    EXPECT_EQ(reply_type(other.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING))),
              vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
    EXPECT_EQ(server->faults_pending(), 0u);
    EXPECT_FALSE(silent.receive(300));
}

TEST_F(TestServerSocket, DelayedReplyIsOvertakenByALaterRequest) {
    server->add_fault({Fault::delay_reply, RequestKind::get_statistics, 0, 1, 5000});
    Peer slow(endpoint), fast(endpoint);
    slow.send(simple_request(vemla_ipc::SimpleRequestType_GET_STATISTICS));
    while (server->requests_seen(RequestKind::get_statistics) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(reply_type(fast.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING))),
              vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
    EXPECT_FALSE(slow.receive(0)) << "the delayed reply is still held";
    const auto late = slow.receive(30000);
    ASSERT_TRUE(late);
    EXPECT_NE(root(*late)->content_as_ServerStats(), nullptr);
}

TEST_F(TestServerSocket, GarbageRepliesAreShortForeignOrCorrupt) {
    Peer peer(endpoint);
    server->add_fault({Fault::short_frame, RequestKind::heartbeat_ping, 0, 1, 0});
    EXPECT_EQ(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING)).size(), 7u);

    server->add_fault({Fault::foreign_identifier, RequestKind::heartbeat_ping, 0, 1, 0});
    const Bytes foreign = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING));
    ASSERT_GE(foreign.size(), 8u);
    EXPECT_FALSE(flatbuffers::BufferHasIdentifier(foreign.data(), vemla_ipc::MessageDataIdentifier()));

    server->add_fault({Fault::corrupt_body, RequestKind::heartbeat_ping, 0, 1, 0});
    const Bytes corrupt = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING));
    ASSERT_GE(corrupt.size(), 8u);
    EXPECT_TRUE(flatbuffers::BufferHasIdentifier(corrupt.data(), vemla_ipc::MessageDataIdentifier()));
    flatbuffers::Verifier verifier(corrupt.data(), corrupt.size());
    EXPECT_FALSE(vemla_ipc::VerifyMessageDataBuffer(verifier));

    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING))),
              vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
}

TEST_F(TestServerSocket, BadRequestFaultReplacesTheAnswer) {
    server->add_fault({Fault::bad_request, RequestKind::get_barcode_kits, 0, 1, 0});
    Peer peer(endpoint);
    const Bytes reply = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_BARCODE_KITS));
    EXPECT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_BAD_REQUEST);
    EXPECT_FALSE(reply_text(reply).empty());
    const Bytes kits = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_BARCODE_KITS));
    ASSERT_NE(root(kits)->content_as_ConfigListData(), nullptr);
    EXPECT_EQ(root(kits)->content_as_ConfigListData()->barcode_kits()->size(), 2u);
}

TEST_F(TestServerSocket, NotReadyOnAFirstBlockLetsTheClientOfferItAgain) {
    server->add_fault({Fault::not_ready, RequestKind::pass_first_raw_block, 0, 1, 0});
    Peer peer(endpoint);
    const std::string id = connect(peer);
    const auto samples = signal_of(600, 5);
    const auto first_try = pass_read(peer, id, 4, samples, 600);
    EXPECT_EQ(first_try, std::vector<vemla_ipc::SimpleReplyType>{vemla_ipc::SimpleReplyType_NOT_READY});
    const auto second_try = pass_read(peer, id, 4, samples, 600);
    EXPECT_EQ(second_try, std::vector<vemla_ipc::SimpleReplyType>{vemla_ipc::SimpleReplyType_RAW_BLOCK_ACCEPTED});
    EXPECT_EQ(pull_sequence(peer, id), expected_sequence(samples));
}

TEST_F(TestServerSocket, NotReadyOnALaterBlockBreaksTheRead) {
    server->add_fault({Fault::not_ready, RequestKind::pass_next_raw_block, 1, 1, 0});
    Peer peer(endpoint);
    const std::string id = connect(peer);
    const auto replies = pass_read(peer, id, 4, signal_of(1000, 6), 250);
    EXPECT_EQ(replies,
              (std::vector<vemla_ipc::SimpleReplyType>{
                      vemla_ipc::SimpleReplyType_RAW_BLOCK_ACCEPTED, vemla_ipc::SimpleReplyType_RAW_BLOCK_ACCEPTED,
                      vemla_ipc::SimpleReplyType_NOT_READY, vemla_ipc::SimpleReplyType_BAD_REQUEST}));
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id))),
              vemla_ipc::SimpleReplyType_NONE_PENDING)
            << "the unfinished read is not called";
}

TEST_F(TestServerSocket, ForgetClientsMakesEveryIdUnknown) {
    Peer peer(endpoint);
    const std::string id = connect(peer);
    server->add_fault({Fault::forget_clients, RequestKind::heartbeat_ping, 0, 1, 0});
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING, id))),
              vemla_ipc::SimpleReplyType_CLIENT_NOT_RECOGNISED);
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_DISCONNECT, id))),
              vemla_ipc::SimpleReplyType_CLIENT_NOT_RECOGNISED);
    const std::string again = connect(peer);
    EXPECT_NE(again, id);
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_DISCONNECT, again))),
              vemla_ipc::SimpleReplyType_DISCONNECTED);
}

TEST_F(TestServerSocket, LoseReadsAnswersNonePendingWithTheLostFlag) {
    Peer peer(endpoint);
    const std::string id = connect(peer);
    pass_read(peer, id, 8, signal_of(500, 7), 500);
    server->add_fault({Fault::lose_reads, RequestKind::get_first_called_block, 0, 1, 0});
    const Bytes lost = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id));
    EXPECT_EQ(reply_type(lost), vemla_ipc::SimpleReplyType_NONE_PENDING);
    EXPECT_EQ(reply_value(lost), 1u);
    const Bytes none = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id));
    EXPECT_EQ(reply_type(none), vemla_ipc::SimpleReplyType_NONE_PENDING);
    EXPECT_EQ(reply_value(none), 0u);
}

TEST_F(TestServerSocket, InconsistentCalledDataOverstatesItsCounts) {
    Peer peer(endpoint);
    const std::string id = connect(peer);
    pass_read(peer, id, 8, signal_of(1500, 8), 500);
    server->add_fault({Fault::inconsistent_called_data, RequestKind::get_first_called_block, 0, 1, 0});
    const Bytes reply = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id));
    const auto* block = root(reply)->content_as_ReadBlockData();
    ASSERT_NE(block, nullptr);
    const auto* called = block->called_data();
    ASSERT_NE(called->event_data_as_MoveTraceData(), nullptr);
    EXPECT_GT(called->block_positions(), called->event_data_as_MoveTraceData()->moves()->size());
}

TEST_F(TestServerSocket, DyingAndComingBackOnTheSameEndpointForgetsEverything) {
    Peer peer(endpoint);
    const std::string id = connect(peer);
    server->add_fault({Fault::die_and_return, RequestKind::heartbeat_ping, 0, 1, 200});
    peer.send(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING, id));
    while (server->restarts() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(peer.receive(300)) << "the request died with the socket";

    Peer after(endpoint);  // a fresh socket, as a client resets after a time-out
    EXPECT_EQ(reply_type(after.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING, id))),
              vemla_ipc::SimpleReplyType_CLIENT_NOT_RECOGNISED);
    const Bytes configs = after.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_CONFIGS));
    ASSERT_NE(root(configs)->content_as_ConfigListData(), nullptr);
    EXPECT_EQ(root(configs)->content_as_ConfigListData()->configs()->size(), 0u) << "loaded configs are forgotten";
    EXPECT_NE(connect(after), id);
}

TEST_F(TestServerSocket, RestartOnRequestRebindsTheSameEndpoint) {
    server->restart(std::chrono::milliseconds(50));
    while (server->restarts() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Peer peer(endpoint);
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING))),
              vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
    EXPECT_EQ(server->report()["ServerInformation"]["restarts"], 1);
}

TEST_F(TestServerSocket, ASplitReadReturnsItsSubReadsBeforeItself) {
    Peer peer(endpoint);
    EXPECT_EQ(
            reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_LOAD_CONFIG, {}, 0, "test_dna_fast"))),
            vemla_ipc::SimpleReplyType_SUCCESS);
    const Bytes connected = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_CONNECT, {}, 0,
                                                         "test_dna_fast:>client_name=splitter>do_read_splitting=1"));
    ASSERT_EQ(reply_type(connected), vemla_ipc::SimpleReplyType_CONNECTED);
    const std::string id = reply_text(connected);
    const auto samples = signal_of(3000, 9);
    pass_read(peer, id, 21, samples, 1000);

    std::vector<uint32_t> sub_tags;
    std::vector<uint32_t> durations;
    for (int i = 0; i < 3; ++i) {
        const Bytes first = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id));
        const auto* block = root(first)->content_as_ReadBlockData();
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block->read_tag(), 21u);
        sub_tags.push_back(block->sub_tag());
        durations.push_back(block->duration());
        for (uint32_t k = 1; k < block->num_blocks(); ++k) {
            const Bytes next = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_NEXT_CALLED_BLOCK, id, 21,
                                                            block->strand_id()->str()));
            const auto* later = root(next)->content_as_ReadBlockData();
            ASSERT_NE(later, nullptr);
            EXPECT_EQ(later->sub_tag(), block->sub_tag());
        }
    }
    EXPECT_EQ(sub_tags, (std::vector<uint32_t>{1, 2, 0}));
    EXPECT_EQ(durations[0] + durations[1], samples.size());
    EXPECT_EQ(durations[2], samples.size());
    EXPECT_EQ(reply_type(peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id))),
              vemla_ipc::SimpleReplyType_NONE_PENDING);
}

TEST_F(TestServerSocket, ReplyLatencyHoldsEveryReply) {
    auto settings = ServerSettings::defaults();
    settings.reply_latency_ms = 3000;
    start(settings);
    Peer peer(endpoint);
    peer.send(simple_request(vemla_ipc::SimpleRequestType_HEARTBEAT_PING));
    while (server->requests_seen(RequestKind::heartbeat_ping) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(peer.receive(0)) << "the reply is held back";
    const auto reply = peer.receive(30000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply_type(*reply), vemla_ipc::SimpleReplyType_HEARTBEAT_ECHO);
}

TEST_F(TestServerSocket, AReadIsNotPendingBeforeItsCallDelayHasPassed) {
    auto settings = ServerSettings::defaults();
    settings.call_delay_ms = 600000;
    start(settings);
    Peer peer(endpoint);
    const std::string id = connect(peer);
    pass_read(peer, id, 5, signal_of(800, 10), 800);
    const Bytes reply = peer.exchange(simple_request(vemla_ipc::SimpleRequestType_GET_FIRST_CALLED_BLOCK, id));
    EXPECT_EQ(reply_type(reply), vemla_ipc::SimpleReplyType_NONE_PENDING);
    EXPECT_EQ(reply_value(reply), 0u);
    EXPECT_EQ(server->report()["clients"][0]["reads_pending"], 1);
}
