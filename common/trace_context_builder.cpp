#include "common/trace_context_builder.h"

#include <atomic>
#include <fstream>
#include <mutex>

#include <boost/filesystem/path.hpp>

#include "common/logger.h"
#include "common/trace_configuration.h"
#include "common/trace_writer.h"

namespace {

using common::diagnostics::tracing::AbstractContextBuilder;
using common::diagnostics::tracing::TraceMode;

class ContextBuilder final : public AbstractContextBuilder {
public:
    AbstractContextBuilder& with_custom_trace_writer(std::function<void(const std::string&)> writer) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_custom_trace_writer = std::move(writer);
        return *this;
    }

    AbstractContextBuilder& with_trace_domains_file(std::string file_name) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_trace_domains_file = std::move(file_name);
        return *this;
    }

    AbstractContextBuilder& using_trace_output_folder(std::string folder) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_trace_output_folder = std::move(folder);
        return *this;
    }

    AbstractContextBuilder& with_trace_file_unique_id(int id) override {
        if (id >= 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_trace_file_unique_id = std::to_string(id);
        }
        return *this;
    }

    AbstractContextBuilder& with_trace_file_unique_id(std::string id) override {
        // The id becomes part of a file name: portable characters only.
        if (boost::filesystem::portable_name("A" + id + "a.txt")) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_trace_file_unique_id = std::move(id);
        }
        return *this;
    }

    void initialise() override {
        // One lock over the setters and the one-time set-up: clients may be
        // set up on several threads at once.
        std::lock_guard<std::mutex> lock(m_mutex);
        bool expected = false;
        if (!m_initialised.compare_exchange_strong(expected, true)) {
            return;
        }
        using common::diagnostics::tracing::details::ActiveTraceContext;
        using common::diagnostics::tracing::details::TraceConfiguration;
        auto& writer = ActiveTraceContext::instance();
        writer.set_custom_writer(m_custom_trace_writer);
        writer.set_file_tracing_info(m_trace_output_folder, m_trace_file_unique_id);

        auto& configuration = TraceConfiguration::instance();
        configuration.set_default_mode(m_default_trace_mode);
        if (m_trace_domains_file.empty()) {
            return;
        }
        std::ifstream file(m_trace_domains_file);
        if (!file.is_open()) {
            common::logging::write_log_record(common::logging::info::get(), "virtual void ContextBuilder::initialise()",
                                              "Could not read trace configuration file: " + m_trace_domains_file);
            return;
        }
        // Domains configured through ZEB_VEMLA_TRACE_CONFIG win.
        configuration.configure_trace_domains_if_empty(file);
    }

private:
    std::mutex m_mutex;
    const TraceMode m_default_trace_mode = TraceMode::verbose_log;
    std::function<void(const std::string&)> m_custom_trace_writer = [](const std::string&) {};
    std::string m_trace_domains_file;
    std::string m_trace_output_folder;
    std::string m_trace_file_unique_id;
    std::atomic<bool> m_initialised{false};
};

}  // namespace

namespace common {
namespace diagnostics {
namespace tracing {

AbstractContextBuilder& context() {
    static ContextBuilder builder;
    return builder;
}

}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
