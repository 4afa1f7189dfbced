#include "ipc_tools/request_broker.h"

#include "common/trace_testability.h"
#include "sample_frames.h"
#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

using ipc_tools::BadReply;
using ipc_tools::BadRequest;
using ipc_tools::InvalidResponse;
using ipc_tools::Message;
using ipc_tools::MessageType;
using ipc_tools::RequestBroker;
using ipc_tools::TimeoutError;
using ipc_tools::test::Frame;
using ipc_tools::test::ReceivedRequest;
using ipc_tools::test::ScriptedPeer;
using ipc_tools::test::simple_reply;

namespace {

namespace testability = common::diagnostics::tracing::testability;

// The broker's high-frequency trace writes one line per poll; collecting it
// lets the tests count polls instead of timing them.
class BrokerTraceLines : public ::testing::Environment {
public:
    void SetUp() override {
        testability::set_custom_trace_writer([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
        testability::set_enabled_trace_domains("hftrace::ipc_tools::RequestBroker");
    }

    void clear() {
        testability::wait_for_trace_writer();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

    std::size_t poll_count() {
        testability::wait_for_trace_writer();
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<std::size_t>(std::count_if(m_lines.begin(), m_lines.end(), [](const std::string& line) {
            return line.find("num events: ") != std::string::npos;
        }));
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

BrokerTraceLines* const trace_lines =
        static_cast<BrokerTraceLines*>(::testing::AddGlobalTestEnvironment(new BrokerTraceLines));

ipc_tools::test::Handler always(Frame reply) {
    return [reply](const ReceivedRequest&) { return std::vector<Frame>{reply}; };
}

ipc_tools::test::Handler silent() {
    return [](const ReceivedRequest&) { return std::nullopt; };
}

template <typename Error>
std::string error_text_of(RequestBroker& broker, Message request) {
    Message reply;
    try {
        broker.send_request(request, reply);
    } catch (const Error& error) {
        return error.what();
    }
    return "<no error>";
}

Message connect_request() {
    return Message(MessageType::CONNECT, "", 2, "cfg:>timeout_interval=100");
}

constexpr uint32_t SHORT_TIMEOUT_MS = 20;
constexpr uint32_t LONG_TIMEOUT_MS = 5000;

}  // namespace

TEST(RequestBrokerAddress, Normalisation) {
    RequestBroker broker;
    EXPECT_EQ(broker.generate_server_address("ipc:///tmp/socket"), "ipc:///tmp/socket");
    EXPECT_EQ(broker.generate_server_address("ipc://"), "ipc://");
    EXPECT_EQ(broker.generate_server_address("server:5555"), "tcp://server:5555");
    EXPECT_EQ(broker.generate_server_address("5555"), "tcp://localhost:5555");
    EXPECT_EQ(broker.generate_server_address("ipc:/"), "tcp://ipc:/");
    EXPECT_EQ(broker.generate_server_address("tcp://127.0.0.1:5555"), "tcp://127.0.0.1:5555");
}

TEST(RequestBrokerPreconditions, NoSocketOrEmptyRequestIsALogicError) {
    RequestBroker broker;
    Message reply;
    Message request = connect_request();
    try {
        broker.send_request(request, reply);
        FAIL();
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Contract violation. null socket");
    }
    broker.prepare_connection("127.0.0.1:1", SHORT_TIMEOUT_MS);
    Message empty;
    try {
        broker.send_request(empty, reply);
        FAIL();
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Contract violation. invalid request");
    }
}

TEST(RequestBrokerPreconditions, FailedConnectLeavesNoSocketToWaitOn) {
    // Each address fails to connect; a socket kept anyway would make the
    // next request wait forever instead of failing at once.
    for (const std::string address : {"localhost:notaport", "", "ipc://"}) {
        RequestBroker broker;
        broker.prepare_connection("127.0.0.1:1", SHORT_TIMEOUT_MS);
        EXPECT_THROW(broker.prepare_connection(address, SHORT_TIMEOUT_MS), zmq::error_t) << address;
        Message reply;
        Message request = connect_request();
        try {
            broker.send_request(request, reply);
            ADD_FAILURE() << address << ": request sent";
        } catch (const std::logic_error& error) {
            EXPECT_STREQ(error.what(), "Contract violation. null socket") << address;
        }
    }
}

TEST(RequestBrokerExchange, ReplyIsDeliveredAndRequestEmptied) {
    ScriptedPeer peer(always(simple_reply(MessageType::CONNECTED, 0, "connection-id-1")));
    RequestBroker broker;
    broker.prepare_connection(peer.port(), LONG_TIMEOUT_MS);  // bare port: loopback host
    Message request(MessageType::LOAD_CONFIG, "client-9", 0, "dna_config");
    Message reply;
    broker.send_request(request, reply);
    EXPECT_TRUE(request.empty());
    EXPECT_EQ(request.type, MessageType::UNSET);
    ASSERT_EQ(reply.type, MessageType::CONNECTED);
    EXPECT_EQ(reply.get_message_data()->content_as_SimpleReplyData()->text()->str(), "connection-id-1");

    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].type, MessageType::LOAD_CONFIG);
    EXPECT_EQ(requests[0].client_id, "client-9");
    EXPECT_EQ(requests[0].text, "dna_config");

    // A big raw block travels intact.
    std::vector<int16_t> samples(60000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(i * 7);
    }
    const auto bytes = ipc_tools::test::raw_block_frame(samples, "client-9");
    zmq::message_t frame(bytes.data(), bytes.size());
    Message block(frame);
    ASSERT_EQ(block.type, MessageType::PASS_FIRST_RAW_BLOCK);
    broker.send_request(block, reply);
    EXPECT_EQ(peer.requests().back().type, MessageType::PASS_FIRST_RAW_BLOCK);
}

TEST(RequestBrokerTimeout, SilentPeerTimesOutAfterFourPolls) {
    ScriptedPeer peer(silent());
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), SHORT_TIMEOUT_MS);
    trace_lines->clear();
    EXPECT_EQ(error_text_of<TimeoutError>(broker, connect_request()), "Timeout waiting for reply to request: CONNECT");
    EXPECT_EQ(trace_lines->poll_count(), 4u);
}

TEST(RequestBrokerTimeout, UnreachableServerTimesOut) {
    RequestBroker broker;
    broker.prepare_connection("ipc:///nonexistent-folder/vemla-broker-test", SHORT_TIMEOUT_MS);
    EXPECT_EQ(error_text_of<TimeoutError>(broker, Message(MessageType::GET_CONFIGS, "", 0, "")),
              "Timeout waiting for reply to request: GET_CONFIGS");
}

TEST(RequestBrokerTimeout, ReplyDuringSecondPollEndsTheWait) {
    // The peer answers only once the first poll has run out.
    ScriptedPeer peer([](const ReceivedRequest&) {
        while (trace_lines->poll_count() < 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::vector<Frame>{simple_reply(MessageType::SUCCESS)};
    });
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), 600);
    trace_lines->clear();
    Message request(MessageType::LOAD_BED, "", 0, "/data/t.bed");
    Message reply;
    broker.send_request(request, reply);
    EXPECT_EQ(reply.type, MessageType::SUCCESS);
    EXPECT_EQ(trace_lines->poll_count(), 2u);
}

