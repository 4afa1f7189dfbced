#include "common/timer.h"

#include <boost/algorithm/string/join.hpp>

#include "common/contract.h"
#include "common/trace_writer.h"

namespace common {
namespace diagnostics {
namespace timings {
namespace {

constexpr std::size_t LINES_PER_BLOCK = 500;

std::string format_duration(std::chrono::nanoseconds duration) {
    return tracing::details::ActiveTraceContext::create_timestamp(duration);
}

}  // namespace

TimestampsReporter::TimestampsReporter(const std::vector<std::string>& headers,
                                       std::size_t subrange_start,
                                       std::size_t subrange_end) {
    auto trace = create_hftrace("TimestampsReporter");
    if (!get_hftrace_context()->is_active()) {
        return;
    }
    contract::expects(!headers.empty(), "must be at least 1 header for timestamp reporting");
    contract::expects(subrange_start <= subrange_end, "timestamps subrange start must be <= end>.");
    contract::expects(subrange_end < headers.size(), "timestamps sub range must be within headers size");

    m_subrange_start = subrange_start;
    m_subrange_end = subrange_end;
    m_headers = headers;
    for (std::size_t i = 0; i < m_headers.size(); ++i) {
        trace.message(std::to_string(i) + ": " + m_headers[i]);
    }
    m_header_line = boost::algorithm::join(m_headers, ", ") + ", sub_total, total";
    m_subtotal_slot = m_headers.size();
    m_total_slot = m_headers.size() + 1;
    initialise_stats(m_segment_stats);
    initialise_stats(m_running_stats);
}

void TimestampsReporter::add(const std::vector<TimePoint>& timestamps) {
    if (!get_hftrace_context()->is_active()) {
        return;
    }
    contract::expects(!m_headers.empty(), "timestamp reporting must be initialised before adding to report");
    contract::expects(timestamps.size() == m_headers.size(), "Number of timestamps must match number of headers");

    std::lock_guard<InstrumentedMutex> lock(m_mutex);
    m_pending_lines.push_back(get_timestamps_string(timestamps));
    if (m_pending_lines.size() >= LINES_PER_BLOCK) {
        do_flush();
    }
}

void TimestampsReporter::flush() {
    if (!get_hftrace_context()->is_active()) {
        return;
    }
    std::lock_guard<InstrumentedMutex> lock(m_mutex);
    do_flush();
}

std::string TimestampsReporter::get_timestamps_string(const std::vector<TimePoint>& timestamps) {
    std::string line = format_duration(timestamps.front().time_since_epoch());
    auto accumulate = [this, &line](std::size_t slot, std::chrono::nanoseconds duration) {
        line += ", " + format_duration(duration);
        m_segment_stats.totals[slot] += duration;
        m_running_stats.totals[slot] += duration;
    };
    ++m_segment_stats.count;
    ++m_running_stats.count;
    for (std::size_t i = 1; i < timestamps.size(); ++i) {
        accumulate(i, timestamps[i] - timestamps[i - 1]);
    }
    accumulate(m_subtotal_slot, timestamps[m_subrange_end] - timestamps[m_subrange_start]);
    accumulate(m_total_slot, timestamps.back() - timestamps.front());
    return line;
}

std::string TimestampsReporter::get_stats_string(const SegmentStats& stats) const {
    contract::expects(stats.count != 0, "attempt to report on empty stats");
    // Slot 0 holds the start time of a line, which has no meaningful sum.
    std::string text = format_duration(stats.totals[0]);
    for (std::size_t slot = 1; slot < stats.totals.size(); ++slot) {
        // Signed, so that a list given out of order averages to a negative
        // duration rather than a wrapped one.
        text += ", " + format_duration(stats.totals[slot] / static_cast<int64_t>(stats.count));
    }
    return text;
}

void TimestampsReporter::do_flush() {
    if (m_pending_lines.empty()) {
        return;
    }
    const std::string block = "\n" + m_header_line + "\n" + boost::algorithm::join(m_pending_lines, "\n") + "\n" +
                              m_header_line + "\nsegment average: " + get_stats_string(m_segment_stats) +
                              "\nrunning average: " + get_stats_string(m_running_stats);
    get_hftrace_context()->write_message("do_flush", block);
    m_pending_lines.clear();
    initialise_stats(m_segment_stats);
}

void TimestampsReporter::initialise_stats(SegmentStats& stats) const {
    stats.count = 0;
    stats.totals.assign(m_headers.size() + 2, std::chrono::nanoseconds::zero());
}

}  // namespace timings
}  // namespace diagnostics
}  // namespace common
