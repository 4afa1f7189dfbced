#include "basecall_service/connection_protocol.h"

#include "status_recorder.h"
#include "test_server/test_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

using basecall_service::ClientConnectionState;
using basecall_service::ClientStatus;
using basecall_service::ConnectionError;
using basecall_service::ConnectionProtocol;
using test_server::RequestKind;

namespace {

constexpr uint32_t REPLY_TIMEOUT_MS = 5000;
constexpr uint32_t FILE_LOAD_TIMEOUT_S = 30;

const std::string INDEX = "/refs/test_ref.mmi";
const std::string BED_FILE = "/refs/test_targets.bed";

ipc_tools::ConnectionInfo connection_info(const std::string& config = "test_dna_fast") {
    ipc_tools::ConnectionInfo info;
    info.config = config;
    info.client_name = "engine_test";
    return info;
}

void use_index_and_bed(ipc_tools::ConnectionInfo& info) {
    info.align_ref = INDEX;
    info.bed_file = BED_FILE;
    info.params.insert("align_ref", INDEX);
    info.params.insert("bed_file", BED_FILE);
}

test_server::FaultRule fault(const std::string& text) {
    test_server::FaultRule rule;
    std::string error;
    if (!test_server::parse_fault_rule(text, rule, error)) {
        throw std::invalid_argument(error);
    }
    return rule;
}

// A protocol with its connection state, talking to a test server.
struct Connector {
    explicit Connector(const std::string& address, uint32_t reply_timeout_ms = REPLY_TIMEOUT_MS)
        : recorder(state), protocol(state) {
        protocol.set_connection_params(address, reply_timeout_ms);
    }

    basecall_service::RequestBrokerAdapter* connect(const ipc_tools::ConnectionInfo& info,
                                                    uint32_t file_load_timeout_s = FILE_LOAD_TIMEOUT_S) {
        return protocol.establish_server_connection(info, file_load_timeout_s);
    }

    ClientConnectionState state;
    vemla_test::StatusRecorder recorder;
    ConnectionProtocol protocol;
};

const std::vector<ClientStatus> FULL_SEQUENCE = {
        ClientStatus::preparing_connection, ClientStatus::loading_config, ClientStatus::loading_alignment_index,
        ClientStatus::loading_bed_file,     ClientStatus::connecting,     ClientStatus::connected};

}  // namespace

TEST(ConnectionProtocol, FullSequenceLoadsEveryFileRegistersAndSaysGoodbye) {
    test_server::TestServer server;
    Connector connector(server.start());
    auto info = connection_info();
    use_index_and_bed(info);
    ASSERT_NE(connector.connect(info), nullptr) << to_string(connector.protocol.error_state());
    EXPECT_EQ(connector.recorder.wait_for(FULL_SEQUENCE.size()), FULL_SEQUENCE);
    EXPECT_EQ(connector.protocol.error_state().code, ConnectionError::no_error);

    const auto& details = connector.protocol.get_config_details();
    EXPECT_EQ(details.config_name, "test_dna_fast");
    EXPECT_EQ(details.model_stride, 5u);
    EXPECT_EQ(details.label_length, 1u);
    EXPECT_EQ(details.model_type, "test_moves");
    EXPECT_EQ(details.model_version_id, "test_dna_fast@v1");
    EXPECT_FLOAT_EQ(details.qscore_offset, 0.5f);
    EXPECT_FLOAT_EQ(details.qscore_scale, 1.25f);
    EXPECT_FLOAT_EQ(details.temp_weight, 1.0f);
    EXPECT_FLOAT_EQ(details.temp_bias, 0.25f);
    EXPECT_FLOAT_EQ(details.beam_cut, 100.0f);
    EXPECT_EQ(details.beam_width, 40u);
    EXPECT_EQ(connector.protocol.get_alignment_file_header().rfind("@SQ\tSN:", 0), 0u);

    auto report = server.report();
    EXPECT_EQ(report["received"]["load_requests"],
              nlohmann::ordered_json({"LOAD_CONFIG test_dna_fast", "LOAD_INDEX " + INDEX, "LOAD_BED " + BED_FILE}));
    ASSERT_EQ(report["clients"].size(), 1u);
    const std::string first_id = connector.protocol.get_connection_id();
    EXPECT_EQ(report["clients"][0]["id"], first_id);
    EXPECT_EQ(report["clients"][0]["client_name"], "engine_test");

    // The same object serves a reconnect: a new socket and a new id.
    connector.recorder.clear();
    ASSERT_NE(connector.connect(info), nullptr);
    EXPECT_EQ(connector.recorder.wait_for(FULL_SEQUENCE.size()), FULL_SEQUENCE);
    EXPECT_NE(connector.protocol.get_connection_id(), first_id);

    connector.protocol.disconnect_from_server();
    report = server.report();
    ASSERT_EQ(report["clients"].size(), 1u);
    EXPECT_EQ(report["clients"][0]["id"], first_id);
}

