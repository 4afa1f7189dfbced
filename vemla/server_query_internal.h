#pragma once

// The parts of the server queries the library keeps to itself: they take or
// throw the engine's own types, so they stay out of the installed headers.

#include "basecall_service/server_proxy.h"
#include "vemla/kit_definitions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemla {
namespace server_query {

// The engine's kit values as kit definitions, every field copied.
BarcodeKitDefinition create_barcode_kit_definition(const basecall_service::server_proxy::BarcodeKit& kit);
LampKitDefinition create_lamp_kit_definition(const basecall_service::server_proxy::LampKit& kit);

// The server's LAMP kits, every failure thrown rather than turned into a code.
std::vector<LampKitDefinition> get_lamp_kits(std::string address, uint32_t timeout_ms);

}  // namespace server_query
}  // namespace vemla
