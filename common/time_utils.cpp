#include "common/time_utils.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "common/instrumented_mutex.h"

namespace common {

namespace {

InstrumentedMutex g_timeMutex;

template <typename Convert>
struct tm convert_locked(const time_t* time, Convert convert) {
    struct tm result {};
    std::lock_guard<InstrumentedMutex> lock(g_timeMutex);
    struct tm* converted = convert(time, &result);
    if (converted == nullptr) {
        // Outside the representable calendar range: report a zeroed value
        // rather than dereferencing the null result.
        result = tm{};
    }
    return result;
}

}  // namespace

struct tm gmtimeThreadsafe(const time_t* time) {
    return convert_locked(time, ::gmtime_r);
}

struct tm localtimeThreadsafe(const time_t* time) {
    return convert_locked(time, ::localtime_r);
}

std::string currentDateTime() {
    const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                    .count();
    const time_t seconds = static_cast<time_t>(micros / 1000000);
    const unsigned millis = static_cast<unsigned>((micros % 1000000) / 1000);
    const struct tm local = localtimeThreadsafe(&seconds);
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%04u-%02u-%02u %02u:%02u:%02u.%03u",
                  static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                  static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                  static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec), millis);
    return buffer;
}

}  // namespace common
