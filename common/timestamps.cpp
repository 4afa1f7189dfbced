#include "common/timestamps.h"

namespace common {
namespace diagnostics {
namespace timings {

namespace {
constexpr std::size_t RESERVED_TIMESTAMPS = 16;
}

Timestamps::Timestamps() {
    m_timestamps.reserve(RESERVED_TIMESTAMPS);
}

void Timestamps::create_timestamp() {
    m_timestamps.push_back(std::chrono::steady_clock::now());
}

}  // namespace timings
}  // namespace diagnostics
}  // namespace common