TEST(RequestBrokerReplies, ClientNotRecognisedIsATimeout) {
    ScriptedPeer peer(always(simple_reply(MessageType::CLIENT_NOT_RECOGNISED)));
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
    EXPECT_EQ(error_text_of<TimeoutError>(broker, Message(MessageType::GET_FIRST_CALLED_BLOCK, "c", 0, "")),
              "Received CLIENT_NOT_RECOGNISED from server. Treating as a server restart.");
}

TEST(RequestBrokerReplies, BadRequestCarriesTheServerReason) {
    ScriptedPeer peer(always(simple_reply(MessageType::BAD_REQUEST, 0, "unknown config")));
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
    EXPECT_EQ(error_text_of<BadRequest>(broker, Message(MessageType::LOAD_CONFIG, "", 0, "x")),
              "Bad request message: LOAD_CONFIG. unknown config");
}

TEST(RequestBrokerReplies, BadRequestWithoutReasonHasEmptyText) {
    ScriptedPeer peer(always(simple_reply(MessageType::BAD_REQUEST)));
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
    EXPECT_EQ(error_text_of<BadRequest>(broker, connect_request()), "Bad request message: CONNECT. ");
}

TEST(RequestBrokerReplies, UnreadableRepliesAreBadReplies) {
    const Frame valid = simple_reply(MessageType::CONNECTED, 0, "id");
    Frame corrupt = valid;
    corrupt[0] = 0xF0;  // root offset past the end
    const Frame empty_stats = [] {
        flatbuffers::FlatBufferBuilder b;
        const vemla_ipc::ProtocolVersion version{11, 0, 0};
        vemla_ipc::MessageDataBuilder root(b);
        root.add_version(&version);
        root.add_content_type(vemla_ipc::Content_ServerStats);  // but no table
        b.Finish(root.Finish(), "0011");
        return Frame(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
    }();
    const struct {
        Frame reply;
        const char* reply_name;
    } cases[] = {
            {Frame(valid.begin(), valid.begin() + 7), "UNSET"},
            {Frame{8, 0, 0, 0, 'X', 'Y', 'Z', 'W'}, "INVALID_PROTOCOL"},
            {corrupt, "INVALID_PROTOCOL"},
            {empty_stats, "UNSET"},
            {Frame(), "UNSET"},
    };
    for (const auto& c : cases) {
        ScriptedPeer peer(always(c.reply));
        RequestBroker broker;
        broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
        EXPECT_EQ(error_text_of<BadReply>(broker, Message(MessageType::GET_STATISTICS, "", 0, "")),
                  std::string("Could not interpret message from server for request: GET_STATISTICS. Reply: ") +
                          c.reply_name);
    }
}

TEST(RequestBrokerReplies, MultiPartReplyIsABadReplyAndTheSocketRecovers) {
    const Frame reply = simple_reply(MessageType::SUCCESS);
    int calls = 0;
    ScriptedPeer peer([&](const ReceivedRequest&) {
        return ++calls == 1 ? std::vector<Frame>{reply, reply} : std::vector<Frame>{reply};
    });
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
    EXPECT_EQ(error_text_of<BadReply>(broker, Message(MessageType::LOAD_INDEX, "", 0, "/i.mmi")),
              "Could not interpret message from server for request: LOAD_INDEX. Reply: INVALID_PROTOCOL");
    // Every part was consumed, so the REQ socket may send again.
    Message request(MessageType::LOAD_INDEX, "", 0, "/i.mmi");
    Message answer;
    broker.send_request(request, answer);
    EXPECT_EQ(answer.type, MessageType::SUCCESS);
}

TEST(RequestBrokerReplies, EveryOtherKindIsPassedToTheCaller) {
    for (const auto& sample : ipc_tools::test::all_sample_frames()) {
        zmq::message_t frame(sample.bytes.data(), sample.bytes.size());
        const MessageType kind = Message(frame).type;
        if (kind == MessageType::CLIENT_NOT_RECOGNISED || kind == MessageType::BAD_REQUEST) {
            continue;
        }
        ScriptedPeer peer(always(sample.bytes));
        RequestBroker broker;
        broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
        Message request = connect_request();
        Message reply;
        broker.send_request(request, reply);
        EXPECT_EQ(reply.type, kind) << sample.name;
        EXPECT_EQ(reply.size(), sample.bytes.size()) << sample.name;
    }
}

TEST(RequestBrokerHeartbeat, PingsOnlyAfterAQuietSecond) {
    ScriptedPeer peer([](const ReceivedRequest& request) {
        return std::vector<Frame>{simple_reply(request.type == MessageType::HEARTBEAT_PING
                                                       ? MessageType::HEARTBEAT_ECHO
                                                       : MessageType::RAW_BLOCK_ACCEPTED)};
    });
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
    // Time moves only when the test moves it.
    auto now = std::chrono::steady_clock::now();
    broker.set_clock([&now] { return now; });

    // Before any send the connection counts as quiet.
    broker.ping_server_if_quiet("conn-1");
    ASSERT_EQ(peer.requests().size(), 1u);

    Message request(MessageType::GET_NEXT_CALLED_BLOCK, "conn-1", 0, "");
    Message reply;
    broker.send_request(request, reply);
    now += std::chrono::milliseconds(999);
    broker.ping_server_if_quiet("conn-1");
    broker.ping_server_if_quiet("conn-1");
    EXPECT_EQ(peer.requests().size(), 2u);

    now += std::chrono::milliseconds(1);
    broker.ping_server_if_quiet("conn-1");
    broker.ping_server_if_quiet("conn-1");  // the ping itself restarted the quiet second
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].type, MessageType::HEARTBEAT_PING);
    EXPECT_EQ(requests[2].client_id, "conn-1");
    EXPECT_EQ(requests[2].value, 0u);
    EXPECT_EQ(requests[2].text, "");
}

