#include "vemla/kit_definitions.h"

#include "common/barcode_results.h"

#include <stdexcept>
#include <utility>

namespace vemla {
namespace server_query {

namespace {

// A kit whose first index is negative or above its last has no numbered
// barcodes: its name format is the one name it has.
bool has_numbered_barcodes(int32_t first, int32_t last) {
    return first >= 0 && first <= last;
}

std::string numbered_name(const char* operation,
                          const std::string& format,
                          int index,
                          int32_t first,
                          int32_t last,
                          bool add_a_to_barcode_12) {
    if (index < first || index > last) {
        throw std::out_of_range(std::string(operation) + " index " + std::to_string(index) + " out of range [" +
                                std::to_string(first) + " .. " + std::to_string(last) + "]");
    }
    return common::barcode_naming::generate_normalised_id(format, index, add_a_to_barcode_12);
}

}  // namespace

class BarcodeKitDefinition::KitDefinitionImpl {
public:
    std::string kit_name;
    int32_t first_index;
    int32_t last_index;
    int32_t first_inner_index;
    int32_t last_inner_index;
    bool is_dual;
    bool is_both_ends;
    bool add_a_to_barcode_12;
    std::string barcode_name_format;

    std::string get_outer_barcode(int index) const {
        return numbered_name("get_outer_barcode", barcode_name_format, index, first_index, last_index,
                             add_a_to_barcode_12);
    }

    std::string get_inner_barcode(int index) const {
        return numbered_name("get_inner_barcode", barcode_name_format, index, first_inner_index, last_inner_index,
                             add_a_to_barcode_12);
    }
};

BarcodeKitDefinition::BarcodeKitDefinition(std::string kit_name,
                                           int32_t first_index,
                                           int32_t last_index,
                                           int32_t first_inner_index,
                                           int32_t last_inner_index,
                                           bool is_dual,
                                           bool is_both_ends,
                                           bool add_a_to_barcode_12,
                                           std::string barcode_name_format)
    : m_impl(std::make_shared<const KitDefinitionImpl>(
              KitDefinitionImpl{std::move(kit_name), first_index, last_index, first_inner_index, last_inner_index,
                                is_dual, is_both_ends, add_a_to_barcode_12, std::move(barcode_name_format)})) {}

std::string BarcodeKitDefinition::kit_name() const {
    return m_impl->kit_name;
}

int BarcodeKitDefinition::first_index() const {
    return m_impl->first_index;
}

int BarcodeKitDefinition::last_index() const {
    return m_impl->last_index;
}

int BarcodeKitDefinition::first_inner_index() const {
    return m_impl->first_inner_index;
}

int BarcodeKitDefinition::last_inner_index() const {
    return m_impl->last_inner_index;
}

bool BarcodeKitDefinition::is_dual() const {
    return m_impl->is_dual;
}

bool BarcodeKitDefinition::is_both_ends() const {
    return m_impl->is_both_ends;
}

std::string BarcodeKitDefinition::generate_barcode_name(int outer, int inner) const {
    const KitDefinitionImpl& kit = *m_impl;
    if (!has_numbered_barcodes(kit.first_index, kit.last_index)) {
        return kit.barcode_name_format;
    }
    if (!kit.is_dual) {
        return kit.get_outer_barcode(outer);
    }
    return common::barcode_naming::generate_dual_normalised_id(kit.get_outer_barcode(outer),
                                                               kit.get_inner_barcode(inner));
}

class LampKitDefinition::LampKitDefinitionImpl {
public:
    std::string kit_name;
    int32_t first_index;
    int32_t last_index;
    std::string barcode_name_format;
    std::vector<std::string> targets;
};

LampKitDefinition::LampKitDefinition(std::string kit_name,
                                     int32_t first_index,
                                     int32_t last_index,
                                     std::string barcode_name_format,
                                     std::vector<std::string> targets)
    : m_impl(std::make_shared<const LampKitDefinitionImpl>(LampKitDefinitionImpl{
              std::move(kit_name), first_index, last_index, std::move(barcode_name_format), std::move(targets)})) {}

std::string LampKitDefinition::kit_name() const {
    return m_impl->kit_name;
}

int LampKitDefinition::first_index() const {
    return m_impl->first_index;
}

int LampKitDefinition::last_index() const {
    return m_impl->last_index;
}

const std::vector<std::string>& LampKitDefinition::targets() const {
    return m_impl->targets;
}

std::string LampKitDefinition::generate_barcode_name(int index) const {
    const LampKitDefinitionImpl& kit = *m_impl;
    if (!has_numbered_barcodes(kit.first_index, kit.last_index)) {
        return kit.barcode_name_format;
    }
    return numbered_name("get_barcode", kit.barcode_name_format, index, kit.first_index, kit.last_index, false);
}

}  // namespace server_query
}  // namespace vemla