TEST(ConnectionProtocol, WithoutIndexOrBedTheirStatusesPassButNothingIsAsked) {
    test_server::TestServer server;
    Connector connector(server.start());
    ASSERT_NE(connector.connect(connection_info()), nullptr);
    EXPECT_EQ(connector.recorder.wait_for(FULL_SEQUENCE.size()), FULL_SEQUENCE);
    for (const auto kind : {RequestKind::load_index, RequestKind::get_indices, RequestKind::load_bed}) {
        EXPECT_EQ(server.requests_seen(kind), 0u) << request_kind_name(kind);
    }
    EXPECT_TRUE(connector.protocol.get_alignment_file_header().empty());
}

TEST(ConnectionProtocol, LoadingRepliesAreAskedAgainUntilSuccess) {
    auto settings = test_server::ServerSettings::defaults();
    settings.loading_replies = 3;
    test_server::TestServer server(settings);
    Connector connector(server.start());
    ASSERT_NE(connector.connect(connection_info()), nullptr) << to_string(connector.protocol.error_state());
    EXPECT_EQ(server.requests_seen(RequestKind::load_config), 4u);
}

TEST(ConnectionProtocol, FileLoadTimeOutOfZeroMakesExactlyOneAttempt) {
    auto settings = test_server::ServerSettings::defaults();
    settings.loading_replies = 3;
    test_server::TestServer server(settings);
    Connector connector(server.start());
    EXPECT_EQ(connector.connect(connection_info(), 0), nullptr);
    EXPECT_EQ(connector.protocol.error_state().code, ConnectionError::file_load_timeout);
    EXPECT_EQ(connector.protocol.error_state().message,
              "Server did not process load request 'LOAD_CONFIG' for file test_dna_fastwithin the 0s timeout. "
              "Try increasing server_file_load_timeout");
    EXPECT_EQ(server.requests_seen(RequestKind::load_config), 1u);
    EXPECT_EQ(connector.state.get_status(), ClientStatus::loading_config);
}

