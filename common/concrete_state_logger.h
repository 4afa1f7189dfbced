#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/state_logger.h"
#include "common/trace.h"

namespace common {
namespace diagnostics {
namespace state {
namespace detail {

// Appends one record per call to a list owned by the caller, which must
// outlive the logger and every section handle it returned.
class ConcreteStateLogger final : public StateLogger, private tracing::TraceDomain<ConcreteStateLogger> {
public:
    explicit ConcreteStateLogger(std::vector<StateRecord>& records);

    using StateLogger::log;
    void log(std::string key, std::string value) override;
    void log(std::string key, bool value) override;
    void log(std::string key, long long value) override;
    void log(std::string key, unsigned long long value) override;
    void log(std::string key, double value) override;
    std::unique_ptr<ChildSection> create_child_section(std::string name) override;

private:
    std::vector<StateRecord>& m_records;
};

}  // namespace detail
}  // namespace state
}  // namespace diagnostics
}  // namespace common
