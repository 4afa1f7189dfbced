#pragma once

// The process-wide trace writer: traced threads decorate their lines and
// queue them here; one worker thread, "tracing", writes them in posting order
// to the destination of each line's mode.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "common/active_object.h"
#include "common/trace_file_writer.h"
#include "common/trace_mode.h"

namespace common {
namespace diagnostics {
namespace tracing {
namespace details {

class ActiveTraceContext {
public:
    using Writer = std::function<void(const std::string&)>;

    static const std::string ENTRY_TAG;    // "[ENTER] "
    static const std::string EXIT_TAG;     // "[LEAVE] "
    static const std::string MESSAGE_TAG;  // "[TRACE] "

    // Built at the first call; reads ZEB_VEMLA_TRACE_FOLDER and starts the
    // worker.
    static ActiveTraceContext& instance();
    // As instance(), or null once the instance has been destroyed at exit.
    static ActiveTraceContext* instance_if_alive();

    // Queues the line for the writer of the mode. Dropped once the writer
    // has been stopped by flush().
    void post_message(TraceMode mode, const std::string& line);

    // Time stamp, thread, body and tag, then optionally a blank and detail.
    std::string decorate_output(const std::string& tag, const std::string& body) const;
    std::string decorate_output(const std::string& tag, const std::string& body, const std::string& detail) const;

    // Milliseconds with three decimals and "ms ", e.g. "1234.567ms ".
    static std::string create_timestamp(std::chrono::nanoseconds duration);

    void set_custom_writer(Writer writer);
    // The folder is taken only while none is known (the environment's wins);
    // an empty unique id leaves the current one.
    void set_file_tracing_info(std::string folder, std::string unique_id);

    // Writes everything queued so far, then stops the worker for good.
    void flush();
    // Waits until everything queued so far is written; the worker goes on.
    void wait_until_written();

    ~ActiveTraceContext();

    ActiveTraceContext(const ActiveTraceContext&) = delete;
    ActiveTraceContext& operator=(const ActiveTraceContext&) = delete;

private:
    ActiveTraceContext();

    void decorate_message_stream(std::ostringstream& stream, const std::string& tag, const std::string& body) const;
    void write(TraceMode mode, const std::string& line);
    void report_writer_failure(TraceMode mode, const std::string& what);

    // Touched only on the worker.
    TraceFileWriter m_file_writer;
    Writer m_custom_writer;
    Writer m_stdout_writer;
    Writer m_stderr_writer;
    Writer m_boost_writer;
    Writer m_trace_writer;
    unsigned m_reported_failures = 0;  // one bit per mode

    std::atomic<bool> m_stopped{false};  // set by flush() or if the worker ends
    // Last member: destroyed first, so queued lines are written while the
    // writers still exist.
    common::ActiveObject m_worker;
};

}  // namespace details
}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
