#pragma once

// Timing reports: lists of time points taken at the same named points of a
// procedure become lines of per-segment durations, written in blocks with
// segment and running averages through the reporter's high-frequency trace
// domain ("hftrace::common::diagnostics::timings::TimestampsReporter").
// While that domain is off the reporter does nothing.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/instrumented_mutex.h"
#include "common/timestamps.h"
#include "common/trace.h"

namespace common {
namespace diagnostics {
namespace timings {

class TimestampsReporter : private tracing::TraceDomain<TimestampsReporter> {
public:
    using TimePoint = Timestamps::TimePoint;

    struct SegmentStats {
        uint64_t count = 0;
        // One slot per report column: headers, then sub-total and total.
        std::vector<std::chrono::nanoseconds> totals;
    };

    // One header per time point of a list; the sub-total column spans the
    // time points subrange_start .. subrange_end. With tracing on, empty
    // headers or a sub-range outside them break a contract.
    TimestampsReporter(const std::vector<std::string>& headers, std::size_t subrange_start, std::size_t subrange_end);

    // Adds one line; the 500th pending line writes the block. A list whose
    // length differs from the headers' breaks a contract.
    void add(const std::vector<TimePoint>& timestamps);
    // Writes the pending lines, if any.
    void flush();

private:
    std::string get_timestamps_string(const std::vector<TimePoint>& timestamps);
    std::string get_stats_string(const SegmentStats& stats) const;
    void do_flush();
    void initialise_stats(SegmentStats& stats) const;

    std::vector<std::string> m_headers;
    std::string m_header_line;
    std::size_t m_subrange_start = 0;
    std::size_t m_subrange_end = 0;
    std::size_t m_subtotal_slot = 0;
    std::size_t m_total_slot = 0;
    InstrumentedMutex m_mutex;
    std::vector<std::string> m_pending_lines;
    SegmentStats m_segment_stats;
    SegmentStats m_running_stats;
};

}  // namespace timings
}  // namespace diagnostics
}  // namespace common
