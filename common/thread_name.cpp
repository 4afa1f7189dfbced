#include "common/thread_name.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace bass {
namespace util {

void set_thread_name(const char* name) {
    constexpr std::size_t max_length = 15;
    char buffer[max_length + 1] = {};
    const std::size_t length = std::min(std::strlen(name), max_length);
    std::memcpy(buffer, name, length);
    buffer[length] = '\0';
    // Naming is cosmetic: a failure is not worth reporting.
    (void)pthread_setname_np(pthread_self(), buffer);
}

}  // namespace util
}  // namespace bass
