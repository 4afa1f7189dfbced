#include "generated_reads.h"

#include "bass/data_wrappers/data_view.h"

#include <string>
#include <vector>

namespace example {

vemla::Read ReadGenerator::next(uint32_t tag) {
    std::uniform_int_distribution<size_t> length(4000, 20000);
    std::normal_distribution<float> noise(0.0f, 12.0f);
    std::uniform_int_distribution<int> level(380, 620);

    // A staircase of levels with noise, a little like a strand passing a pore.
    std::vector<int16_t> signal(length(m_random));
    int current = level(m_random);
    for (size_t i = 0; i < signal.size(); ++i) {
        if (i % 9 == 0) {
            current = level(m_random);
        }
        signal[i] = static_cast<int16_t>(current + static_cast<int>(noise(m_random)));
    }

    vemla::Read read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", "example_read_" + std::to_string(tag));
    metadata.insert("daq_offset", 10.0f);
    metadata.insert("daq_scaling", 0.18f);
    read.get_datasets().emplace(dataset::raw_data, bass::data_wrappers::DataView(std::move(signal)));
    return read;
}

}  // namespace example
