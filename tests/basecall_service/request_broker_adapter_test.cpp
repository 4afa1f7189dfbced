#include "basecall_service/request_broker_adapter.h"

#include "tests/common/temp_folder.h"
#include "test_server/test_server.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

using basecall_service::ConnectionError;
using basecall_service::RequestBrokerAdapter;
using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

constexpr uint32_t SHORT_TIMEOUT_MS = 50;
constexpr uint32_t LONG_TIMEOUT_MS = 5000;

}  // namespace

TEST(RequestBrokerAdapter, EachMessagingFailureBecomesItsCode) {
    const std::system_error system_error(EAGAIN, std::system_category(), "Client zmq_msg_send failed");
    errno = EINVAL;
    const zmq::error_t zmq_error;
    struct Case {
        std::function<void()> failure;
        ConnectionError code;
        std::string message;
    };
    const std::vector<Case> cases = {
            {[] { throw ipc_tools::BadReply("unreadable"); }, ConnectionError::bad_reply, "unreadable"},
            {[] { throw ipc_tools::BadRequest("refused"); }, ConnectionError::bad_request, "refused"},
            {[] { throw ipc_tools::TimeoutError("silent"); }, ConnectionError::timed_out, "silent"},
            {[] { throw ipc_tools::InvalidResponse("odd"); }, ConnectionError::invalid_response, "odd"},
            {[&] { throw system_error; }, ConnectionError::failed,
             "std::system_error[system:" + std::to_string(EAGAIN) + "] : " + system_error.what()},
            {[&] { throw zmq_error; }, ConnectionError::failed, "zmq::error_t : Invalid argument"},
    };
    RequestBrokerAdapter adapter;
    for (const auto& failure : cases) {
        EXPECT_FALSE(adapter.invoke(failure.failure));
        EXPECT_EQ(adapter.error_state().code, failure.code) << failure.message;
        EXPECT_EQ(adapter.error_state().message, failure.message);
    }
    // Anything else is not the messaging layer's: it passes through, and the
    // error state of the earlier failure is gone.
    EXPECT_THROW(adapter.invoke([] { throw std::out_of_range("not ours"); }), std::out_of_range);
    EXPECT_EQ(adapter.error_state().code, ConnectionError::no_error);
}

TEST(RequestBrokerAdapter, TimeOutThenSuccessClearsTheError) {
    vemla_test::TempFolder folder;
    RequestBrokerAdapter adapter;
    ASSERT_TRUE(adapter.prepare_connection("ipc://" + folder.str() + "/nobody", SHORT_TIMEOUT_MS));
    Message request(MessageType::GET_CONFIGS, "", 0, "");
    Message reply;
    EXPECT_FALSE(adapter.send_request(request, reply));
    EXPECT_EQ(adapter.error_state().code, ConnectionError::timed_out);
    EXPECT_EQ(adapter.error_state().message, "Timeout waiting for reply to request: GET_CONFIGS");

    test_server::TestServer server;
    ASSERT_TRUE(adapter.prepare_connection(server.start(), LONG_TIMEOUT_MS));
    Message again(MessageType::GET_CONFIGS, "", 0, "");
    ASSERT_TRUE(adapter.send_request(again, reply));
    EXPECT_EQ(reply.type, MessageType::RETURN_CONFIGS);
    EXPECT_EQ(adapter.error_state().code, ConnectionError::no_error);
    EXPECT_TRUE(adapter.error_state().message.empty());
    EXPECT_TRUE(adapter.ping_server_if_quiet(""));
}

TEST(RequestBrokerAdapter, FailedPrepareLeavesNothingToSendOn) {
    RequestBrokerAdapter adapter;
    EXPECT_FALSE(adapter.prepare_connection("localhost:notaport", SHORT_TIMEOUT_MS));
    EXPECT_EQ(adapter.error_state().code, ConnectionError::failed);
    EXPECT_EQ(adapter.error_state().message.rfind("zmq::error_t : ", 0), 0u) << adapter.error_state().message;
    // A request now breaks the broker's precondition at once instead of
    // waiting on a socket connected to nothing.
    Message request(MessageType::GET_CONFIGS, "", 0, "");
    Message reply;
    EXPECT_THROW(adapter.send_request(request, reply), std::logic_error);
}
