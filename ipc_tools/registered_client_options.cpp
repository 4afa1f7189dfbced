#include "ipc_tools/registered_client_options.h"

#include <cstdint>
#include <typeinfo>
#include <utility>

namespace client_options {

namespace {

struct Registration {
    const char* key;
    std::type_index type;
};

}  // namespace

RegisteredClientOptions::RegisteredClientOptions() {
    const std::type_index string_type = typeid(std::string);
    const std::type_index bool_type = typeid(bool);
    const std::type_index float_type = typeid(float);
    const std::type_index int32_type = typeid(int32_t);
    const std::type_index uint32_type = typeid(uint32_t);
    const std::type_index uint64_type = typeid(uint64_t);

    const Registration registrations[] = {
            {"barcode_kits", string_type},
            {"num_extra_bases_trim", int32_type},
            {"require_barcodes_both_ends", bool_type},
            {"allow_inferior_barcodes", bool_type},
            {"detect_barcodes", bool_type},
            {"detect_adapter", bool_type},
            {"detect_primer", bool_type},
            {"detect_mid_strand_barcodes", bool_type},
            {"detect_mid_strand_adapter", bool_type},
            {"min_score_barcode_front", float_type},
            {"min_score_barcode_rear", float_type},
            {"min_score_barcode_mask", float_type},
            {"min_score_barcode_mid", float_type},
            {"min_score_adapter_mid", float_type},
            {"min_score_adapter", float_type},
            {"min_score_primer", float_type},
            {"trim_barcodes", bool_type},
            {"trim_adapters", bool_type},
            {"trim_primers", bool_type},
            {"lamp_kit", string_type},
            {"min_score_lamp", float_type},
            {"min_score_lamp_mask", float_type},
            {"min_score_lamp_target", float_type},
            {"additional_lamp_context_bases", uint64_type},
            {"min_length_lamp_context", uint64_type},
            {"min_length_lamp_target", uint64_type},
            {"align_ref", string_type},
            {"align_type", string_type},
            {"bed_file", string_type},
            {"move_and_trace_enabled", bool_type},
            {"post_out", bool_type},
            {"do_read_splitting", bool_type},
            {"max_read_split_depth", uint32_type},
            {"min_score_read_splitting", float_type},
    };
    for (const auto& registration : registrations) {
        m_types.emplace(registration.key, registration.type);
        m_keys.emplace_back(registration.key);
    }
}

}  // namespace client_options
