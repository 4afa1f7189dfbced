#pragma once
// Reads as the API hands them to the engine, for the engine's tests.
#include "bass/data_wrappers/data_view.h"
#include "interfaces/read_holder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine_test {

// A deterministic signal: every read tag gives its own samples.
inline std::vector<int16_t> signal_for(uint64_t read_tag, uint64_t samples) {
    std::vector<int16_t> signal(samples);
    for (uint64_t i = 0; i < samples; ++i) {
        signal[i] = static_cast<int16_t>(static_cast<int64_t>((i * 7919 + read_tag * 104729) % 4001) - 2000);
    }
    return signal;
}

// A read with the metadata the API completes before passing it on.
inline interfaces::ReadHolder make_read(uint64_t read_tag, uint64_t samples, uint64_t model_stride = 5) {
    interfaces::ReadHolder read;
    read.m_read_tag = read_tag;
    auto& metadata = read.m_metadata;
    metadata.insert("read_id", "read-" + std::to_string(read_tag));
    metadata.insert("strand_id", "strand-" + std::to_string(read_tag));
    metadata.insert("duration", samples);
    metadata.insert("daq_offset", 4.0f);
    metadata.insert("daq_scaling", 0.5f);
    metadata.insert("model_stride", model_stride);
    read.m_datasets.emplace(dataset::raw_data, bass::data_wrappers::DataView(signal_for(read_tag, samples)));
    return read;
}

inline std::vector<int16_t> raw_samples(const interfaces::ReadHolder& read) {
    const auto view = read.m_datasets.at(dataset::raw_data).vec_view<int16_t>();
    return std::vector<int16_t>(view.data, view.data + view.size);
}

}  // namespace engine_test
