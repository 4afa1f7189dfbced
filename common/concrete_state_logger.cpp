#include "common/concrete_state_logger.h"

namespace {

using common::diagnostics::state::ChildSection;
using common::diagnostics::state::StateRecord;
using common::diagnostics::state::StateRecordType;

// Outside every named namespace: its trace domain is
// "(anonymous namespace)::ScopedSection".
class ScopedSection : public ChildSection, private common::diagnostics::tracing::TraceDomain<ScopedSection> {
public:
    ScopedSection(std::vector<StateRecord>* records, std::string name) : m_records(records), m_name(std::move(name)) {
        get_trace_context()->write_message("ScopedSection", std::string());
        m_records->push_back({StateRecordType::section_begin, m_name, {}});
    }

    ~ScopedSection() override {
        try {
            m_records->push_back({StateRecordType::section_end, std::move(m_name), {}});
        } catch (...) {
            // Out of memory while closing: the list stays unbalanced and the
            // formatter reports it; a destructor must not throw.
        }
    }

private:
    std::vector<StateRecord>* m_records;
    std::string m_name;
};

}  // namespace

namespace common {
namespace diagnostics {
namespace state {
namespace detail {

ConcreteStateLogger::ConcreteStateLogger(std::vector<StateRecord>& records) : m_records(records) {
    get_trace_context()->write_message("ConcreteStateLogger", std::string());
}

void ConcreteStateLogger::log(std::string key, std::string value) {
    m_records.push_back({StateRecordType::value, std::move(key), std::move(value)});
}

void ConcreteStateLogger::log(std::string key, bool value) {
    m_records.push_back({StateRecordType::value, std::move(key), value});
}

void ConcreteStateLogger::log(std::string key, long long value) {
    m_records.push_back({StateRecordType::value, std::move(key), value});
}

void ConcreteStateLogger::log(std::string key, unsigned long long value) {
    m_records.push_back({StateRecordType::value, std::move(key), value});
}

void ConcreteStateLogger::log(std::string key, double value) {
    m_records.push_back({StateRecordType::value, std::move(key), value});
}

std::unique_ptr<ChildSection> ConcreteStateLogger::create_child_section(std::string name) {
    return std::make_unique<ScopedSection>(&m_records, std::move(name));
}

}  // namespace detail
}  // namespace state
}  // namespace diagnostics
}  // namespace common
