#pragma once

#include "common/export.h"

#include <chrono>
#include <vector>

namespace common {
namespace diagnostics {
namespace timings {

// Append-only list of monotonic time points, carried by every read.
// No lock: whoever owns the list serialises access to it.
class VEMLA_DATA_EXPORT Timestamps {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    Timestamps();

    void create_timestamp();
    const std::vector<TimePoint>& get_timestamps() const { return m_timestamps; }

private:
    std::vector<TimePoint> m_timestamps;
};

}  // namespace timings
}  // namespace diagnostics
}  // namespace common
