#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "common/trace_testability.h"

namespace vemla_test {

// Installs itself as the custom trace writer and keeps every line.
class CollectedTraceLines {
public:
    CollectedTraceLines()
    {
        common::diagnostics::tracing::testability::set_custom_trace_writer([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~CollectedTraceLines()
    {
        common::diagnostics::tracing::testability::set_custom_trace_writer([](const std::string&) {});
        common::diagnostics::tracing::testability::wait_for_trace_writer();
    }

    // Every line posted before the call.
    std::vector<std::string> lines()
    {
        common::diagnostics::tracing::testability::wait_for_trace_writer();
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace vemla_test
