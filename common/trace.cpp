#include "common/trace.h"

#include "common/trace_contexts.h"
#include "common/trace_writer.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace {

using details::ActiveTraceContext;

class DisabledTraceContext : public details::TraceContext {
public:
    void write_entry(const std::string&) override {}
    void write_exit(const std::string&) override {}
    void write_exit(const std::string&, std::chrono::nanoseconds) override {}
    void write_message(const std::string&, const std::string&) override {}
    void write_message(const std::string&, std::function<std::string()>) override {}
    void write_message(const std::string&, const std::string&, std::chrono::nanoseconds) override {}
    bool is_active() const override { return false; }
};

class EnabledTraceContext : public details::TraceContext {
public:
    EnabledTraceContext(std::string prefix, TraceMode mode) : m_prefix(std::move(prefix)), m_mode(mode) {}

    void write_entry(const std::string& name) override { post(ActiveTraceContext::ENTRY_TAG, name, nullptr); }

    void write_exit(const std::string& name) override { post(ActiveTraceContext::EXIT_TAG, name, nullptr); }

    void write_exit(const std::string& name, std::chrono::nanoseconds elapsed) override {
        const auto detail = ActiveTraceContext::create_timestamp(elapsed);
        post(ActiveTraceContext::EXIT_TAG, name, &detail);
    }

    void write_message(const std::string& name, const std::string& message) override {
        post(ActiveTraceContext::MESSAGE_TAG, name, &message);
    }

    void write_message(const std::string& name, std::function<std::string()> message) override {
        // An empty producer throws bad_function_call here, before posting.
        const auto text = message();
        post(ActiveTraceContext::MESSAGE_TAG, name, &text);
    }

    void write_message(const std::string& name, const std::string& message, std::chrono::nanoseconds elapsed) override {
        const auto detail = message + " " + ActiveTraceContext::create_timestamp(elapsed);
        post(ActiveTraceContext::MESSAGE_TAG, name, &detail);
    }

    bool is_active() const override { return true; }

private:
    void post(const std::string& tag, const std::string& name, const std::string* detail) const {
        auto* writer = ActiveTraceContext::instance_if_alive();
        if (!writer) {
            return;
        }
        const auto body = m_prefix + name;
        writer->post_message(m_mode,
                             detail ? writer->decorate_output(tag, body, *detail) : writer->decorate_output(tag, body));
    }

    std::string m_prefix;
    TraceMode m_mode;
};

}  // namespace

namespace details {

std::shared_ptr<TraceContext> make_disabled_trace_context() {
    return std::make_shared<DisabledTraceContext>();
}

std::shared_ptr<TraceContext> make_enabled_trace_context(const std::string& domain, TraceMode mode) {
    return std::make_shared<EnabledTraceContext>(domain + "::", mode);
}

}  // namespace details

Trace::Trace(std::shared_ptr<details::TraceContext> context, std::string name, bool timed)
    : m_context(std::move(context)), m_name(std::move(name)), m_timed(timed) {
    if (m_timed) {
        m_start = std::chrono::steady_clock::now();
    }
    m_context->write_entry(m_name);
}

Trace::~Trace() {
    try {
        if (m_timed) {
            m_context->write_exit(m_name, std::chrono::steady_clock::now() - m_start);
        } else {
            m_context->write_exit(m_name);
        }
    } catch (...) {
        // Tracing must never break the traced code.
    }
}

void Trace::message(const std::string& text) {
    m_context->write_message(m_name, text);
}

void Trace::message(std::function<std::string()> producer) {
    m_context->write_message(m_name, std::move(producer));
}

void Trace::timed_message(const std::string& text) {
    if (m_timed) {
        m_context->write_message(m_name, text, std::chrono::steady_clock::now() - m_start);
    } else {
        m_context->write_message(m_name, text);
    }
}

void flush() {
    details::ActiveTraceContext::instance().flush();
}

}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