TEST(ConnectionProtocol, EachFailureLeavesItsCodeMessageAndStatus) {
    struct Case {
        std::string name;
        std::string fault;  // empty: none
        std::function<void(ipc_tools::ConnectionInfo&)> adjust;
        ConnectionError code;
        std::string message;
        ClientStatus status;
    };
    const auto with_index_and_bed = [](ipc_tools::ConnectionInfo& info) { use_index_and_bed(info); };
    const auto config = [](const std::string& name) {
        return [name](ipc_tools::ConnectionInfo& info) { info.config = name; };
    };
    const std::string refused = "Could not register on server (connection refused due to ";
    const std::vector<Case> cases = {
            {"unknown config", "", config("no_such_config"), ConnectionError::basecall_config_unavailable,
             "Unknown basecall config: no_such_config", ClientStatus::loading_config},
            {"unknown index", "", [](ipc_tools::ConnectionInfo& info) { info.align_ref = "/refs/missing.mmi"; },
             ConnectionError::align_index_unavailable, "Unknown alignment index: /refs/missing.mmi",
             ClientStatus::loading_alignment_index},
            {"unknown BED file", "", [](ipc_tools::ConnectionInfo& info) { info.bed_file = "/refs/missing.bed"; },
             ConnectionError::bed_file_unavailable, "Unknown BED file: /refs/missing.bed",
             ClientStatus::loading_bed_file},
            {"load answered oddly", "reply_with=RESPONSE:LOAD_INDEX", with_index_and_bed,
             ConnectionError::invalid_response,
             "Error. Load request 'LOAD_INDEX' received an invalid reply type: RESPONSE",
             ClientStatus::loading_alignment_index},
            {"config loaded but not listed", "reply_with=SUCCESS:LOAD_CONFIG", config("unlisted_config"),
             ConnectionError::basecall_config_unavailable,
             "could not retrieve details for config from server: unlisted_config", ClientStatus::loading_config},
            {"config list answered oddly", "reply_with=RESPONSE:GET_CONFIGS", nullptr,
             ConnectionError::invalid_response, "Could not get details from server (invalid reply type). RESPONSE",
             ClientStatus::loading_config},
            {"index loaded but not listed", "reply_with=SUCCESS:LOAD_INDEX",
             [](ipc_tools::ConnectionInfo& info) { info.align_ref = "/refs/unlisted.mmi"; },
             ConnectionError::align_index_unavailable,
             "Could not retrieve alignment file header for: /refs/unlisted.mmi", ClientStatus::loading_alignment_index},
            {"index list answered oddly", "reply_with=LOADING:GET_INDICES", with_index_and_bed,
             ConnectionError::invalid_response,
             "Could not get alignment indices from server (invalid reply type). LOADING",
             ClientStatus::loading_alignment_index},
            {"INVALID_CONFIG", "reply_with=INVALID_CONFIG:CONNECT", with_index_and_bed,
             ConnectionError::basecall_config_unavailable, refused + "unsupported basecall config \"test_dna_fast\").",
             ClientStatus::connecting},
            {"INVALID_BARCODE_KIT", "reply_with=INVALID_BARCODE_KIT:CONNECT",
             [](ipc_tools::ConnectionInfo& info) { info.barcode_kits = "TEST-BC12"; },
             ConnectionError::barcode_kit_unavailable, refused + "unsupported barcoding kit \"TEST-BC12\").",
             ClientStatus::connecting},
            {"INVALID_INDEX", "reply_with=INVALID_INDEX:CONNECT", with_index_and_bed,
             ConnectionError::align_index_unavailable, refused + "unsupported alignment index \"" + INDEX + "\").",
             ClientStatus::connecting},
            {"INVALID_BED", "reply_with=INVALID_BED:CONNECT", with_index_and_bed, ConnectionError::bed_file_unavailable,
             refused + "unsupported bed file \"" + BED_FILE + "\").", ClientStatus::connecting},
            {"INDEX_NO_SEQ", "reply_with=INDEX_NO_SEQ:CONNECT", with_index_and_bed, ConnectionError::align_index_no_seq,
             refused + "full alignment not being supported by alignment index \"" + INDEX + "\").",
             ClientStatus::connecting},
            {"other CONNECT reply", "reply_with=LOADING:CONNECT", nullptr, ConnectionError::invalid_response,
             "Could not register on server (invalid response).", ClientStatus::connecting},
            {"CONNECTED without id", "reply_with=CONNECTED:CONNECT", nullptr, ConnectionError::invalid_response,
             "Could not register on server (the reply carries no connection id).", ClientStatus::connecting},
            {"refused request", "bad_request:GET_CONFIGS", nullptr, ConnectionError::bad_request,
             "Bad request message: GET_CONFIGS. fault injected: bad_request", ClientStatus::loading_config},
    };
    for (const auto& failure : cases) {
        SCOPED_TRACE(failure.name);
        test_server::TestServer server;
        if (!failure.fault.empty()) {
            server.add_fault(fault(failure.fault));
        }
        Connector connector(server.start());
        auto info = connection_info();
        if (failure.adjust) {
            failure.adjust(info);
        }
        EXPECT_EQ(connector.connect(info), nullptr);
        EXPECT_EQ(connector.protocol.error_state().code, failure.code);
        EXPECT_EQ(connector.protocol.error_state().message, failure.message);
        EXPECT_EQ(connector.state.get_status(), failure.status);
        EXPECT_EQ(server.report()["clients"].size(), 0u);
    }
}

