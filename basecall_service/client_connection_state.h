#pragma once

#include "common/active_object.h"
#include "common/trace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

namespace basecall_service {

/// Where a client engine stands with its server. The numbers are shared with
/// the API's connection status.
enum class ClientStatus : int32_t {
    disconnected = 0,
    preparing_connection = 1,
    loading_config = 2,
    loading_alignment_index = 3,
    loading_bed_file = 4,
    connecting = 5,
    connected = 6,
    error = 7,
};

/// Why a connection failed; the code of an ErrorState.
enum class ConnectionError : int32_t {
    no_error = 0,
    bad_request = 1,
    bad_reply = 2,
    timed_out = 3,
    invalid_response = 4,
    basecall_config_unavailable = 5,
    barcode_kit_unavailable = 6,
    align_index_unavailable = 7,
    bed_file_unavailable = 8,
    align_index_no_seq = 9,
    file_load_timeout = 10,
    failed = 11,
};

/// A failure as the engine carries it: a code and a readable message.
struct ErrorState {
    ConnectionError code = ConnectionError::no_error;
    std::string message;
};

/// The enumerator's name; throws std::runtime_error "unrecognised ..." for a
/// value outside the enumeration.
std::string to_string(ClientStatus status);
std::string to_string(ConnectionError code);
/// "[" code name "] " message.
std::string to_string(const ErrorState& error_state);

std::ostream& operator<<(std::ostream& stream, ClientStatus status);
std::ostream& operator<<(std::ostream& stream, ConnectionError code);
std::ostream& operator<<(std::ostream& stream, const ErrorState& error_state);

/// "State transtion 'from' to 'to'", the text of a refused change.
std::string transition_description(ClientStatus from, ClientStatus to);

/// Status and error state as they stood at one moment; never changes.
class ClientConnectionStateSnapshot {
public:
    virtual ~ClientConnectionStateSnapshot() = default;
    virtual const ClientStatus& get_status() const = 0;
    virtual const ErrorState& get_error_state() const = 0;
};

class ClientConnectionStateSnapshotImpl : public ClientConnectionStateSnapshot {
public:
    ClientConnectionStateSnapshotImpl(ClientStatus status, ErrorState error_state)
        : m_status(status), m_error_state(std::move(error_state)) {}

    const ClientStatus& get_status() const override { return m_status; }
    const ErrorState& get_error_state() const override { return m_error_state; }

private:
    const ClientStatus m_status;
    const ErrorState m_error_state;
};

/// The connection status of one client engine and the error that ended its
/// last connection. Every change is checked against a fixed transition table
/// (a refused change throws std::logic_error) and reported, in the order of
/// the changes, to the registered handler on the notifier thread
/// "conn_state_ntfy", never on the changing thread and never under the
/// state's lock. All members are safe to call from any thread.
class ClientConnectionState : private common::diagnostics::tracing::TraceDomain<ClientConnectionState> {
public:
    /// Called with the status before the change and a snapshot taken right
    /// after it.
    using ChangeHandler = std::function<void(ClientStatus, std::shared_ptr<ClientConnectionStateSnapshot>)>;

    ClientConnectionState();
    /// Delivers every notification already queued first. Safe to run on the
    /// notifier thread itself (a handler destroying its client): the
    /// notifications still queued are then dropped.
    ~ClientConnectionState() = default;

    ClientConnectionState(const ClientConnectionState&) = delete;
    ClientConnectionState& operator=(const ClientConnectionState&) = delete;

    ClientStatus get_status() const;
    ErrorState get_error_state() const;
    std::shared_ptr<ClientConnectionStateSnapshot> create_snapshot() const;

    /// Changes to any status but `error` and clears the error state (even
    /// when the change is refused).
    void set_status(ClientStatus status);
    /// As set_status, but only when the status is `expected`; tells whether
    /// the change was made.
    bool set_status_if(ClientStatus expected, ClientStatus status);
    /// Records the error and changes to `error`. The error is stored even
    /// when the change is refused (from `disconnected` or `error`).
    void set_error(const ErrorState& error_state);

    /// Installs the handler; allowed once. Changes made before are never
    /// reported. A handler that throws is logged, and later changes are
    /// still delivered.
    void register_change_handler(ChangeHandler handler);

private:
    void update_status(ClientStatus status);

    mutable std::mutex m_state_mutex;
    ClientStatus m_status = ClientStatus::disconnected;
    ErrorState m_error_state;
    // Shared with every queued notification, so that a notification running
    // while its owner is destroyed still holds the handler it calls.
    std::shared_ptr<const ChangeHandler> m_change_handler;
    // Last member: destroyed first, so queued notifications are delivered
    // while everything above still exists.
    common::ActiveObject m_notifier;
};

}  // namespace basecall_service
