#include "common/state_context.h"

#include <exception>

#include "common/concrete_state_logger.h"

namespace common {
namespace diagnostics {
namespace state {
namespace context {

StateLogging& StateLogging::context() {
    static StateLogging instance;
    return instance;
}

StateLogging::~StateLogging() = default;

void StateLogging::register_provider(StateProvider* provider, const std::string& name) {
    auto trace = create_trace("register_provider");
    trace.message(name);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_providers[name] = provider;
}

void StateLogging::unregister_provider(const std::string& name, const StateProvider* provider) {
    auto trace = create_trace("unregister_provider");
    trace.message(name);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_providers.find(name);
        if (it != m_providers.end() && it->second == provider) {
            m_providers.erase(it);
        }
    }
    // A report may have copied the pointer before the erase (or before a
    // replacement under the same name); wait for it to finish.
    std::unique_lock<std::shared_mutex> wait_for_reports(m_reporting);
}

StateLogging::ProviderMap StateLogging::copy_providers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_providers;
}

std::vector<StateRecord> StateLogging::get_state() {
    auto trace = create_trace("get_state");
    std::vector<StateRecord> records;
    detail::ConcreteStateLogger logger(records);
    std::shared_lock<std::shared_mutex> reporting(m_reporting);
    for (const auto& [name, provider] : copy_providers()) {
        auto section = logger.create_child_section(name);
        try {
            provider->report_state(logger);
        } catch (const std::exception& e) {
            logger.log("exception reporting state", std::string(e.what()));
        } catch (...) {
            logger.log("error reporting state", std::string("unknown"));
        }
    }
    return records;
}

void register_provider(StateProvider* provider, const std::string& name) {
    StateLogging::context().register_provider(provider, name);
}

void unregister_provider(const std::string& name, const StateProvider* provider) {
    StateLogging::context().unregister_provider(name, provider);
}

std::string request_state(const StateFormatter& formatter) {
    auto records = StateLogging::context().get_state();
    return formatter(records);
}

}  // namespace context
}  // namespace state
}  // namespace diagnostics
}  // namespace common
