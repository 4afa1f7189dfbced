#pragma once

// Process-wide registry of state providers. A report asks every provider,
// in name order and on the asking thread, to write into its own section,
// then hands the records to a formatter.

#include <functional>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "common/state_logger.h"
#include "common/trace.h"

namespace common {
namespace diagnostics {
namespace state {

class StateProvider {
public:
    virtual void report_state(StateLogger& logger) const = 0;

protected:
    StateProvider() = default;
    StateProvider(const StateProvider&) = default;
    StateProvider& operator=(const StateProvider&) = default;
    // The registry never destroys providers.
    ~StateProvider() = default;
};

using StateFormatter = std::function<std::string(const std::vector<StateRecord>&)>;

namespace context {

class StateLogging : private tracing::TraceDomain<StateLogging> {
public:
    using ProviderMap = std::map<std::string, StateProvider*>;

    static StateLogging& context();

    // Stores the provider under the name, replacing any earlier one.
    void register_provider(StateProvider* provider, const std::string& name);
    // Erases the name only while it still holds this provider, then waits
    // for reports already running, so the provider may be destroyed once
    // this returns. Must not be called from inside a report.
    void unregister_provider(const std::string& name, const StateProvider* provider);
    std::vector<StateRecord> get_state();
    ProviderMap copy_providers();

    ~StateLogging();

private:
    StateLogging() = default;

    std::mutex m_mutex;  // guards m_providers only
    ProviderMap m_providers;
    // Held shared by every running report; withdrawal takes it exclusively
    // to wait until no report can still reach a withdrawn provider.
    std::shared_mutex m_reporting;
};

void register_provider(StateProvider* provider, const std::string& name);
void unregister_provider(const std::string& name, const StateProvider* provider);
std::string request_state(const StateFormatter& formatter);

}  // namespace context
}  // namespace state
}  // namespace diagnostics
}  // namespace common
