#pragma once

// What the benchmarks share: the smoke switch, the clock, the median of a
// series and its spread, peak memory, and zero-copy frames.

#include <flatbuffers/flatbuffers.h>
#include <sys/resource.h>
#include <zmq.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
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

// Peak resident memory of this process so far, in KiB.
inline uint64_t peak_resident_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss);
}

// What is typical of a series (its median) and how far single rounds
// strayed (its lowest and highest value).
struct Spread {
    double median;
    double low;
    double high;
};

inline Spread spread_of(const std::vector<double>& values) {
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return {median(values), *low, *high};
}

// first[i] / second[i]: the ratio of each pair of measurements run back to
// back, so that a load that drifts between pairs cancels out.
inline std::vector<double> pair_ratios(const std::vector<double>& first, const std::vector<double>& second) {
    std::vector<double> ratios;
    for (size_t i = 0; i < first.size() && i < second.size(); ++i) {
        ratios.push_back(first[i] / second[i]);
    }
    return ratios;
}

// What follows the ratios over tcp and ipc on a benchmark's last line:
// " (medians of 5 block pairs; range tcp 0.884-0.941, ipc 0.930-0.973)".
inline std::string pair_ratio_note(int pairs, const Spread& tcp, const Spread& ipc) {
    char text[160];
    std::snprintf(text, sizeof text, " (medians of %d block pair%s; range tcp %.3f-%.3f, ipc %.3f-%.3f)", pairs,
                  pairs == 1 ? "" : "s", tcp.low, tcp.high, ipc.low, ipc.high);
    return text;
}

// Hands a finished builder's buffer to ZeroMQ without copying it.
inline zmq::message_t adopt(flatbuffers::FlatBufferBuilder& fbb) {
    auto* buffer = new flatbuffers::DetachedBuffer(fbb.Release());
    return zmq::message_t(
            buffer->data(), buffer->size(),
            [](void*, void* hint) { delete static_cast<flatbuffers::DetachedBuffer*>(hint); }, buffer);
}

}  // namespace bench
