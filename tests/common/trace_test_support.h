#pragma once

#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <boost/core/null_deleter.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>

#include "common/logger.h"
#include "common/trace_testability.h"

namespace vemla_test {

// Installs itself as the custom trace writer and keeps every line.
class CollectedTraceLines {
public:
    CollectedTraceLines() {
        common::diagnostics::tracing::testability::set_custom_trace_writer([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~CollectedTraceLines() {
        common::diagnostics::tracing::testability::set_custom_trace_writer([](const std::string&) {});
        common::diagnostics::tracing::testability::wait_for_trace_writer();
    }

    // Every line posted before the call.
    std::vector<std::string> lines() {
        common::diagnostics::tracing::testability::wait_for_trace_writer();
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// Captures the records of the logging core while alive.
class CapturedLog {
public:
    // Without a filter the sink takes every record.
    explicit CapturedLog(bool take_verbose = true) {
        m_sink = boost::make_shared<Sink>();
        m_sink->locked_backend()->add_stream(boost::shared_ptr<std::ostream>(&m_text, boost::null_deleter()));
        m_sink->locked_backend()->auto_flush(true);
        if (!take_verbose) {
            m_sink->set_filter(boost::log::expressions::attr<common::logging::attributes::SeverityLevel>("Severity") !=
                               common::logging::attributes::verbose);
        }
        boost::log::core::get()->add_sink(m_sink);
    }
    ~CapturedLog() { boost::log::core::get()->remove_sink(m_sink); }

    std::string text() {
        m_sink->flush();
        return m_text.str();
    }

private:
    std::ostringstream m_text;
    using Sink = boost::log::sinks::synchronous_sink<boost::log::sinks::text_ostream_backend>;
    boost::shared_ptr<Sink> m_sink;
};

}  // namespace vemla_test
