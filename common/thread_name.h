#pragma once

namespace bass {
namespace util {

// Names the calling thread; names longer than 15 bytes are cut to their first
// 15 bytes (the system limit).
void set_thread_name(const char* name);

}  // namespace util
}  // namespace bass
