#pragma once
// Everything the test server knows and answers, without any socket: one
// decoded request in, one reply frame out. The socket side (TestServer)
// adds the transport faults and the timing.
#include "test_server/called_block_plan.h"
#include "test_server/called_read.h"
#include "test_server/connection_string_reader.h"
#include "test_server/raw_read_assembler.h"
#include "test_server/server_settings.h"
#include "test_server/wire_codec.h"

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace test_server {

// Faults that change what the answer says (the rest act on the transport).
struct ContentFaults {
    bool bad_request = false;
    bool not_ready = false;
    bool lose_reads = false;
    bool report_lost_reads = false;
    bool inconsistent_called_data = false;
    bool absent_optional_vectors = false;
    bool empty_extra_block = false;
    bool late_return = false;
    bool claim_many_blocks = false;
    std::optional<ReplyKind> reply_with;  // answer with this kind instead
};

class ServerLogic {
public:
    using Clock = std::chrono::steady_clock;

    explicit ServerLogic(ServerSettings settings);

    // Takes the request by value: a raw block's samples move on into the read.
    Bytes handle(DecodedRequest request, const ContentFaults& faults, Clock::time_point now);

    // Every connection id becomes unknown (CLIENT_NOT_RECOGNISED), as after
    // a server restart; loaded files stay loaded.
    void forget_clients();
    // A restarted server: no clients, nothing loaded; what it has seen stays
    // in the report.
    void restart();

    // The internal state the QUERY request returns, with what was received.
    nlohmann::ordered_json report() const;

    const ServerSettings& settings() const { return m_settings; }
    uint64_t requests_seen(RequestKind kind) const { return m_request_counts[static_cast<size_t>(kind)]; }

private:
    struct PendingCall {
        Clock::time_point ready_at;
        CalledRead call;
    };
    struct ReturningCall {
        CalledRead call;
        std::vector<CalledBlockSpan> blocks;
        uint32_t next = 0;
        CalledBlockOptions options;
        bool bare_last_block = false;  // the empty extra block: no optional vectors
    };
    // A call reported lost but kept: it comes back once a read under its tag
    // has reached the server again.
    struct WithheldCall {
        CalledRead call;
        bool released = false;
    };
    struct ClientSession {
        std::string id;
        std::string connection_string;
        ConnectionRequest request;
        CallOptions options;
        uint32_t priority = 0;
        RawReadAssembler assembler;
        std::deque<PendingCall> pending;
        std::deque<WithheldCall> withheld;
        std::optional<ReturningCall> returning;
        uint32_t reads_in = 0;
        uint32_t reads_out = 0;
    };

    // BAD_REQUEST with the reason, which the report keeps.
    Bytes refuse(const std::string& reason);
    Bytes handle_load(const DecodedRequest& request);
    Bytes handle_connect(const DecodedRequest& request);
    Bytes handle_raw_block(RawBlock block, ClientSession& session, const ContentFaults& faults, Clock::time_point now);
    Bytes handle_first_called_block(const DecodedRequest& request,
                                    ClientSession& session,
                                    const ContentFaults& faults,
                                    Clock::time_point now);
    Bytes handle_next_called_block(const DecodedRequest& request, ClientSession& session, const ContentFaults& faults);
    Bytes handle_statistics();
    Bytes send_block(ClientSession& session, bool absent_vectors);
    // The next call to return, honouring withheld ones; nothing when none is due.
    std::optional<CalledRead> next_call(ClientSession& session, Clock::time_point now);
    ClientSession* find_session(const std::string& id);

    ServerSettings m_settings;
    std::map<std::string, ClientSession> m_sessions;
    std::map<std::string, uint32_t> m_load_attempts;  // "KIND name" -> LOADING replies given
    std::set<std::string> m_loaded_configs, m_loaded_indices, m_loaded_beds;
    uint64_t m_next_id = 1;
    uint32_t m_generation = 1;
    uint64_t m_lifetime_in = 0, m_lifetime_out = 0, m_period_in = 0, m_period_out = 0;

    // What was received, for tests to inspect through QUERY.
    std::array<uint64_t, request_kind_count> m_request_counts{};
    std::vector<std::string> m_connection_strings;
    std::vector<std::string> m_load_requests;
    std::deque<nlohmann::ordered_json> m_reads_received;
    std::deque<std::string> m_refusals;
};

}  // namespace test_server
