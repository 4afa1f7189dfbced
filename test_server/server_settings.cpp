#include "test_server/server_settings.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

namespace test_server {

namespace {

BasecallConfig make_config(std::string name, uint32_t stride, EventKind events, bool base_mods) {
    BasecallConfig config;
    config.name = std::move(name);
    config.model_stride = stride;
    config.events = events;
    config.base_mods = base_mods;
    config.model_type = events == EventKind::run_length ? "test_rle" : (base_mods ? "test_modbase" : "test_moves");
    config.model_version_id = config.name + "@v1";
    return config;
}

std::string file_name_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ServerSettings ServerSettings::defaults() {
    ServerSettings settings;
    settings.configs = {
            make_config("test_dna_fast", 5, EventKind::move_trace, false),
            make_config("test_dna_modbase", 5, EventKind::move_trace, true),
            make_config("test_dna_rle", 6, EventKind::run_length, false),
    };
    settings.indices = {{"test_ref.mmi", true}, {"test_ref_noseq.mmi", false}};
    settings.bed_files = {"test_targets.bed"};
    BarcodeKit single;
    single.kit_name = "TEST-BC12";
    single.first_index = 1;
    single.last_index = 12;
    single.add_a_to_barcode_12 = true;
    single.barcode_name_format = "barcode%02i";
    BarcodeKit dual;
    dual.kit_name = "TEST-DUAL";
    dual.is_dual = true;
    dual.is_both_ends = true;
    dual.first_index = 1;
    dual.last_index = 8;
    dual.first_inner_index = 1;
    dual.last_inner_index = 24;
    dual.barcode_name_format = "BC%02i";
    settings.barcode_kits = {single, dual};
    LampKit lamp;
    lamp.kit_name = "TEST-LAMP";
    lamp.first_index = 1;
    lamp.last_index = 8;
    lamp.barcode_name_format = "FIP%02i";
    lamp.targets = {"target_a", "target_b"};
    settings.lamp_kits = {lamp};
    return settings;
}

const BasecallConfig* ServerSettings::find_config(const std::string& name) const {
    for (const auto& config : configs) {
        if (config.name == name) {
            return &config;
        }
    }
    return nullptr;
}

const AlignmentIndex* ServerSettings::find_index(const std::string& name) const {
    for (const auto& index : indices) {
        if (same_file_name(index.name, name)) {
            return &index;
        }
    }
    return nullptr;
}

bool ServerSettings::has_bed_file(const std::string& name) const {
    for (const auto& bed : bed_files) {
        if (same_file_name(bed, name)) {
            return true;
        }
    }
    return false;
}

const BarcodeKit* ServerSettings::find_barcode_kit(const std::string& name) const {
    for (const auto& kit : barcode_kits) {
        if (kit.kit_name == name) {
            return &kit;
        }
    }
    return nullptr;
}

bool parse_config_spec(const std::string& text, BasecallConfig& config) {
    std::vector<std::string> parts;
    boost::split(parts, text, boost::is_any_of(":"));
    if (parts.empty() || parts[0].empty() || parts.size() > 3) {
        return false;
    }
    uint32_t stride = 5;
    if (parts.size() >= 2) {
        if (parts[1].empty() || parts[1].size() > 6 || parts[1].find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        stride = static_cast<uint32_t>(std::stoul(parts[1]));
        if (stride == 0) {
            return false;
        }
    }
    EventKind events = EventKind::move_trace;
    bool base_mods = false;
    if (parts.size() == 3) {
        if (parts[2] == "rle") {
            events = EventKind::run_length;
        } else if (parts[2] == "modbase") {
            base_mods = true;
        } else if (parts[2] != "moves") {
            return false;
        }
    }
    config = make_config(parts[0], stride, events, base_mods);
    return true;
}

bool same_file_name(const std::string& a, const std::string& b) {
    return a == b || (!a.empty() && !b.empty() && file_name_of(a) == file_name_of(b));
}

}  // namespace test_server
