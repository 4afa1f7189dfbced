#pragma once

#include <flatbuffers/flatbuffers.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ipc_tools::wire {

// Readers of received tables go through these helpers so that an optional
// string, table or vector the peer left out reads as empty instead of
// dereferencing a null pointer. Frames are verified on receipt, so every
// string present is NUL-terminated inside the buffer.

/// The string up to its first NUL byte, viewed where it lies in the
/// received buffer (valid as long as the buffer); empty when absent.
inline std::string_view as_view(const flatbuffers::String* text) {
    return text ? std::string_view(text->c_str()) : std::string_view();
}

/// The same text, copied.
inline std::string as_string(const flatbuffers::String* text) {
    return std::string(as_view(text));
}

/// Element count of a vector; 0 when absent.
template <typename T>
std::size_t size_of(const flatbuffers::Vector<T>* vector) {
    return vector ? vector->size() : 0;
}

/// The vector itself, or an empty one when absent, so that callers can
/// iterate without a presence test.
template <typename T>
const flatbuffers::Vector<T>& or_empty(const flatbuffers::Vector<T>* vector) {
    // A vector is its 32-bit length followed by the elements; a zero length
    // aligned for any element type is a valid empty vector.
    alignas(8) static const uint32_t empty_vector_storage[2] = {0, 0};
    return vector ? *vector : *reinterpret_cast<const flatbuffers::Vector<T>*>(empty_vector_storage);
}

}  // namespace ipc_tools::wire
