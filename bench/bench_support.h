#pragma once

// What the benchmarks share: the smoke switch, the clock, the median of a
// series and zero-copy frames.

#include <flatbuffers/flatbuffers.h>
#include <zmq.hpp>

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

// Built with VEMLA_BENCH_SMOKE, a benchmark runs a short setting for CI.
#ifdef VEMLA_BENCH_SMOKE
constexpr bool smoke = true;
#else
constexpr bool smoke = false;
#endif

using Clock = std::chrono::steady_clock;

// The middle value; the mean of the two middle ones for an even count.
inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Hands a finished builder's buffer to ZeroMQ without copying it.
inline zmq::message_t adopt(flatbuffers::FlatBufferBuilder& fbb) {
    auto* buffer = new flatbuffers::DetachedBuffer(fbb.Release());
    return zmq::message_t(
        buffer->data(), buffer->size(),
        [](void*, void* hint) { delete static_cast<flatbuffers::DetachedBuffer*>(hint); }, buffer);
}

}  // namespace bench
