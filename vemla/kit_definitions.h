#pragma once

// Barcode and LAMP kits as a basecall server describes them, and how their
// barcodes are named. Definitions are immutable; copies share one value and
// may be used from any thread.

#include "common/export.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vemla {
namespace server_query {

class VEMLA_EXPORT BarcodeKitDefinition {
public:
    class KitDefinitionImpl;

    BarcodeKitDefinition(std::string kit_name,
                         int32_t first_index,
                         int32_t last_index,
                         int32_t first_inner_index,
                         int32_t last_inner_index,
                         bool is_dual,
                         bool is_both_ends,
                         bool add_a_to_barcode_12,
                         std::string barcode_name_format);

    std::string kit_name() const;
    int first_index() const;
    int last_index() const;
    int first_inner_index() const;
    int last_inner_index() const;
    bool is_dual() const;
    bool is_both_ends() const;

    // The name of barcode `outer` (with `inner` for a dual kit). A kit
    // without numbered barcodes gives its name format unchanged. Throws
    // std::out_of_range for a number outside the kit's range.
    std::string generate_barcode_name(int outer, int inner) const;

private:
    std::shared_ptr<const KitDefinitionImpl> m_impl;
};

class VEMLA_EXPORT LampKitDefinition {
public:
    class LampKitDefinitionImpl;

    LampKitDefinition(std::string kit_name,
                      int32_t first_index,
                      int32_t last_index,
                      std::string barcode_name_format,
                      std::vector<std::string> targets);

    std::string kit_name() const;
    int first_index() const;
    int last_index() const;
    const std::vector<std::string>& targets() const;

    // The name of barcode `index`; a kit without numbered barcodes gives its
    // name format unchanged. Throws std::out_of_range outside the kit's range.
    std::string generate_barcode_name(int index) const;

private:
    std::shared_ptr<const LampKitDefinitionImpl> m_impl;
};

}  // namespace server_query
}  // namespace vemla
