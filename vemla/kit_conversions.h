#pragma once

// The server proxy's kit values as the API's kit definitions, and the one
// query form that is not exported.

#include "basecall_service/server_proxy.h"
#include "vemla/kit_definitions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemla {
namespace server_query {

BarcodeKitDefinition create_barcode_kit_definition(const basecall_service::server_proxy::BarcodeKit& kit);
LampKitDefinition create_lamp_kit_definition(const basecall_service::server_proxy::LampKit& kit);

// The server's LAMP kits; every failure is thrown, not turned into a code.
std::vector<LampKitDefinition> get_lamp_kits(std::string address, uint32_t timeout_ms);

}  // namespace server_query
}  // namespace vemla
