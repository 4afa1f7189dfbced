#pragma once

#include <ctime>
#include <string>

namespace common {

// Local date and time to the millisecond: "YYYY-MM-DD hh:mm:ss.mmm".
std::string currentDateTime();

// Thread-safe copies of gmtime/localtime, serialised on one process-wide
// mutex. A time the C library cannot convert gives a zero-filled struct tm.
struct tm gmtimeThreadsafe(const time_t* time);
struct tm localtimeThreadsafe(const time_t* time);

}  // namespace common
