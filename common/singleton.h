#pragma once

#include <memory>

namespace common {

// Holder of a lazily created process-wide instance. The owner decides when to
// create it; the static pointer releases it at process exit.
template <typename T>
struct Singleton {
    static std::unique_ptr<T> s_instance;
};

template <typename T>
std::unique_ptr<T> Singleton<T>::s_instance;

}  // namespace common
