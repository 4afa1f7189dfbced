#include "basecall_service/client_connection_state.h"

#include "common/contract.h"
#include "common/logger.h"

#include <array>
#include <initializer_list>
#include <map>
#include <set>
#include <stdexcept>

namespace basecall_service {

namespace {

using Transitions = std::map<ClientStatus, std::set<ClientStatus>>;

Transitions build_state_machine(std::initializer_list<std::initializer_list<int32_t>> rows) {
    // Each row: the status, then every status that may follow it.
    Transitions table;
    for (const auto& row : rows) {
        auto& allowed = table[static_cast<ClientStatus>(*row.begin())];
        for (auto next = row.begin() + 1; next != row.end(); ++next) {
            allowed.insert(static_cast<ClientStatus>(*next));
        }
    }
    return table;
}

// 0 disconnected, 1 preparing_connection, 2 loading_config,
// 3 loading_alignment_index, 4 loading_bed_file, 5 connecting, 6 connected,
// 7 error. An attempt passes every connecting status in order; a new attempt
// may start from any of them; `error` is left only for `disconnected`.
const Transitions state_machine = build_state_machine({
        {0, 1},
        {1, 2, 1, 0, 7},
        {2, 3, 1, 0, 7},
        {3, 4, 1, 0, 7},
        {4, 5, 1, 0, 7},
        {5, 6, 1, 0, 7},
        {6, 1, 0, 7},
        {7, 0},
});

constexpr std::array<const char*, 8> status_names = {
        "disconnected",     "preparing_connection", "loading_config", "loading_alignment_index",
        "loading_bed_file", "connecting",           "connected",      "error",
};

constexpr std::array<const char*, 12> error_names = {
        "no_error",
        "bad_request",
        "bad_reply",
        "timed_out",
        "invalid_response",
        "basecall_config_unavailable",
        "barcode_kit_unavailable",
        "align_index_unavailable",
        "bed_file_unavailable",
        "align_index_no_seq",
        "file_load_timeout",
        "failed",
};

using StateTrace = common::diagnostics::tracing::TraceDomainHelper<ClientConnectionState>;

// What a failing state-change handler leaves behind: one trace line and one
// error record. The notifications after it are still delivered.
void report_handler_failure(const std::exception& error) {
    StateTrace::get_trace_context()->write_message("operator()_exception_handler", error.what());
    VEMLA_LOG_ERROR << "Exception thrown in external client state change handler: " << error.what();
}

}  // namespace

std::string to_string(ClientStatus status) {
    const auto index = static_cast<uint32_t>(status);
    if (index >= status_names.size()) {
        throw std::runtime_error("unrecognised ClientStatus value");
    }
    return status_names[index];
}

std::string to_string(ConnectionError code) {
    const auto index = static_cast<uint32_t>(code);
    if (index >= error_names.size()) {
        throw std::runtime_error("unrecognised ConnectionError value");
    }
    return error_names[index];
}

std::string to_string(const ErrorState& error_state) {
    return "[" + to_string(error_state.code) + "] " + error_state.message;
}

std::ostream& operator<<(std::ostream& stream, ClientStatus status) {
    return stream << to_string(status);
}

std::ostream& operator<<(std::ostream& stream, ConnectionError code) {
    return stream << to_string(code);
}

std::ostream& operator<<(std::ostream& stream, const ErrorState& error_state) {
    return stream << to_string(error_state);
}

std::string transition_description(ClientStatus from, ClientStatus to) {
    return "State transtion '" + to_string(from) + "' to '" + to_string(to) + "'";
}

ClientConnectionState::ClientConnectionState()
    : m_notifier("conn_state_ntfy", [](const std::exception& error) { report_handler_failure(error); }) {
    auto trace = create_trace("ClientConnectionState");
    trace.message(to_string(m_status));
}

ClientStatus ClientConnectionState::get_status() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_status;
}

ErrorState ClientConnectionState::get_error_state() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return m_error_state;
}

std::shared_ptr<ClientConnectionStateSnapshot> ClientConnectionState::create_snapshot() const {
    std::lock_guard<std::mutex> lock(m_state_mutex);
    return std::make_shared<ClientConnectionStateSnapshotImpl>(m_status, m_error_state);
}

void ClientConnectionState::set_status(ClientStatus status) {
    common::contract::expects(status != ClientStatus::error, "set_status cannot be used to set an error state");
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_error_state = ErrorState{};
    update_status(status);
}

bool ClientConnectionState::set_status_if(ClientStatus expected, ClientStatus status) {
    common::contract::expects(status != ClientStatus::error, "set_status_if cannot be used to set an error state");
    std::lock_guard<std::mutex> lock(m_state_mutex);
    if (m_status != expected) {
        return false;
    }
    m_error_state = ErrorState{};
    update_status(status);
    return true;
}

void ClientConnectionState::set_error(const ErrorState& error_state) {
    get_trace_context()->write_message("set_error", [&] { return to_string(error_state); });
    std::lock_guard<std::mutex> lock(m_state_mutex);
    m_error_state = error_state;
    update_status(ClientStatus::error);
}

void ClientConnectionState::register_change_handler(ChangeHandler handler) {
    auto trace = create_trace("register_change_handler");
    std::lock_guard<std::mutex> lock(m_state_mutex);
    common::contract::expects(m_change_handler == nullptr,
                              "A connection state change handler may only be registered once.");
    m_change_handler = std::make_shared<const ChangeHandler>(std::move(handler));
}

void ClientConnectionState::update_status(ClientStatus status) {
    const auto& allowed = state_machine.at(m_status);
    common::contract::expects(allowed.count(status) > 0, transition_description(m_status, status));
    get_trace_context()->write_message("update_status", [status] { return to_string(status); });

    const ClientStatus old_status = m_status;
    m_status = status;
    if (!m_change_handler) {
        return;
    }
    auto snapshot = std::make_shared<ClientConnectionStateSnapshotImpl>(m_status, m_error_state);
    // Queued under the state lock, so the queue holds the changes in order.
    // The task touches nothing of this object: a handler may destroy it.
    m_notifier.send([old_status, snapshot = std::shared_ptr<ClientConnectionStateSnapshot>(std::move(snapshot)),
                     handler = m_change_handler] {
        get_trace_context()->write_message("state_change_notifier", [&] {
            return to_string(old_status) + " to " + to_string(snapshot->get_status());
        });
        try {
            (*handler)(old_status, snapshot);
        } catch (const std::exception& error) {
            report_handler_failure(error);
        } catch (...) {
            report_handler_failure(std::runtime_error("Unhandled error thrown in thread: conn_state_ntfy"));
        }
    });
}

}  // namespace basecall_service
