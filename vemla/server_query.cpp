#include "vemla/server_query.h"

#include "basecall_service/server_proxy.h"
#include "common/trace.h"
#include "vemla/results.h"
#include "vemla/server_information.h"
#include "vemla/server_query_internal.h"

#include <utility>

namespace vemla {
namespace server_query {

// Tag type naming the queries' trace domain, "vemla::server_query::Trace".
struct Trace {};

namespace {

namespace proxy = basecall_service::server_proxy;
using QueryTrace = common::diagnostics::tracing::TraceDomainHelper<Trace>;

// Failures are told by the code alone; the server queries log nothing.
Result run_query(const std::function<Result()>& query) {
    return get_result(query, [](std::string) {});
}

}  // namespace

BarcodeKitDefinition create_barcode_kit_definition(const proxy::BarcodeKit& kit) {
    return BarcodeKitDefinition(kit.kit_name, kit.first_index, kit.last_index, kit.first_inner_index,
                                kit.last_inner_index, kit.is_dual, kit.is_both_ends, kit.add_a_to_barcode_12,
                                kit.barcode_name_format);
}

LampKitDefinition create_lamp_kit_definition(const proxy::LampKit& kit) {
    return LampKitDefinition(kit.kit_name, kit.first_index, kit.last_index, kit.barcode_name_format, kit.targets);
}

std::vector<LampKitDefinition> get_lamp_kits(std::string address, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_lamp_kits");
    std::vector<LampKitDefinition> kits;
    for (const auto& kit : proxy::get_lamp_kits(std::move(address), timeout_ms)) {
        kits.push_back(create_lamp_kit_definition(kit));
    }
    return kits;
}

Result get_barcode_kits(std::string address, std::vector<BarcodeKitDefinition>& kits, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_barcode_kits");
    return run_query([&] {
        for (const auto& kit : proxy::get_barcode_kits(std::move(address), timeout_ms)) {
            kits.push_back(create_barcode_kit_definition(kit));
        }
        return Result::success;
    });
}

Result get_lamp_kits(std::string address, std::vector<LampKitDefinition>& kits, uint32_t timeout_ms) {
    return run_query([&] {
        for (const auto& kit : proxy::get_lamp_kits(std::move(address), timeout_ms)) {
            kits.push_back(create_lamp_kit_definition(kit));
        }
        return Result::success;
    });
}

Result get_server_statistics(std::string address, ServerStatistics& statistics, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_server_statistics");
    return run_query([&] {
        const auto summary = proxy::get_server_statistics(std::move(address), timeout_ms);
        statistics.lifetime_reads_in = summary.lifetime_reads_in;
        statistics.lifetime_reads_out = summary.lifetime_reads_out;
        statistics.period_reads_in = summary.period_reads_in;
        statistics.period_reads_out = summary.period_reads_out;
        for (const auto& client : summary.client_statistics) {
            statistics.client_statistics.push_back({client.input_read_count, client.output_read_count});
        }
        return Result::success;
    });
}

Result get_server_information(std::string address, std::string& information, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_server_information");
    return run_query([&] {
        information = server_information_from_state(proxy::get_server_internal_state(std::move(address), timeout_ms));
        return Result::success;
    });
}

Result get_server_internal_state(std::string address, std::string& state, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_server_internal_state");
    return run_query([&] {
        state = proxy::get_server_internal_state(std::move(address), timeout_ms);
        return Result::success;
    });
}

}  // namespace server_query
}  // namespace vemla
