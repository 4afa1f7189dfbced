#pragma once
// Cuts a called read into called blocks of a fixed number of positions,
// independently of how the client cut the raw signal. Each block owns the
// positions [position_begin, position_end), the bases called at those
// positions and the runs that start there.
#include "test_server/called_read.h"

#include <cstdint>
#include <vector>

namespace test_server {

struct CalledBlockSpan {
    uint32_t position_begin = 0, position_end = 0;
    uint32_t base_begin = 0, base_end = 0;
    uint32_t run_begin = 0, run_end = 0;

    uint32_t positions() const { return position_end - position_begin; }
    uint32_t bases() const { return base_end - base_begin; }
    uint32_t runs() const { return run_end - run_begin; }
};

// At least one block, also for a read without positions.
std::vector<CalledBlockSpan> plan_called_blocks(const CalledRead& call, uint32_t positions_per_block);

}  // namespace test_server
