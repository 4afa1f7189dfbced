#include "basecall_service/request_broker_adapter.h"

#include <system_error>

namespace basecall_service {

RequestBrokerAdapter::RequestBrokerAdapter() {
    auto trace = create_trace("RequestBrokerAdapter");
}

bool RequestBrokerAdapter::prepare_connection(const std::string& server_address, uint32_t timeout_ms) {
    return invoke([this, server_address, timeout_ms] { m_broker.prepare_connection(server_address, timeout_ms); });
}

bool RequestBrokerAdapter::send_request(ipc_tools::Message& request, ipc_tools::Message& reply) {
    return invoke([this, &request, &reply] { m_broker.send_request(request, reply); });
}

bool RequestBrokerAdapter::ping_server_if_quiet(const std::string& client_id) {
    // Called on every pass of the read pump: the id is borrowed, not copied.
    return invoke([this, &client_id] { m_broker.ping_server_if_quiet(client_id); });
}

bool RequestBrokerAdapter::invoke(const std::function<void()>& request) {
    m_error_state = ErrorState{};
    try {
        request();
        return true;
    } catch (const ipc_tools::BadReply& error) {
        m_error_state = {ConnectionError::bad_reply, error.what()};
    } catch (const ipc_tools::BadRequest& error) {
        m_error_state = {ConnectionError::bad_request, error.what()};
    } catch (const ipc_tools::TimeoutError& error) {
        m_error_state = {ConnectionError::timed_out, error.what()};
    } catch (const ipc_tools::InvalidResponse& error) {
        m_error_state = {ConnectionError::invalid_response, error.what()};
    } catch (const std::system_error& error) {
        m_error_state = {ConnectionError::failed, "std::system_error[" + std::string(error.code().category().name()) +
                                                          ":" + std::to_string(error.code().value()) +
                                                          "] : " + error.what()};
    } catch (const zmq::error_t& error) {
        m_error_state = {ConnectionError::failed, std::string("zmq::error_t : ") + error.what()};
    }
    write_hftrace("invoke", [this] { return to_string(m_error_state); });
    return false;
}

}  // namespace basecall_service
