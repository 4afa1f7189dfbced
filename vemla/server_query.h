#pragma once

// One-shot questions to a basecall server that need no VemlaClient. Each
// call opens its own short-lived channel to `address` and waits up to
// `timeout_ms` for the answer; failures come back as a Result, never thrown.
// Out vectors are appended to; on failure they keep what was added before it.

#include "common/export.h"

#include "vemla/kit_definitions.h"
#include "vemla/results.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vemla {
namespace server_query {

struct ClientStatistics {
    uint32_t input_read_count = 0;
    uint32_t output_read_count = 0;
};

struct ServerStatistics {
    uint64_t lifetime_reads_in = 0;
    uint64_t lifetime_reads_out = 0;
    uint64_t period_reads_in = 0;
    uint64_t period_reads_out = 0;
    std::vector<ClientStatistics> client_statistics;  // one row per client the server knows
};

VEMLA_EXPORT Result get_barcode_kits(std::string address, std::vector<BarcodeKitDefinition>& kits, uint32_t timeout_ms);

VEMLA_EXPORT Result get_lamp_kits(std::string address, std::vector<LampKitDefinition>& kits, uint32_t timeout_ms);

// Overwrites the four counters and appends the client rows.
VEMLA_EXPORT Result get_server_statistics(std::string address, ServerStatistics& statistics, uint32_t timeout_ms);

// The "ServerInformation" part of the server's internal state, as compact JSON.
VEMLA_EXPORT Result get_server_information(std::string address, std::string& information, uint32_t timeout_ms);

// The server's whole internal state, as the server sent it.
VEMLA_EXPORT Result get_server_internal_state(std::string address, std::string& state, uint32_t timeout_ms);

}  // namespace server_query
}  // namespace vemla
