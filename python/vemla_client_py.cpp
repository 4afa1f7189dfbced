#include "python/vemla_client_py.h"

#include "python/data_conversions.h"
#include "python/enumerations_py.h"
#include "python/parameter_conversions.h"
#include "python/read_conversions.h"
#include "python/server_queries_py.h"

#include <exception>
#include <list>
#include <stdexcept>
#include <utility>

namespace vemla {

namespace {

constexpr const char* NEGATIVE_WAIT = "wait_duration_ms. Must be greater than or equal to zero.";
constexpr const char* NEGATIVE_TIMEOUT = "Negative timeout specified for finish() method.";

}  // namespace

void ReleasingDelete::operator()(VemlaClientPy* client) const {
    py::gil_scoped_release release;
    delete client;
}

VemlaClientPy::VemlaClientPy(const std::string& address, const std::string& config)
    : m_client(address, config, std::string()) {}

Result VemlaClientPy::set_params(const py::dict& params) {
    if (m_client.get_status() != ConnectionStatus::disconnected) {
        return Result::already_connected;
    }
    try {
        const ClientParameters parameters = client_parameters_from_dict(params);
        // The library's own answer counts: another thread may have connected
        // since the status was read. The parameters go first, as the library
        // refuses them whole: a refused call leaves the priority as it was.
        if (!parameters.params.empty()) {
            const Result result = m_client.set_params(parameters.params);
            if (result != Result::success) {
                return result;
            }
        }
        if (parameters.has_priority) {
            return m_client.set_priority(parameters.priority);
        }
        return Result::success;
    } catch (const py::error_already_set&) {
        // The Python error was fetched into the exception and is dropped
        // with it: set_params reports failure by its code alone.
        return Result::failed;
    } catch (const std::exception&) {
        return Result::failed;
    }
}

ConnectionStatus VemlaClientPy::get_status() const {
    return m_client.get_status();
}

std::string VemlaClientPy::get_error_message() const {
    return m_client.get_error_message();
}

std::string VemlaClientPy::get_internal_state() const {
    return m_client.get_internal_state();
}

Result VemlaClientPy::connect() {
    py::gil_scoped_release release;
    return m_client.connect();
}

PassReadResult VemlaClientPy::pass_read(const py::dict& read_dict, int wait_duration_ms) {
    Read read;
    if (!dict_to_readholder(read_dict, read)) {
        return PassReadResult::bad_read;
    }
    if (wait_duration_ms < 0) {
        throw py::value_error(NEGATIVE_WAIT);
    }
    py::gil_scoped_release release;
    return m_client.pass_read(read, static_cast<uint32_t>(wait_duration_ms));
}

py::list VemlaClientPy::get_completed_reads() {
    std::list<std::list<Read>> reads;
    {
        py::gil_scoped_release release;
        m_client.get_completed_reads(reads);
    }
    py::list groups;
    for (const auto& group : reads) {
        py::list members;
        for (const Read& read : group) {
            members.append(readholder_to_dict(read));
        }
        groups.append(std::move(members));
    }
    return groups;
}

Result VemlaClientPy::finish(int timeout) {
    if (timeout < 0) {
        throw std::runtime_error(NEGATIVE_TIMEOUT);
    }
    py::gil_scoped_release release;
    return m_client.finish(static_cast<uint64_t>(timeout));
}

Result VemlaClientPy::disconnect() {
    py::gil_scoped_release release;
    return m_client.disconnect();
}

py::tuple VemlaClientPy::get_basecalling_config() {
    bass::data_wrappers::Metadata config;
    Result result;
    {
        py::gil_scoped_release release;
        result = m_client.get_basecalling_config(config);
    }
    py::dict details = result == Result::success ? config_details_to_dict(config) : py::dict();
    return py::make_tuple(std::move(details), result);
}

py::tuple VemlaClientPy::get_alignment_sam_header() {
    std::string header;
    Result result;
    {
        py::gil_scoped_release release;
        result = m_client.get_alignment_sam_header(header);
    }
    return py::make_tuple(header, result);
}

std::string VemlaClientPy::repr() const {
    const ConnectionStatus status = m_client.get_status();
    std::string text = "VemlaClient(status=" + to_string(status);
    if (status == ConnectionStatus::error) {
        text += ", " + m_client.get_error_message();
    }
    return text + ")";
}

void bind_vemla_client(py::module_& module) {
    py::class_<VemlaClientPy, VemlaClientPyHolder> cls(module, "VemlaClient");
    cls.def(py::init<const std::string&, const std::string&>(), py::arg("address"), py::arg("config"),
            R"(Constructor connects to a basecall service at the specified port.

:param address: The address the basecall server is listening to.
:param config: The string name of the configuration we want to use on the server.)");

    cls.def("set_params", &VemlaClientPy::set_params, py::arg("params"),
            R"(Set the client parameters. Only allowed while disconnected.

:param params: A dict of parameters. Accepted keys, with their types and defaults:
    client_name (str): name the client registers under, default empty.
    query_timeout (int): time-out of each server request in ms, default 2000.
    server_file_load_timeout (int): time-out of loading a file on the server in s, default 180.
    pass_read_timeout (int): default wait of pass_read in ms, default 0 (non-blocking).
    connection_timeout (int): time-out of connecting in ms, default 15000.
    reconnect_timeout (int): how long to keep reconnecting in s, default 300.
    max_message_size (int): block size in model strides, default 50000.
    max_reads_queued (int): reads held in the input queue, default 20.
    priority (read_priority): priority of the client's reads, default medium_priority.
    move_and_trace_enabled (bool): return move tables and traces, default True.
    post_out (bool): return state data, default False.
    barcode_kits (list of str): barcode kits to classify with, default none (no barcoding).
    lamp_kit (str): LAMP kit, default none.
    require_barcodes_both_ends, detect_mid_strand_barcodes, detect_mid_strand_adapter,
    trim_barcodes, trim_adapters, trim_primers (bool): default False.
    min_score_barcode_front (float): default 60.
    min_score_barcode_rear (float): default the front minimum.
    min_score_barcode_mid (float): default 50.
    detect_adapter, detect_primer (bool): no default.
    min_score_adapter (float): default 60.
    min_score_primer (float): default 60.
    align_ref (str): alignment index, default none.
    bed_file (str): BED file, default none.
    align_type (str): one of "auto", "coarse", "full", default "auto".
    min_score_lamp (float): default 80.
    min_score_lamp_mask (float): default 50.
    min_score_lamp_target (float): default 50.
    additional_lamp_context_bases (int): default 2.
:return: A result code:
    success: the parameters were stored.
    already_connected: the client is not disconnected; nothing was stored.
    failed: an unknown key or a value of the wrong type; nothing was stored.)");

    cls.def("get_status", &VemlaClientPy::get_status,
            R"(Get the connection status of the client.

:return: A status member, from disconnected through connected to error_state.)");

    cls.def("get_error_message", &VemlaClientPy::get_error_message,
            R"(Get the error message of the client.

:return: The text of the error when the status is error_state, else an empty string.)");

    cls.def("get_internal_state", &VemlaClientPy::get_internal_state,
            R"(Get the internal state of the client library.

:return: The state of every part of the library as JSON text.)");

    cls.def("connect", &VemlaClientPy::connect,
            R"(Connect to the server: load the configuration, alignment index and BED file, then register.

:return: A result code:
    success: the client is connected.
    already_connected: the client was not disconnected.
    timed_out: the server did not answer in time.
    basecall_config_unavailable: the server does not know the configuration.
    barcode_kit_unavailable: the server does not know a requested barcode kit.
    align_index_unavailable: the server could not load the alignment index.
    bed_file_unavailable: the server could not load the BED file.
    result(10), no named member: the alignment index holds no sequences.
    result(11), no named member: the server did not finish loading a file in time.
    invalid_response, bad_request, bad_reply: the exchange with the server broke down.
    failed: any other failure.)");

    cls.def("pass_read", &VemlaClientPy::pass_read, py::arg("read"), py::arg("wait_duration_ms") = 0,
            R"(Pass a read to the server for basecalling.

:param read: A dict with the keys read_tag (int, 0 to 2**32-1), read_id (str), raw_data
    (one-dimensional numpy int16 array), daq_offset (float) and daq_scaling (float), and
    optionally override_scaling (bool), scaling_med (float) and scaling_mad (float).
:param wait_duration_ms: How long to wait for queue space in ms; 0 uses the client's
    pass_read_timeout.
:return: A pass_read_result code:
    read_accepted: the read was queued.
    not_accepting_reads: the client is not connected, or is finishing.
    queue_full: no queue space came free in time.
    bad_read: the read dict is missing a field, or a field has the wrong type or value.)");

    cls.def("get_completed_reads", &VemlaClientPy::get_completed_reads,
            R"(Get the reads that have come back from the server.

:return: A list with one list per read tag, each holding the read and any sub-reads as dicts
    with the keys read_tag, sub_tag, priority, metadata (dict) and datasets (dict of numpy
    arrays, and str for texts). An empty list when no read is complete.)");

    cls.def("finish", &VemlaClientPy::finish, py::arg("timeout") = 0,
            R"(Wait for all passed reads to come back, then stop the client.

:param timeout: The timeout in seconds; zero means no timeout.
:return: A result code:
    success: every read came back.
    no_connection: the client is not connected.
    not_ready: the connection ended before every read came back.
    failed: the client is in error_state, or the timeout passed first.)");

    cls.def("disconnect", &VemlaClientPy::disconnect,
            R"(Disconnect from the server.

:return: A result code:
    success: the client is disconnected.
    no_connection: the client was already disconnected.)");

    cls.def("get_basecalling_config", &VemlaClientPy::get_basecalling_config,
            R"(Get the details of the basecall configuration in use.

:return: A tuple of a dict of the configuration details (empty on failure) and a result code:
    success: the details were read.
    no_connection: the client has never connected.)");

    cls.def("get_alignment_sam_header", &VemlaClientPy::get_alignment_sam_header,
            R"(Get the SAM header of the alignment index in use.

:return: A tuple of the header text and a result code:
    success: the header was read.
    no_connection: the client has never connected.)");

    cls.def("__repr__", &VemlaClientPy::repr);

    bind_server_queries(cls);
    bind_enumerations(cls);
}

}  // namespace vemla