TEST(ConnectionProtocol, ConfigWithModelStrideZeroIsRefused) {
    auto settings = test_server::ServerSettings::defaults();
    settings.configs[0].model_stride = 0;
    test_server::TestServer server(settings);
    Connector connector(server.start());
    EXPECT_EQ(connector.connect(connection_info(settings.configs[0].name)), nullptr);
    EXPECT_EQ(connector.protocol.error_state().code, ConnectionError::invalid_response);
    EXPECT_EQ(connector.protocol.error_state().message,
              "Server reported a model stride of 0 for config: " + settings.configs[0].name);
    EXPECT_EQ(server.requests_seen(RequestKind::connect), 0u);
}

TEST(ConnectionProtocol, UnsendableConnectionStringFailsWithoutThrowing) {
    test_server::TestServer server;
    Connector connector(server.start());
    auto info = connection_info();
    info.client_name = "two>names";
    EXPECT_EQ(connector.connect(info), nullptr);
    EXPECT_EQ(connector.protocol.error_state().code, ConnectionError::failed);
    EXPECT_NE(connector.protocol.error_state().message.find("Cannot build connection string"), std::string::npos);
    EXPECT_EQ(server.requests_seen(RequestKind::connect), 0u);
}

TEST(ConnectionProtocol, PriorityTravelsAsTheServerRanksIt) {
    test_server::TestServer server;
    const std::string address = server.start();
    const std::vector<std::pair<uint32_t, uint32_t>> priorities = {{0, 2}, {1, 1}, {2, 0}, {5, 5}};
    for (const auto& [priority, on_the_wire] : priorities) {
        Connector connector(address);
        auto info = connection_info();
        info.priority = priority;
        ASSERT_NE(connector.connect(info), nullptr);
        const std::string id = connector.protocol.get_connection_id();
        bool found = false;
        const auto report = server.report();
        for (const auto& client : report["clients"]) {
            if (client["id"] == id) {
                found = true;
                EXPECT_EQ(client["priority"], on_the_wire) << "priority " << priority;
            }
        }
        EXPECT_TRUE(found) << id;
    }
}

TEST(ConnectionProtocol, StopEndsALongLoadWithinOnePause) {
    auto settings = test_server::ServerSettings::defaults();
    settings.loading_replies = 1000;
    test_server::TestServer server(settings);
    Connector connector(server.start());
    auto outcome = std::async(std::launch::async, [&] { return connector.connect(connection_info(), 600); });
    while (server.requests_seen(RequestKind::load_config) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    connector.protocol.stop();
    EXPECT_EQ(outcome.get(), nullptr);
    // A stop is no failure: the worker ends the connection without an error.
    EXPECT_EQ(connector.protocol.error_state().code, ConnectionError::no_error);
    EXPECT_LE(server.requests_seen(RequestKind::load_config), 2u);
    // Once stopped, a later attempt gives up before asking anything.
    const auto asked = server.requests_seen(RequestKind::load_config);
    EXPECT_EQ(connector.connect(connection_info()), nullptr);
    EXPECT_EQ(connector.protocol.error_state().code, ConnectionError::no_error);
    EXPECT_EQ(server.requests_seen(RequestKind::load_config), asked);
}