TEST(RequestBrokerHeartbeat, AnythingButAnEchoIsAnInvalidResponse) {
    ScriptedPeer peer(always(simple_reply(MessageType::NOT_READY)));
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);
    try {
        broker.ping_server_if_quiet("conn-1");
        FAIL();
    } catch (const InvalidResponse& error) {
        EXPECT_STREQ(error.what(), "invalid response from server, expected: HEARTBEAT_ECHO, received: NOT_READY");
    }
}

TEST(RequestBrokerRecovery, LateReplyIsNeverTakenForTheNextAnswerAfterReset) {
    ScriptedPeer peer([](const ReceivedRequest& request) -> std::optional<std::vector<Frame>> {
        if (request.type == MessageType::CONNECT) {
            return std::nullopt;  // answered late, below
        }
        return std::vector<Frame>{simple_reply(MessageType::RESPONSE, 0, "fresh")};
    });
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), SHORT_TIMEOUT_MS);
    EXPECT_THROW(
            {
                Message request = connect_request();
                Message reply;
                broker.send_request(request, reply);
            },
            TimeoutError);
    peer.wait_for_requests(1);
    peer.send_late_reply(simple_reply(MessageType::CONNECTED, 0, "stale"));

    broker.prepare_connection(peer.host_and_port(), LONG_TIMEOUT_MS);  // resets the socket
    Message request = ipc_tools::create_query_request(ipc_tools::QueryCode::server_internal_state, "");
    Message reply;
    broker.send_request(request, reply);
    ASSERT_EQ(reply.type, MessageType::RESPONSE);
    EXPECT_EQ(reply.get_message_data()->content_as_SimpleReplyData()->text()->str(), "fresh");
}

