#pragma once

#include "ipc_tools/ipc_tools.h"

#include <cstdint>
#include <string>
#include <vector>

// One-shot questions to a basecall server, without a client connection. Each
// call opens its own request channel, asks once and closes it again; it may
// run on any thread. Failures are the request broker's exceptions, and
// ipc_tools::InvalidResponse for a reply of the wrong kind.
namespace basecall_service::server_proxy {

/// Tag type naming the queries' trace domain.
struct Trace {};

struct BarcodeKit {
    std::string kit_name;
    int32_t first_index = 0;
    int32_t last_index = 0;
    int32_t first_inner_index = 0;
    int32_t last_inner_index = 0;
    bool is_dual = false;
    bool is_both_ends = false;
    bool add_a_to_barcode_12 = false;
    std::string barcode_name_format;  // printf-style, one integer
};

struct LampKit {
    std::string kit_name;
    int32_t first_index = 0;
    int32_t last_index = 0;
    std::string barcode_name_format;
    std::vector<std::string> targets;
};

struct ClientStats {
    uint32_t input_read_count = 0;
    uint32_t output_read_count = 0;
};

struct ServerStatsSummary {
    uint64_t lifetime_reads_in = 0;
    uint64_t lifetime_reads_out = 0;
    uint64_t period_reads_in = 0;
    uint64_t period_reads_out = 0;
    std::vector<ClientStats> client_statistics;
};

// The address is an ipc:// path, a host and port, or a bare port; the
// time-out applies to each of the broker's polls.
std::vector<BarcodeKit> get_barcode_kits(const std::string& address, uint32_t timeout_ms);
std::vector<LampKit> get_lamp_kits(const std::string& address, uint32_t timeout_ms);
ServerStatsSummary get_server_statistics(const std::string& address, uint32_t timeout_ms);
/// The server's internal state as JSON text, passed on unread.
std::string get_server_internal_state(const std::string& address, uint32_t timeout_ms);

BarcodeKit create_barcode_kit(const vemla_ipc::BarcodeKitDefinition& definition);
LampKit create_lamp_kit(const vemla_ipc::LampKitDefinition& definition);
/// Every barcode kit of a RETURN_CONFIGS reply, in list order.
std::vector<BarcodeKit> extract_barcoding_arrangements(const ipc_tools::Message& message);
/// Every LAMP kit of a RETURN_CONFIGS reply, in list order.
std::vector<LampKit> extract_lamp_arrangements(const ipc_tools::Message& message);
ServerStatsSummary get_stats_from_message(const vemla_ipc::ServerStats& stats);

}  // namespace basecall_service::server_proxy
