#include "common/trace_configuration.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>

#include "common/logger.h"
#include "common/trace_contexts.h"
#include "common/trace_testability.h"
#include "common/trace_writer.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {
namespace {

bool mode_from_keyword(const std::string& word, TraceMode& mode) {
    static const std::pair<const char*, TraceMode> keywords[] = {
            {"verbose_log", TraceMode::verbose_log}, {"trace_file", TraceMode::trace_file},
            {"stdout", TraceMode::stdout},           {"stderr", TraceMode::stderr},
            {"custom", TraceMode::custom},
    };
    for (const auto& [keyword, value] : keywords) {
        if (word == keyword) {
            mode = value;
            return true;
        }
    }
    return false;
}

bool verbose_records_pass() {
    auto& logger = common::logging::verbose::get();
    auto record = logger.open_record();
    return static_cast<bool>(record);  // dropped unwritten
}

}  // namespace

TraceConfiguration& TraceConfiguration::instance() {
    static TraceConfiguration instance;
    return instance;
}

TraceConfiguration::TraceConfiguration() : m_disabled_context(make_disabled_trace_context()) {
    if (const char* path = std::getenv("ZEB_VEMLA_TRACE_CONFIG")) {
        std::ifstream file(path);
        if (file.is_open()) {
            read_lines(file);
        }
    }
}

void TraceConfiguration::configure_trace_domains_impl(std::istream& stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    read_lines(stream);
}

bool TraceConfiguration::configure_trace_domains_if_empty(std::istream& stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_exact_domains.empty() || !m_prefix_domains.empty()) {
        return false;
    }
    read_lines(stream);
    return true;
}

void TraceConfiguration::replace_trace_domains(std::istream& stream) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exact_domains.clear();
    m_prefix_domains.clear();
    read_lines(stream);
}

void TraceConfiguration::add_trace_domain_mode(std::string domain, TraceMode mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    add_entry(std::move(domain), mode);
}

void TraceConfiguration::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exact_domains.clear();
    m_prefix_domains.clear();
}

TraceMode TraceConfiguration::default_mode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_default_mode;
}

void TraceConfiguration::set_default_mode(TraceMode mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default_mode = mode;
}

// Caller holds m_mutex (or is the constructor).
void TraceConfiguration::read_lines(std::istream& stream) {
    std::string line;
    while (std::getline(stream, line)) {
        boost::algorithm::trim(line);  // also drops the CR of CR LF files
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> words;
        boost::algorithm::split(words, line, boost::algorithm::is_space(), boost::algorithm::token_compress_on);
        if (words[0][0] == '#') {
            continue;
        }
        TraceMode mode = m_default_mode;
        if (words.size() > 1 && words[1][0] != '#') {
            if (!mode_from_keyword(words[1], mode)) {
                continue;
            }
        } else if (mode == TraceMode::off) {
            continue;
        }
        add_entry(words[0], mode);
    }
}

// Caller holds m_mutex (or is the constructor).
void TraceConfiguration::add_entry(std::string domain, TraceMode mode) {
    if (!domain.empty() && domain.back() == '*') {
        domain.pop_back();
        m_prefix_domains.emplace(std::move(domain), mode);
    } else {
        m_exact_domains.emplace(std::move(domain), mode);
    }
}

TraceMode TraceConfiguration::get_domain_trace_mode(const std::string& domain) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto exact = m_exact_domains.find(domain);
    if (exact != m_exact_domains.end() && exact->second != TraceMode::off) {
        return exact->second;
    }
    // Only an exact entry switches on a high-frequency domain.
    if (domain.compare(0, HFTRACE_PREFIX.size(), HFTRACE_PREFIX) == 0) {
        return TraceMode::off;
    }
    for (const auto& [prefix, mode] : m_prefix_domains) {
        if (domain.compare(0, prefix.size(), prefix) == 0) {
            return mode;
        }
    }
    return TraceMode::off;
}

std::shared_ptr<TraceContext> create_trace_context(std::string domain) {
    auto& configuration = TraceConfiguration::instance();
    const auto mode = configuration.get_domain_trace_mode(domain);
    if (mode == TraceMode::off) {
        return configuration.disabled_context();
    }
    if (mode == TraceMode::verbose_log && !verbose_records_pass()) {
        return configuration.disabled_context();
    }
    return make_enabled_trace_context(domain, mode);
}

}  // namespace details

namespace testability {

using details::ActiveTraceContext;
using details::TraceConfiguration;

void set_custom_trace_writer(std::function<void(const std::string&)> writer) {
    auto& configuration = TraceConfiguration::instance();
    ActiveTraceContext::instance().set_custom_writer(std::move(writer));
    configuration.set_default_mode(TraceMode::custom);
}

void set_default_trace_mode(TraceMode mode) {
    TraceConfiguration::instance().set_default_mode(mode);
}

void set_enabled_trace_domains(const std::string& domains) {
    auto& configuration = TraceConfiguration::instance();
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, domains, boost::algorithm::is_any_of(","));
    configuration.clear();
    const auto mode = configuration.default_mode();
    for (auto& piece : pieces) {
        boost::algorithm::trim(piece);
        if (!piece.empty()) {
            configuration.add_trace_domain_mode(piece, mode);
        }
    }
}

void configure_trace_domains(std::istream& stream) {
    TraceConfiguration::instance().replace_trace_domains(stream);
}

void configure_trace_domains(const std::string& path) {
    auto& configuration = TraceConfiguration::instance();
    if (path.empty()) {
        return;
    }
    std::ifstream file(path);
    if (!file.is_open()) {
        common::logging::write_log_record(
                common::logging::info::get(),
                "void common::diagnostics::tracing::testability::configure_trace_domains(const std::string &)",
                "Could not read trace configuration file: " + path);
    }
    configuration.replace_trace_domains(file);
}

bool environment_config_exists() {
    return std::getenv("ZEB_VEMLA_TRACE_CONFIG") != nullptr;
}

void wait_for_trace_writer() {
    ActiveTraceContext::instance().wait_until_written();
}

}  // namespace testability
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