TEST(RequestBrokerRecovery, PeerRestartedOnTheSameEndpoint) {
    RequestBroker broker;
    std::string endpoint;
    {
        ScriptedPeer first(silent());
        endpoint = first.endpoint();
        broker.prepare_connection(first.host_and_port(), SHORT_TIMEOUT_MS);
        EXPECT_EQ(error_text_of<TimeoutError>(broker, connect_request()),
                  "Timeout waiting for reply to request: CONNECT");
    }  // the server goes away with the request unanswered

    ScriptedPeer second(always(simple_reply(MessageType::CONNECTED, 0, "id-2")), endpoint);
    broker.prepare_connection(second.host_and_port(), LONG_TIMEOUT_MS);
    Message request = connect_request();
    Message reply;
    broker.send_request(request, reply);
    ASSERT_EQ(reply.type, MessageType::CONNECTED);
    EXPECT_EQ(reply.get_message_data()->content_as_SimpleReplyData()->text()->str(), "id-2");
    EXPECT_EQ(second.requests().size(), 1u);
}

TEST(RequestBrokerRecovery, SendingAgainBeforeResetIsRefusedBySocket) {
    ScriptedPeer peer(silent());
    RequestBroker broker;
    broker.prepare_connection(peer.host_and_port(), SHORT_TIMEOUT_MS);
    EXPECT_EQ(error_text_of<TimeoutError>(broker, connect_request()), "Timeout waiting for reply to request: CONNECT");
    Message request = connect_request();
    Message reply;
    EXPECT_THROW(broker.send_request(request, reply), zmq::error_t);
    broker.reset();
    EXPECT_EQ(error_text_of<TimeoutError>(broker, connect_request()), "Timeout waiting for reply to request: CONNECT");
}
