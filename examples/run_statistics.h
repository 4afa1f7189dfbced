#pragma once

#include "vemla/read.h"

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace example {

// What the run has done so far: reads sent and refused, reads back with
// their bases and qualities, and how fast.
class RunStatistics {
public:
    RunStatistics();

    void read_sent() { ++m_sent; }
    void read_refused() { ++m_refused; }
    void read_returned(const vemla::Read& read);

    uint64_t sent() const { return m_sent; }
    uint64_t returned() const { return m_returned; }

    // "sent 120/300, back 96, 1.4 s": rewritten in place on a terminal
    // (`in_place`), else one line per call.
    void print_progress(std::ostream& out, uint64_t total, bool in_place) const;
    // The closing summary; `missing` reads were sent but never came back.
    void print_summary(std::ostream& out, uint64_t missing) const;

private:
    double seconds() const;

    std::chrono::steady_clock::time_point m_start;
    uint64_t m_sent = 0;
    uint64_t m_refused = 0;
    uint64_t m_returned = 0;
    uint64_t m_samples = 0;  // of the reads back
    uint64_t m_bases = 0;
    double m_quality_sum = 0.0;  // over every base
};

}  // namespace example
