#pragma once

// Which trace domains write, and where to: exact and prefix entries, read
// from the file named by ZEB_VEMLA_TRACE_CONFIG at first use.

#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/trace.h"
#include "common/trace_mode.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {

class TraceConfiguration {
public:
    // Descending keys: of two matching prefixes the longer comes first.
    using DomainMap = std::map<std::string, TraceMode, std::greater<std::string>>;

    static TraceConfiguration& instance();

    // Adds the entries of the stream's lines; the first entry for a key wins.
    void configure_trace_domains_impl(std::istream& stream);
    // Reads the stream only while no entry exists; true when it was read.
    bool configure_trace_domains_if_empty(std::istream& stream);
    // Empties both maps, then reads the stream.
    void replace_trace_domains(std::istream& stream);
    // A trailing '*' makes a prefix entry. Kept only when the key is new.
    void add_trace_domain_mode(std::string domain, TraceMode mode);
    void clear();

    TraceMode get_domain_trace_mode(const std::string& domain) const;

    TraceMode default_mode() const;
    void set_default_mode(TraceMode mode);

    const std::shared_ptr<TraceContext>& disabled_context() const { return m_disabled_context; }

private:
    TraceConfiguration();

    void read_lines(std::istream& stream);
    void add_entry(std::string domain, TraceMode mode);

    mutable std::mutex m_mutex;  // guards the maps and the default mode
    DomainMap m_prefix_domains;
    DomainMap m_exact_domains;
    TraceMode m_default_mode = TraceMode::verbose_log;
    const std::shared_ptr<TraceContext> m_disabled_context;
};

}  // namespace details
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
