#pragma once

#include "vemla/read.h"

#include <cstdint>
#include <random>

namespace example {

// Reads of made-up signal, as an acquisition program would hand them over:
// read tag, read id, offset and scaling, and 16-bit samples.
class ReadGenerator {
public:
    explicit ReadGenerator(uint32_t seed) : m_random(seed) {}

    // Read `tag` with 4000 to 20000 samples.
    vemla::Read next(uint32_t tag);

private:
    std::mt19937 m_random;
};

}  // namespace example
