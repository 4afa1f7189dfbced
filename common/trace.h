#pragma once

// Per-class tracing. A traced class T derives privately from TraceDomain<T>
// and gets two domains named after itself: the ordinary one ("ns::T") and the
// high-frequency one ("hftrace::ns::T") for per-read and per-request points.
// Whether a domain writes, and where to, is decided once, at its first use,
// by the trace configuration (ZEB_VEMLA_TRACE_CONFIG); a disabled domain
// builds no text and never calls a producer.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

#include <boost/core/demangle.hpp>

#include "common/trace_context_builder.h"
#include "common/trace_mode.h"
// The test operations that replace the configuration belong with tracing.
#include "common/trace_testability.h"

namespace common {
namespace details {
// Words that some runtimes put in front of type names; stripped from domains.
const std::string VS_CLASS_PREFIX = "class ";
const std::string VS_STRUCT_PREFIX = "struct ";
}  // namespace details

namespace diagnostics {
namespace tracing {
namespace details {

const std::string HFTRACE_PREFIX = "hftrace::";

// Output of one domain, shared by the domain and each of its open traces.
class TraceContext {
public:
    virtual void write_entry(const std::string& name) = 0;
    virtual void write_exit(const std::string& name) = 0;
    virtual void write_exit(const std::string& name, std::chrono::nanoseconds elapsed) = 0;
    virtual void write_message(const std::string& name, const std::string& message) = 0;
    // The producer is called once, on the calling thread, only when active.
    virtual void write_message(const std::string& name, std::function<std::string()> message) = 0;
    virtual void write_message(const std::string& name,
                               const std::string& message,
                               std::chrono::nanoseconds elapsed) = 0;
    virtual bool is_active() const = 0;
    virtual ~TraceContext() = default;
};

// The shared disabled context, or a new enabled one for the domain's mode.
std::shared_ptr<TraceContext> create_trace_context(std::string domain);

}  // namespace details

// One open trace scope: an entry line now, an exit line at destruction.
class Trace {
public:
    Trace(std::shared_ptr<details::TraceContext> context, std::string name, bool timed);
    ~Trace();

    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
    Trace(Trace&&) = delete;
    Trace& operator=(Trace&&) = delete;

    void message(const std::string& text);
    void message(std::function<std::string()> producer);
    // With the time since the trace opened when the trace is timed.
    void timed_message(const std::string& text);

private:
    std::shared_ptr<details::TraceContext> m_context;
    std::string m_name;
    bool m_timed;
    std::chrono::steady_clock::time_point m_start;
};

// Blocks until every line posted so far is written, then stops the writer:
// lines posted afterwards are dropped.
void flush();

}  // namespace tracing
}  // namespace diagnostics

template <typename T>
class ClassName {
public:
    // Erases every occurrence of prefix, including ones formed by an erasure.
    static void remove_from_name(std::string& name, const std::string& prefix) {
        for (auto pos = name.find(prefix); pos != std::string::npos; pos = name.find(prefix)) {
            name.erase(pos, prefix.size());
        }
    }
};

namespace diagnostics {
namespace tracing {

template <typename T>
class TraceDomain {
public:
    static std::shared_ptr<details::TraceContext> get_trace_context() {
        static const std::shared_ptr<details::TraceContext> context = details::create_trace_context(domain_name());
        return context;
    }

    static std::string hftrace_domain_name() { return details::HFTRACE_PREFIX + domain_name(); }

    static std::shared_ptr<details::TraceContext> get_hftrace_context() {
        static const std::shared_ptr<details::TraceContext> context =
                details::create_trace_context(hftrace_domain_name());
        return context;
    }

    static Trace create_trace(std::string name) { return Trace(get_trace_context(), std::move(name), false); }

    static Trace create_timed_trace(std::string name) { return Trace(get_trace_context(), std::move(name), true); }

    static Trace create_hftrace(std::string name) { return Trace(get_hftrace_context(), std::move(name), false); }

    static void write_hftrace(const std::string& name, std::function<std::string()> message) {
        get_hftrace_context()->write_message(name, std::move(message));
    }

private:
    static std::string domain_name() {
        std::string name = boost::core::demangle(typeid(T).name());
        ClassName<T>::remove_from_name(name, common::details::VS_CLASS_PREFIX);
        ClassName<T>::remove_from_name(name, common::details::VS_STRUCT_PREFIX);
        return name;
    }
};

// Gives code outside T access to T's domains.
template <typename T>
class TraceDomainHelper : private TraceDomain<T> {
public:
    using TraceDomain<T>::get_trace_context;
    using TraceDomain<T>::hftrace_domain_name;
    using TraceDomain<T>::get_hftrace_context;
    using TraceDomain<T>::create_trace;
    using TraceDomain<T>::create_timed_trace;
    using TraceDomain<T>::create_hftrace;
    using TraceDomain<T>::write_hftrace;
};

}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
