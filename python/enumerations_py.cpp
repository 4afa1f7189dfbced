#include "python/enumerations_py.h"

namespace vemla {

void bind_enumerations(py::class_<VemlaClientPy, VemlaClientPyHolder>& cls) {
    py::enum_<ConnectionStatus>(cls, "status")
            .value("disconnected", ConnectionStatus::disconnected)
            .value("preparing_connection", ConnectionStatus::preparing_connection)
            .value("loading_config", ConnectionStatus::loading_config)
            .value("loading_alignment_index", ConnectionStatus::loading_alignment_index)
            .value("loading_bed_file", ConnectionStatus::loading_bed_file)
            .value("connecting", ConnectionStatus::connecting)
            .value("connected", ConnectionStatus::connected)
            .value("error_state", ConnectionStatus::error)
            .export_values();

    // align_index_no_seq (10) and file_load_timeout (11) have no member: a
    // call yielding one returns an unnamed member carrying the number.
    py::enum_<Result>(cls, "result")
            .value("success", Result::success)
            .value("no_connection", Result::no_connection)
            .value("already_connected", Result::already_connected)
            .value("not_ready", Result::not_ready)
            .value("timed_out", Result::timed_out)
            .value("invalid_response", Result::invalid_response)
            .value("basecall_config_unavailable", Result::basecall_config_unavailable)
            .value("barcode_kit_unavailable", Result::barcode_kit_unavailable)
            .value("align_index_unavailable", Result::align_index_unavailable)
            .value("bed_file_unavailable", Result::bed_file_unavailable)
            .value("failed", Result::failed)
            .value("bad_request", Result::bad_request)
            .value("bad_reply", Result::bad_reply)
            .export_values();

    py::enum_<PassReadResult>(cls, "pass_read_result")
            .value("read_accepted", PassReadResult::success)
            .value("not_accepting_reads", PassReadResult::not_accepting_reads)
            .value("queue_full", PassReadResult::queue_full)
            .value("bad_read", PassReadResult::bad_read)
            .export_values();

    py::enum_<Read::Priority>(cls, "read_priority")
            .value("high_priority", Read::Priority::HIGH_PRIORITY)
            .value("medium_priority", Read::Priority::MEDIUM_PRIORITY)
            .value("low_priority", Read::Priority::LOW_PRIORITY)
            .export_values();
}

}  // namespace vemla
