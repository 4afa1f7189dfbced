#pragma once

#include <mutex>

namespace common {

// The mutex type held by library classes. A plain std::mutex so that it works
// with std::condition_variable and scoped locks.
using InstrumentedMutex = std::mutex;

}  // namespace common
