#include "python/array_storage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>

namespace vemla {

namespace {

// Below this NumPy's own allocation is as good; above the upper bound an
// array is rare enough not to keep.
constexpr std::size_t SMALLEST_KEPT = 32 * 1024;
constexpr std::size_t LARGEST_KEPT = 16 * 1024 * 1024;
constexpr std::size_t CACHE_LIMIT = 64 * 1024 * 1024;
// Ahead of the elements: the buffer's capacity. A multiple of malloc's own
// alignment, so the elements keep it.
constexpr std::size_t HEADER = 64;

// Capacities come in steps of a quarter of the size's power of two, so a
// kept buffer fits requests up to a quarter smaller than itself.
std::size_t capacity_for(std::size_t bytes) {
    std::size_t power = 1;
    while (power * 2 <= bytes) {
        power *= 2;
    }
    const std::size_t step = power / 4;
    return (bytes + step - 1) / step * step;
}

class BufferCache {
public:
    void* take(std::size_t capacity) {
        auto found = m_free.find(capacity);
        if (found != m_free.end()) {
            void* buffer = found->second;
            m_free.erase(found);
            m_cached -= capacity;
            return buffer;
        }
        void* block = std::malloc(HEADER + capacity);
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        *static_cast<std::size_t*>(block) = capacity;
        return static_cast<char*>(block) + HEADER;
    }

    // Called when the array owning `buffer` is released, from the capsule's
    // destructor: nothing may escape from there into the interpreter, so a
    // buffer that cannot be filed is freed instead.
    void give_back(void* buffer) noexcept {
        void* block = static_cast<char*>(buffer) - HEADER;
        const std::size_t capacity = *static_cast<std::size_t*>(block);
        if (m_cached + capacity > CACHE_LIMIT) {
            std::free(block);
            return;
        }
        try {
            m_free.emplace(capacity, buffer);
        } catch (const std::bad_alloc&) {
            std::free(block);
            return;
        }
        m_cached += capacity;
    }

private:
    std::multimap<std::size_t, void*> m_free;
    std::size_t m_cached = 0;
};

// Never destroyed: arrays may still be released while the interpreter
// shuts down, after static destructors would have run.
BufferCache& cache() {
    static BufferCache* const instance = new BufferCache();
    return *instance;
}

}  // namespace

py::array new_array(const py::dtype& dtype, const std::vector<py::ssize_t>& shape) {
    std::size_t bytes = static_cast<std::size_t>(dtype.itemsize());
    bool overflow = false;
    for (const py::ssize_t extent : shape) {
        overflow |= __builtin_mul_overflow(bytes, static_cast<std::size_t>(extent), &bytes);
    }
    if (overflow || bytes < SMALLEST_KEPT || bytes > LARGEST_KEPT) {
        return py::array(dtype, shape);  // NumPy refuses sizes it cannot hold
    }
    void* buffer = cache().take(capacity_for(bytes));
    py::capsule owner;
    try {
        owner = py::capsule(buffer, [](void* released) { cache().give_back(released); });
    } catch (...) {
        cache().give_back(buffer);
        throw;
    }
    return py::array(dtype, shape, {}, buffer, owner);
}

}  // namespace vemla
