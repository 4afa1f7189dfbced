#pragma once

// vemla::VemlaClient: the exported client of libvemla_client, one object per
// connection to a basecall server.
//
//   vemla::VemlaClient client("tcp://server:5555", "dna_config");
//   client.set_params(params);          // while disconnected
//   client.connect();
//   client.pass_read(read, 1000);       // any number of times
//   client.get_completed_reads(groups); // reads come back grouped by read tag
//   client.finish(0);
//   client.disconnect();
//
// Connection and queue problems are reported as codes, never thrown.

#include "common/export.h"

#include "bass/data_wrappers/metadata.h"
#include "vemla/read.h"
#include "vemla/results.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace vemla {

class VemlaClientImpl;

class VEMLA_EXPORT VemlaClient {
public:
    // Called on the engine's notification thread with the status before the
    // change, the new status and the error text as it stood after it.
    using StateChangeHandler = std::function<void(ConnectionStatus, ConnectionStatus, std::string)>;
    // Run first on the engine's worker thread.
    using CallbackFunction = void (*)();

    // `address`: "tcp://host:port", "host:port", a bare port (local host) or
    // "ipc://path". `config`: the server's basecall configuration name.
    // `trace_folder`: where trace files go (empty: the default).
    VemlaClient(std::string address, std::string config, std::string trace_folder = std::string());
    ~VemlaClient();
    VemlaClient(const VemlaClient&) = delete;
    VemlaClient& operator=(const VemlaClient&) = delete;

    // Settings; each returns already_connected unless disconnected.
    Result set_params(const bass::data_wrappers::Metadata& params);
    Result set_state_change_handler(StateChangeHandler handler);
    Result set_priority(Read::Priority priority);
    Result set_callback_function(CallbackFunction callback);

    ConnectionStatus get_status() const;
    // The error that ended the connection while the status is error; empty otherwise.
    std::string get_error_message() const;
    // JSON of every registered state provider.
    std::string get_internal_state() const;

    // Blocks until the first connection attempt has an outcome.
    Result connect();

    // Checks and completes the read, then queues it, waiting up to `timeout_ms`
    // for room (0: the "pass_read_timeout" setting). An accepted read's
    // contents move into the client; the caller's Read keeps its tag and
    // priority. A refused read keeps its contents.
    PassReadResult pass_read(Read& read, uint32_t timeout_ms = 0);
    // Whether the read holds what pass_read needs; if not, `error` says what
    // is missing or of the wrong type. The read is not changed.
    bool validate_read(const Read& read, std::string& error) const;
    // Appends one inner list per read tag of every read finished so far (a
    // split read's sub-reads share their parent's tag). Earlier contents stay.
    void get_completed_reads(std::list<std::list<Read>>& reads);

    // Waits until every read is back, the connection ends, or `timeout_s`
    // seconds passed (0: no limit), then stops the worker.
    Result finish(uint64_t timeout_s);
    Result disconnect();

    // The connected configuration's details; the Metadata keeps other keys.
    Result get_basecalling_config(bass::data_wrappers::Metadata& config);
    Result get_alignment_sam_header(std::string& header);

    static VersionTag get_data_wrappers_version();
    static VersionTag get_api_version();
    static VersionTag get_software_version();
    static VersionTag get_protocol_version();

private:
    std::unique_ptr<VemlaClientImpl> m_impl;
};

}  // namespace vemla
