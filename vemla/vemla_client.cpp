#include "vemla/vemla_client.h"

#include "common/logger.h"
#include "common/trace_context_builder.h"
#include "vemla/read_validation.h"
#include "vemla/vemla_client_impl.h"

#include <utility>

namespace vemla {

VemlaClient::VemlaClient(std::string address, std::string config, std::string trace_folder) {
    common::logging::LoggerOptionsUtils::SetDefaultLogOptions();
    if (!trace_folder.empty()) {
        common::diagnostics::tracing::context().using_trace_output_folder(std::move(trace_folder));
    }
    m_impl = std::make_unique<VemlaClientImpl>(std::move(address), std::move(config));
}

VemlaClient::~VemlaClient() = default;

Result VemlaClient::set_params(const bass::data_wrappers::Metadata& params) {
    return m_impl->set_params(params);
}

Result VemlaClient::set_state_change_handler(StateChangeHandler handler) {
    return m_impl->set_state_change_handler(std::move(handler));
}

Result VemlaClient::set_priority(Read::Priority priority) {
    return m_impl->set_priority(priority);
}

Result VemlaClient::set_callback_function(CallbackFunction callback) {
    return m_impl->set_callback_function(callback);
}

ConnectionStatus VemlaClient::get_status() const {
    return m_impl->get_status();
}

std::string VemlaClient::get_error_message() const {
    return m_impl->get_error_message();
}

std::string VemlaClient::get_internal_state() const {
    return m_impl->get_internal_state();
}

Result VemlaClient::connect() {
    return m_impl->connect();
}

PassReadResult VemlaClient::pass_read(Read& read, uint32_t timeout_ms) {
    auto trace = VemlaClientImpl::create_hftrace("pass_read");
    const PassReadResult result = m_impl->pass_read(read.get_readholder(), timeout_ms);
    trace.message([result] { return to_string(result); });
    return result;
}

bool VemlaClient::validate_read(const Read& read, std::string& error) const {
    return validate_read_impl(read.get_readholder(), error);
}

void VemlaClient::get_completed_reads(std::list<std::list<Read>>& reads) {
    m_impl->get_completed_reads(reads);
}

Result VemlaClient::finish(uint64_t timeout_s) {
    return m_impl->finish(timeout_s);
}

Result VemlaClient::disconnect() {
    return m_impl->disconnect();
}

Result VemlaClient::get_basecalling_config(bass::data_wrappers::Metadata& config) {
    return m_impl->get_basecalling_config(config);
}

Result VemlaClient::get_alignment_sam_header(std::string& header) {
    return m_impl->get_alignment_sam_header(header);
}

}  // namespace vemla
