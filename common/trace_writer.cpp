#include "common/trace_writer.h"

#include <pthread.h>

#include <cstdlib>
#include <future>
#include <iomanip>
#include <iostream>

#include <boost/log/core.hpp>

#include "common/logger.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {
namespace {

// Trivially destructible, so still readable while statics are torn down.
std::atomic<bool> g_writer_destroyed{false};

std::string folder_from_environment() {
    const char* folder = std::getenv("ZEB_VEMLA_TRACE_FOLDER");
    return folder ? folder : "";
}

void log_error(const std::string& text) {
    common::logging::write_log_record(common::logging::error::get(),
                                      "void common::diagnostics::tracing::details::ActiveTraceContext::write("
                                      "common::diagnostics::tracing::TraceMode, const std::string &)",
                                      text);
}

}  // namespace

const std::string ActiveTraceContext::ENTRY_TAG = "[ENTER] ";
const std::string ActiveTraceContext::EXIT_TAG = "[LEAVE] ";
const std::string ActiveTraceContext::MESSAGE_TAG = "[TRACE] ";

ActiveTraceContext& ActiveTraceContext::instance() {
    static ActiveTraceContext instance;
    return instance;
}

ActiveTraceContext* ActiveTraceContext::instance_if_alive() {
    if (g_writer_destroyed.load()) {
        return nullptr;
    }
    return &instance();
}

ActiveTraceContext::ActiveTraceContext()
    : m_file_writer(folder_from_environment()),
      m_custom_writer([](const std::string&) {}),
      m_stdout_writer([](const std::string& line) { std::cout << line << std::endl; }),
      m_stderr_writer([](const std::string& line) { std::cerr << line << std::endl; }),
      m_boost_writer([](const std::string& line) {
          common::logging::write_log_record(
                  common::logging::verbose::get(),
                  "auto (anonymous namespace)::ActiveTraceContext::(anonymous class)::operator()(const std::string &) const",
                  line);
      }),
      m_trace_writer([this](const std::string& line) { m_file_writer.write(line); }),
      // Tasks catch their writers' errors; should the worker end all the
      // same, later lines are dropped rather than queued for nobody.
      m_worker("tracing", [this](const std::exception& e) {
          m_stopped = true;
          log_error(std::string("trace writer stopped: ") + e.what());
      }) {
    // Made before this object, so destroyed after it: the last queued lines
    // are written while logging still exists.
    boost::log::core::get();
    common::logging::verbose::get();
    common::logging::error::get();
}

ActiveTraceContext::~ActiveTraceContext() {
    g_writer_destroyed = true;
    m_stopped = true;
    // m_worker, destroyed first, writes every line already queued.
}

void ActiveTraceContext::post_message(TraceMode mode, const std::string& line) {
    if (m_stopped.load()) {
        return;  // nothing would ever take it off the queue
    }
    m_worker.send([this, mode, line] { write(mode, line); });
}

void ActiveTraceContext::write(TraceMode mode, const std::string& line) {
    const Writer* writer = nullptr;
    switch (mode) {
        case TraceMode::verbose_log: writer = &m_boost_writer; break;
        case TraceMode::trace_file: writer = &m_trace_writer; break;
        case TraceMode::stdout: writer = &m_stdout_writer; break;
        case TraceMode::stderr: writer = &m_stderr_writer; break;
        case TraceMode::custom: writer = &m_custom_writer; break;
        default: return;
    }
    // A failing writer must not end the worker: every later line of the
    // process would be lost.
    try {
        (*writer)(line);
    } catch (const std::exception& e) {
        report_writer_failure(mode, e.what());
    } catch (...) {
        report_writer_failure(mode, "unknown error");
    }
}

void ActiveTraceContext::report_writer_failure(TraceMode mode, const std::string& what) {
    const unsigned bit = 1u << static_cast<unsigned>(mode);
    if (m_reported_failures & bit) {
        return;
    }
    m_reported_failures |= bit;
    try {
        log_error("trace writer for mode " + std::to_string(static_cast<unsigned>(mode)) + " failed: " + what +
                  " (further failures of this writer are not reported)");
    } catch (...) {
    }
}

void ActiveTraceContext::decorate_message_stream(std::ostringstream& stream,
                                                 const std::string& tag,
                                                 const std::string& body) const {
    stream << create_timestamp(std::chrono::steady_clock::now().time_since_epoch())
           << " thread:" << reinterpret_cast<const void*>(pthread_self()) << ' ' << body << ' ' << tag;
}

std::string ActiveTraceContext::decorate_output(const std::string& tag, const std::string& body) const {
    std::ostringstream stream;
    decorate_message_stream(stream, tag, body);
    return stream.str();
}

std::string ActiveTraceContext::decorate_output(const std::string& tag,
                                                const std::string& body,
                                                const std::string& detail) const {
    std::ostringstream stream;
    decorate_message_stream(stream, tag, body);
    stream << ' ' << detail;
    return stream.str();
}

std::string ActiveTraceContext::create_timestamp(std::chrono::nanoseconds duration) {
    const auto ns = duration.count();
    std::ostringstream text;
    text << ns / 1000000 << '.' << std::setw(3) << std::setfill('0') << (ns / 1000) % 1000 << "ms ";
    return text.str();
}

void ActiveTraceContext::set_custom_writer(Writer writer) {
    if (m_stopped.load()) {
        return;
    }
    m_worker.send([this, writer = std::move(writer)]() mutable { m_custom_writer = std::move(writer); });
}

void ActiveTraceContext::set_file_tracing_info(std::string folder, std::string unique_id) {
    if (m_stopped.load()) {
        return;
    }
    m_worker.send([this, folder = std::move(folder), unique_id = std::move(unique_id)]() mutable {
        m_file_writer.set_folder_if_empty(std::move(folder));
        m_file_writer.set_unique_id(unique_id);
    });
}

void ActiveTraceContext::flush() {
    m_stopped = true;
    m_worker.join();
}

void ActiveTraceContext::wait_until_written() {
    if (m_stopped.load()) {
        return;
    }
    auto written = std::make_shared<std::promise<void>>();
    auto done = written->get_future();
    m_worker.send([written] { written->set_value(); });
    done.wait();
}

}  // namespace details
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
