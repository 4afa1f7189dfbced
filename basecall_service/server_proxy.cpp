#include "basecall_service/server_proxy.h"

#include "common/trace.h"
#include "ipc_tools/broker_errors.h"
#include "ipc_tools/request_broker.h"
#include "ipc_tools/wire_access.h"

namespace basecall_service::server_proxy {

namespace {

using ipc_tools::Message;
using ipc_tools::MessageType;
using ipc_tools::wire::as_string;
using ipc_tools::wire::or_empty;
using QueryTrace = common::diagnostics::tracing::TraceDomainHelper<Trace>;

// One question: a broker of its own, one request, the reply's kind checked,
// then decoded. The broker (socket and context) goes on every way out.
template <typename Decode>
auto ask(const std::string& address,
         uint32_t timeout_ms,
         Message request,
         MessageType expected,
         const std::string& invalid_reply_prefix,
         Decode decode) {
    ipc_tools::RequestBroker broker;
    broker.prepare_connection(address, timeout_ms);
    Message reply;
    broker.send_request(request, reply);
    if (reply.type != expected) {
        throw ipc_tools::InvalidResponse(invalid_reply_prefix + ipc_tools::message_type_as_string(reply.type));
    }
    return decode(reply);
}

const vemla_ipc::ConfigListData* config_list_of(const Message& message) {
    const auto* root = message.get_message_data();
    return root ? root->content_as_ConfigListData() : nullptr;
}

}  // namespace

std::vector<BarcodeKit> get_barcode_kits(const std::string& address, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_barcode_kits");
    return ask(address, timeout_ms, Message(MessageType::GET_BARCODE_KITS, "", 0, ""), MessageType::RETURN_CONFIGS,
               "Could not retrieve barcode kits from server, invalid reply: ", extract_barcoding_arrangements);
}

std::vector<LampKit> get_lamp_kits(const std::string& address, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_lamp_kits");
    return ask(address, timeout_ms, Message(MessageType::GET_LAMP_KITS, "", 0, ""), MessageType::RETURN_CONFIGS,
               "Could not retrieve lamp kits from server, invalid reply: ", extract_lamp_arrangements);
}

ServerStatsSummary get_server_statistics(const std::string& address, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_server_statistics");
    return ask(address, timeout_ms, Message(MessageType::GET_STATISTICS, "", 0, ""), MessageType::RETURN_STATISTICS,
               "Could not retrieve statistics from server, invalid reply: ", [](const Message& reply) {
                   const auto* stats = reply.get_message_data()->content_as_ServerStats();
                   return stats ? get_stats_from_message(*stats) : ServerStatsSummary{};
               });
}

std::string get_server_internal_state(const std::string& address, uint32_t timeout_ms) {
    auto trace = QueryTrace::create_trace("get_server_internal_state");
    return ask(address, timeout_ms, ipc_tools::create_query_request(ipc_tools::QueryCode::server_internal_state, ""),
               MessageType::RESPONSE,
               "Could not retrieve state from server, invalid reply: ", [](const Message& reply) {
                   const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
                   return content ? as_string(content->text()) : std::string();
               });
}

BarcodeKit create_barcode_kit(const vemla_ipc::BarcodeKitDefinition& definition) {
    auto trace = QueryTrace::create_trace("create_barcode_kit");
    BarcodeKit kit;
    kit.kit_name = as_string(definition.kit_name());
    kit.first_index = static_cast<int32_t>(definition.first_index());
    kit.last_index = static_cast<int32_t>(definition.last_index());
    kit.first_inner_index = static_cast<int32_t>(definition.first_inner_index());
    kit.last_inner_index = static_cast<int32_t>(definition.last_inner_index());
    kit.is_dual = definition.is_dual();
    kit.is_both_ends = definition.is_both_ends();
    kit.add_a_to_barcode_12 = definition.add_a_to_barcode_12();
    kit.barcode_name_format = as_string(definition.barcode_name_format());
    return kit;
}

LampKit create_lamp_kit(const vemla_ipc::LampKitDefinition& definition) {
    auto trace = QueryTrace::create_trace("create_lamp_kit");
    LampKit kit;
    kit.kit_name = as_string(definition.kit_name());
    kit.first_index = static_cast<int32_t>(definition.first_index());
    kit.last_index = static_cast<int32_t>(definition.last_index());
    kit.barcode_name_format = as_string(definition.barcode_name_format());
    for (const auto* target : or_empty(definition.targets())) {
        kit.targets.push_back(as_string(target));
    }
    return kit;
}

std::vector<BarcodeKit> extract_barcoding_arrangements(const Message& message) {
    auto trace = QueryTrace::create_trace("extract_barcoding_arrangements");
    std::vector<BarcodeKit> kits;
    const auto* list = config_list_of(message);
    for (const auto* definition : or_empty(list ? list->barcode_kits() : nullptr)) {
        if (definition) {
            kits.push_back(create_barcode_kit(*definition));
        }
    }
    return kits;
}

std::vector<LampKit> extract_lamp_arrangements(const Message& message) {
    auto trace = QueryTrace::create_trace("extract_lamp_arrangements");
    std::vector<LampKit> kits;
    const auto* list = config_list_of(message);
    for (const auto* definition : or_empty(list ? list->lamp_kits() : nullptr)) {
        if (definition) {
            kits.push_back(create_lamp_kit(*definition));
        }
    }
    return kits;
}

ServerStatsSummary get_stats_from_message(const vemla_ipc::ServerStats& stats) {
    auto trace = QueryTrace::create_trace("get_stats_from_message");
    ServerStatsSummary summary;
    summary.lifetime_reads_in = stats.lifetime_reads_in();
    summary.lifetime_reads_out = stats.lifetime_reads_out();
    summary.period_reads_in = stats.period_reads_in();
    summary.period_reads_out = stats.period_reads_out();
    for (const auto* client : or_empty(stats.clients())) {
        if (client) {
            summary.client_statistics.push_back({client->input_read_count(), client->output_read_count()});
        }
    }
    return summary;
}

}  // namespace basecall_service::server_proxy
