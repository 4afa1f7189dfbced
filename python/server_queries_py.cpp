#include "python/server_queries_py.h"

#include "vemla/server_query.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vemla {

namespace {

using server_query::BarcodeKitDefinition;
using server_query::LampKitDefinition;
using server_query::ServerStatistics;

py::dict barcode_kit_to_dict(const BarcodeKitDefinition& kit) {
    py::dict dict;
    dict["kit_name"] = kit.kit_name();
    dict["first_index"] = kit.first_index();
    dict["last_index"] = kit.last_index();
    dict["first_inner_index"] = kit.first_inner_index();
    dict["last_inner_index"] = kit.last_inner_index();
    dict["is_both_ends"] = kit.is_both_ends();
    dict["is_dual"] = kit.is_dual();
    return dict;
}

py::dict lamp_kit_to_dict(const LampKitDefinition& kit) {
    py::dict dict;
    dict["kit_name"] = kit.kit_name();
    dict["first_index"] = kit.first_index();
    dict["last_index"] = kit.last_index();
    py::list targets;
    for (const std::string& target : kit.targets()) {
        targets.append(py::str(target));
    }
    dict["targets"] = std::move(targets);
    return dict;
}

py::dict statistics_to_dict(const ServerStatistics& statistics) {
    py::dict dict;
    dict["lifetime_reads_in"] = statistics.lifetime_reads_in;
    dict["lifetime_reads_out"] = statistics.lifetime_reads_out;
    dict["period_reads_in"] = statistics.period_reads_in;
    dict["period_reads_out"] = statistics.period_reads_out;
    py::list clients;
    for (const auto& client : statistics.client_statistics) {
        py::dict row;
        row["input_read_count"] = client.input_read_count;
        row["output_read_count"] = client.output_read_count;
        clients.append(std::move(row));
    }
    dict["client_statistics"] = std::move(clients);
    return dict;
}

// Runs a query without the interpreter lock; converts its answer with the
// lock held again, on success only.
template <typename Answer, typename Convert>
py::tuple run_query(Result (*query)(std::string, Answer&, uint32_t),
                    Convert convert,
                    const std::string& address,
                    uint32_t timeout) {
    Answer answer{};
    Result result;
    {
        py::gil_scoped_release release;
        result = query(address, answer, timeout);
    }
    if (result != Result::success) {
        return py::make_tuple(py::none(), result);
    }
    return py::make_tuple(convert(answer), result);
}

// A list of one dict per kit.
template <typename Kit>
py::list kits_to_list(const std::vector<Kit>& kits, py::dict (*kit_to_dict)(const Kit&)) {
    py::list list;
    for (const Kit& kit : kits) {
        list.append(kit_to_dict(kit));
    }
    return list;
}

py::tuple get_barcode_kits(const std::string& address, uint32_t timeout) {
    return run_query(
            &server_query::get_barcode_kits,
            [](const std::vector<BarcodeKitDefinition>& kits) { return kits_to_list(kits, &barcode_kit_to_dict); },
            address, timeout);
}

py::tuple get_lamp_kits(const std::string& address, uint32_t timeout) {
    return run_query(
            &server_query::get_lamp_kits,
            [](const std::vector<LampKitDefinition>& kits) { return kits_to_list(kits, &lamp_kit_to_dict); }, address,
            timeout);
}

py::tuple get_server_stats(const std::string& address, uint32_t timeout) {
    return run_query(&server_query::get_server_statistics, &statistics_to_dict, address, timeout);
}

py::tuple get_server_internal_state(const std::string& address, uint32_t timeout) {
    return run_query(
            &server_query::get_server_internal_state, [](const std::string& state) { return py::str(state); }, address,
            timeout);
}

// Unlike the other queries, the text goes back on failure too.
py::tuple get_server_information(const std::string& address, uint32_t timeout) {
    std::string information = "No information available";
    Result result;
    {
        py::gil_scoped_release release;
        result = server_query::get_server_information(address, information, timeout);
    }
    return py::make_tuple(information, result);
}

py::tuple version_tuple(const VersionTag& version) {
    return py::make_tuple(version.major, version.minor, version.patch);
}

}  // namespace

void bind_server_queries(py::class_<VemlaClientPy, VemlaClientPyHolder>& cls) {
    cls.def_static("get_barcode_kits", &get_barcode_kits,
                   R"(Get the barcode kits a server knows.

:param address: The address the basecall server is listening to.
:param timeout: The time-out of the query in ms.
:return: A tuple of a list of kit dicts (kit_name, first_index, last_index, first_inner_index,
    last_inner_index, is_both_ends, is_dual), or None on failure, and a result code:
    success: the kits were read.
    timed_out: the server did not answer in time.
    invalid_response, bad_request, bad_reply, failed: the query failed.)");
    cls.def_static("get_lamp_kits", &get_lamp_kits,
                   R"(Get the LAMP kits a server knows.

:param address: The address the basecall server is listening to.
:param timeout: The time-out of the query in ms.
:return: A tuple of a list of kit dicts (kit_name, first_index, last_index, targets), or None
    on failure, and a result code:
    success: the kits were read.
    timed_out: the server did not answer in time.
    invalid_response, bad_request, bad_reply, failed: the query failed.)");
    cls.def_static("get_server_stats", &get_server_stats,
                   R"(Get the read statistics of a server.

:param address: The address the basecall server is listening to.
:param timeout: The time-out of the query in ms.
:return: A tuple of a statistics dict (lifetime_reads_in, lifetime_reads_out, period_reads_in,
    period_reads_out, client_statistics), or None on failure, and a result code:
    success: the statistics were read.
    timed_out: the server did not answer in time.
    invalid_response, bad_request, bad_reply, failed: the query failed.)");
    cls.def_static("get_server_information", &get_server_information,
                   R"(Get the descriptive information of a server.

:param address: The address the basecall server is listening to.
:param timeout: The time-out of the query in ms.
:return: A tuple of the information as compact JSON text ("No information available" when
    none was read) and a result code:
    success: the information was read.
    timed_out: the server did not answer in time.
    failed: the server's state holds no information, or the query failed otherwise.)");
    cls.def_static("get_server_internal_state", &get_server_internal_state,
                   R"(Get the internal state of a server.

:param address: The address the basecall server is listening to.
:param timeout: The time-out of the query in ms.
:return: A tuple of the state text, or None on failure, and a result code:
    success: the state was read.
    timed_out: the server did not answer in time.
    invalid_response, bad_request, bad_reply, failed: the query failed.)");
    cls.def_static(
            "get_software_version", [] { return version_tuple(VemlaClient::get_software_version()); },
            R"(Get the Vemla software version that the library was compiled from.

:return: A tuple of the major, minor and patch numbers.)");
    cls.def_static(
            "get_protocol_version", [] { return version_tuple(VemlaClient::get_protocol_version()); },
            R"(Get the Vemla protocol version that the server client is using.

:return: A tuple of the major, minor and patch numbers.)");
}

}  // namespace vemla
