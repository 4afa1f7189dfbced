#include "test_server/server_logic.h"

#include <cstdio>
#include <limits>

namespace test_server {

namespace {

constexpr size_t max_logged = 200;  // bound on each received-log list

const char* const index_header = "@SQ\tSN:test_chr1\tLN:10000000\n@SQ\tSN:test_chr2\tLN:10000000\n";

template <typename List, typename Value>
void log_bounded(List& list, Value value) {
    list.push_back(std::move(value));
    if (list.size() > max_logged) {
        list.erase(list.begin());
    }
}

// Why a request may not name a connection: the connect sequence comes before
// there is one, and the one-shot queries need none. Null for the rest.
const char* why_without_client_id(RequestKind kind) {
    switch (kind) {
        case RequestKind::load_config:
        case RequestKind::load_index:
        case RequestKind::load_bed:
        case RequestKind::get_configs:
        case RequestKind::get_indices:
        case RequestKind::connect: return "it belongs before CONNECT";
        case RequestKind::get_barcode_kits:
        case RequestKind::get_lamp_kits:
        case RequestKind::get_statistics:
        case RequestKind::query: return "a one-shot query carries none";
        default: return nullptr;
    }
}

std::string hex64(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

ServerLogic::ServerLogic(ServerSettings settings) : m_settings(std::move(settings)) {}

ServerLogic::ClientSession* ServerLogic::find_session(const std::string& id) {
    const auto it = m_sessions.find(id);
    return it == m_sessions.end() ? nullptr : &it->second;
}

void ServerLogic::forget_clients() {
    m_sessions.clear();
    ++m_generation;
}

void ServerLogic::restart() {
    forget_clients();
    m_load_attempts.clear();
    m_loaded_configs.clear();
    m_loaded_indices.clear();
    m_loaded_beds.clear();
}

Bytes ServerLogic::handle(DecodedRequest request, const ContentFaults& faults, Clock::time_point now) {
    ++m_request_counts[static_cast<size_t>(request.kind)];
    if (request.kind == RequestKind::unknown) {
        return refuse(request.error);
    }
    if (request.version != protocol_version_text()) {
        return refuse(std::string(request_kind_name(request.kind)) + " of protocol version '" + request.version +
                      "' where " + protocol_version_text() + " is spoken");
    }
    const char* const without_id = why_without_client_id(request.kind);
    if (!request.client_id.empty() && without_id) {
        return refuse(std::string(request_kind_name(request.kind)) + " carries client id '" + request.client_id +
                      "' although " + without_id);
    }
    if (faults.bad_request) {
        return build_simple_reply(ReplyKind::bad_request, 0, "fault injected: bad_request");
    }
    if (faults.reply_with) {
        return build_simple_reply(*faults.reply_with);
    }

    switch (request.kind) {
        case RequestKind::load_config:
        case RequestKind::load_index:
        case RequestKind::load_bed: return handle_load(request);
        case RequestKind::get_configs: {
            std::vector<const BasecallConfig*> configs;
            for (const auto& config : m_settings.configs) {
                if (m_loaded_configs.count(config.name)) {
                    configs.push_back(&config);
                }
            }
            return build_config_list(configs);
        }
        case RequestKind::get_indices: {
            std::vector<std::pair<std::string, std::string>> indices;
            for (const auto& name : m_loaded_indices) {
                indices.emplace_back(name, index_header);
            }
            return build_index_list(indices);
        }
        case RequestKind::connect: return handle_connect(request);
        case RequestKind::get_barcode_kits: return build_barcode_kit_list(m_settings.barcode_kits);
        case RequestKind::get_lamp_kits: return build_lamp_kit_list(m_settings.lamp_kits);
        case RequestKind::get_statistics: return handle_statistics();
        case RequestKind::query:
            if (request.value != 1) {
                return build_simple_reply(ReplyKind::bad_request, 0,
                                          "unsupported query code " + std::to_string(request.value));
            }
            // Texts logged from earlier requests need not be valid UTF-8; they
            // must not make the report unanswerable.
            return build_simple_reply(ReplyKind::response, 0,
                                      report().dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
        case RequestKind::terminate:
            return build_simple_reply(ReplyKind::bad_request, 0, "TERMINATE is not supported by the test server");
        case RequestKind::heartbeat_ping:
            if (!request.client_id.empty() && !find_session(request.client_id)) {
                return build_simple_reply(ReplyKind::client_not_recognised);
            }
            return build_simple_reply(ReplyKind::heartbeat_echo);
        default: break;
    }

    // The rest belong to a registered connection.
    ClientSession* session = find_session(request.client_id);
    if (!session) {
        return build_simple_reply(ReplyKind::client_not_recognised);
    }
    switch (request.kind) {
        case RequestKind::disconnect:
            m_sessions.erase(request.client_id);
            return build_simple_reply(ReplyKind::disconnected);
        case RequestKind::pass_first_raw_block:
        case RequestKind::pass_next_raw_block:
            return handle_raw_block(std::move(*request.block), *session, faults, now);
        case RequestKind::get_first_called_block: return handle_first_called_block(request, *session, faults, now);
        case RequestKind::get_next_called_block: return handle_next_called_block(request, *session, faults);
        default: return build_simple_reply(ReplyKind::bad_request, 0, "unexpected request");
    }
}

Bytes ServerLogic::refuse(const std::string& reason) {
    log_bounded(m_refusals, reason);
    return build_simple_reply(ReplyKind::bad_request, 0, reason);
}

Bytes ServerLogic::handle_load(const DecodedRequest& request) {
    const std::string& name = request.text;
    log_bounded(m_load_requests, std::string(request_kind_name(request.kind)) + " " + name);
    bool known = false;
    std::set<std::string>* loaded = nullptr;
    std::string what;
    if (request.kind == RequestKind::load_config) {
        known = m_settings.find_config(name) != nullptr;
        loaded = &m_loaded_configs;
        what = "basecall config";
    } else if (request.kind == RequestKind::load_index) {
        known = m_settings.find_index(name) != nullptr;
        loaded = &m_loaded_indices;
        what = "alignment index";
    } else {
        known = m_settings.has_bed_file(name);
        loaded = &m_loaded_beds;
        what = "BED file";
    }
    if (!known) {
        return build_simple_reply(ReplyKind::request_failed, 0, "Unknown " + what + ": " + name);
    }
    if (!loaded->count(name)) {
        uint32_t& attempts = m_load_attempts[std::string(request_kind_name(request.kind)) + " " + name];
        if (attempts < m_settings.loading_replies) {
            ++attempts;
            return build_simple_reply(ReplyKind::loading);
        }
        loaded->insert(name);
    }
    return build_simple_reply(ReplyKind::success);
}

Bytes ServerLogic::handle_connect(const DecodedRequest& request) {
    log_bounded(m_connection_strings, request.text);
    const auto parsed = read_connection_string(request.text);
    if (!parsed.request) {
        return build_simple_reply(ReplyKind::bad_request, 0, parsed.error);
    }
    const ConnectionRequest& wanted = *parsed.request;
    const BasecallConfig* config = m_settings.find_config(wanted.config);
    if (!config) {
        return build_simple_reply(ReplyKind::invalid_config);
    }
    for (const auto& kit : wanted.barcode_kits()) {
        if (!m_settings.find_barcode_kit(kit)) {
            return build_simple_reply(ReplyKind::invalid_barcode_kit);
        }
    }
    const std::string align_ref = wanted.text("align_ref");
    if (!align_ref.empty()) {
        const AlignmentIndex* index = m_settings.find_index(align_ref);
        bool loaded = false;
        for (const auto& name : m_loaded_indices) {
            loaded = loaded || same_file_name(name, align_ref);
        }
        if (!index || !loaded) {
            return build_simple_reply(ReplyKind::invalid_index);
        }
        if (!index->has_sequence && wanted.text("align_type") == "full") {
            return build_simple_reply(ReplyKind::index_no_seq);
        }
    }
    const std::string bed_file = wanted.text("bed_file");
    if (!bed_file.empty()) {
        bool loaded = false;
        for (const auto& name : m_loaded_beds) {
            loaded = loaded || same_file_name(name, bed_file);
        }
        if (!loaded) {
            return build_simple_reply(ReplyKind::invalid_bed);
        }
    }

    ClientSession session;
    session.id = "test-" + std::to_string(m_generation) + "-" + std::to_string(m_next_id++);
    session.connection_string = request.text;
    session.request = wanted;
    session.options = CallOptions::from(wanted, *config, m_settings.split_min_positions);
    session.options.alignment_targets = m_settings.alignment_targets;
    session.priority = request.value;
    const std::string id = session.id;
    m_sessions.emplace(id, std::move(session));
    return build_simple_reply(ReplyKind::connected, 0, id);
}

Bytes ServerLogic::handle_raw_block(RawBlock block,
                                    ClientSession& session,
                                    const ContentFaults& faults,
                                    Clock::time_point now) {
    if (block.first) {
        // A read under the tag of a withheld call has arrived (taken or not).
        for (auto& withheld : session.withheld) {
            withheld.released = withheld.released || withheld.call.read_tag == block.read_tag;
        }
    }
    if (faults.not_ready) {
        return build_simple_reply(ReplyKind::not_ready);
    }
    auto outcome = session.assembler.add(std::move(block));
    if (!outcome.accepted) {
        return refuse(outcome.error);
    }
    if (outcome.read) {
        const AssembledRead& read = *outcome.read;
        ++session.reads_in;
        ++m_lifetime_in;
        ++m_period_in;
        nlohmann::ordered_json entry;
        entry["client_id"] = session.id;
        entry["read_id"] = read.read_id;
        entry["read_tag"] = read.read_tag;
        entry["sub_tag"] = read.sub_tag;
        entry["num_blocks"] = read.num_blocks;
        entry["duration"] = read.duration;
        entry["daq_offset"] = read.daq_offset;
        entry["daq_scaling"] = read.daq_scaling;
        entry["strand_id"] = read.strand_id;
        entry["start_time"] = read.start_time;
        if (!m_settings.discard_reads) {
            entry["signal_digest"] = hex64(signal_digest(read.signal));
        }
        log_bounded(m_reads_received, std::move(entry));
        if (!m_settings.discard_reads) {
            const auto ready_at = now + std::chrono::milliseconds(m_settings.call_delay_ms);
            for (auto& call : call_read(read, session.options)) {
                session.pending.push_back({ready_at, std::move(call)});
            }
        }
    }
    return build_simple_reply(ReplyKind::raw_block_accepted);
}

Bytes ServerLogic::handle_first_called_block(const DecodedRequest& request,
                                             ClientSession& session,
                                             const ContentFaults& faults,
                                             Clock::time_point now) {
    // A read left half-returned is abandoned: the client asks afresh.
    session.returning.reset();
    if (faults.lose_reads) {
        session.pending.clear();
        return build_simple_reply(ReplyKind::none_pending, 1);
    }
    if (faults.report_lost_reads) {
        return build_simple_reply(ReplyKind::none_pending, 1);
    }
    if (faults.late_return) {
        for (auto& pending : session.pending) {
            session.withheld.push_back({std::move(pending.call), false});
        }
        session.pending.clear();
        return build_simple_reply(ReplyKind::none_pending, 1);
    }
    auto call = next_call(session, now);
    if (!call) {
        return build_simple_reply(ReplyKind::none_pending, 0);
    }
    ReturningCall returning;
    returning.call = std::move(*call);
    returning.blocks = plan_called_blocks(returning.call, m_settings.called_block_positions);
    if (faults.empty_extra_block) {
        const CalledBlockSpan& last = returning.blocks.back();
        CalledBlockSpan empty;
        empty.position_begin = empty.position_end = last.position_end;
        empty.base_begin = empty.base_end = last.base_end;
        empty.run_begin = empty.run_end = last.run_end;
        returning.blocks.push_back(empty);
        returning.bare_last_block = true;
    }
    returning.options.events = (request.value & 1u) == 0;
    returning.options.state_data = (request.value & 2u) != 0;
    returning.options.inconsistent = faults.inconsistent_called_data;
    if (faults.claim_many_blocks) {
        returning.options.claimed_blocks = std::numeric_limits<uint32_t>::max();
    }
    session.returning = std::move(returning);
    return send_block(session, faults.absent_optional_vectors);
}

std::optional<CalledRead> ServerLogic::next_call(ClientSession& session, Clock::time_point now) {
    if (!session.withheld.empty()) {
        // Withheld calls go first; until one is released nothing else returns.
        for (auto it = session.withheld.begin(); it != session.withheld.end(); ++it) {
            if (it->released) {
                CalledRead call = std::move(it->call);
                session.withheld.erase(it);
                return call;
            }
        }
        return std::nullopt;
    }
    if (session.pending.empty() || session.pending.front().ready_at > now) {
        return std::nullopt;
    }
    CalledRead call = std::move(session.pending.front().call);
    session.pending.pop_front();
    return call;
}

Bytes ServerLogic::handle_next_called_block(const DecodedRequest& request,
                                            ClientSession& session,
                                            const ContentFaults& faults) {
    if (!session.returning) {
        return refuse("GET_NEXT_CALLED_BLOCK without a read being returned");
    }
    if (request.value != session.returning->call.read_tag) {
        return refuse("GET_NEXT_CALLED_BLOCK for read tag " + std::to_string(request.value) +
                      " while returning read tag " + std::to_string(session.returning->call.read_tag));
    }
    if (request.text != session.returning->call.strand_id) {
        return refuse("GET_NEXT_CALLED_BLOCK names strand '" + request.text + "' while returning strand '" +
                      session.returning->call.strand_id + "'");
    }
    session.returning->options.inconsistent = session.returning->options.inconsistent ||
                                              faults.inconsistent_called_data;
    return send_block(session, faults.absent_optional_vectors);
}

Bytes ServerLogic::send_block(ClientSession& session, bool absent_vectors) {
    ReturningCall& returning = *session.returning;
    CalledBlockOptions options = returning.options;
    options.absent_vectors = absent_vectors ||
                             (returning.bare_last_block && returning.next + 1 == returning.blocks.size());
    if (returning.next > 0) {
        options.claimed_blocks.reset();  // claimed by the first block only
    }
    Bytes reply = build_called_block(returning.call, returning.blocks, returning.next, options);
    ++returning.next;
    if (returning.next == returning.blocks.size()) {
        if (returning.call.sub_tag == 0) {
            ++session.reads_out;
            ++m_lifetime_out;
            ++m_period_out;
        }
        session.returning.reset();
    }
    return reply;
}

Bytes ServerLogic::handle_statistics() {
    std::vector<ClientCounts> clients;
    for (const auto& [id, session] : m_sessions) {
        clients.push_back({session.reads_in, session.reads_out});
    }
    Bytes reply = build_statistics(m_lifetime_in, m_lifetime_out, m_period_in, m_period_out, clients);
    m_period_in = 0;
    m_period_out = 0;
    return reply;
}

nlohmann::ordered_json ServerLogic::report() const {
    nlohmann::ordered_json report;
    auto& info = report["ServerInformation"];
    info["name"] = "vemla_test_server";
    info["protocol_version"] = "11.0.0";
    info["configs"] = nlohmann::ordered_json::array();
    for (const auto& config : m_settings.configs) {
        info["configs"].push_back(config.name);
    }
    info["generation"] = m_generation;

    auto& received = report["received"];
    auto& counts = received["requests"];
    counts = nlohmann::ordered_json::object();
    for (int i = 0; i < request_kind_count; ++i) {
        if (m_request_counts[static_cast<size_t>(i)] > 0) {
            counts[request_kind_name(static_cast<RequestKind>(i))] = m_request_counts[static_cast<size_t>(i)];
        }
    }
    received["connection_strings"] = m_connection_strings;
    received["load_requests"] = m_load_requests;
    received["reads"] = nlohmann::ordered_json::array();
    for (const auto& read : m_reads_received) {
        received["reads"].push_back(read);
    }
    received["refusals"] = nlohmann::ordered_json::array();
    for (const auto& refusal : m_refusals) {
        received["refusals"].push_back(refusal);
    }

    report["clients"] = nlohmann::ordered_json::array();
    for (const auto& [id, session] : m_sessions) {
        nlohmann::ordered_json client;
        client["id"] = id;
        client["config"] = session.request.config;
        client["client_name"] = session.request.text("client_name");
        client["priority"] = session.priority;
        client["options"] = session.request.options;
        client["reads_in"] = session.reads_in;
        client["reads_out"] = session.reads_out;
        client["reads_pending"] = session.pending.size();
        client["reads_withheld"] = session.withheld.size();
        client["reads_in_progress"] = session.assembler.reads_in_progress();
        report["clients"].push_back(std::move(client));
    }
    report["statistics"] = {{"lifetime_reads_in", m_lifetime_in}, {"lifetime_reads_out", m_lifetime_out}};
    return report;
}

}  // namespace test_server
