#include "test_server/called_block_plan.h"

#include <algorithm>

namespace test_server {

namespace {

// First index in `positions` (sorted) whose value is >= bound.
uint32_t first_at_or_after(const std::vector<uint32_t>& positions, uint32_t bound) {
    return static_cast<uint32_t>(std::lower_bound(positions.begin(), positions.end(), bound) - positions.begin());
}

}  // namespace

std::vector<CalledBlockSpan> plan_called_blocks(const CalledRead& call, uint32_t positions_per_block) {
    const uint32_t total = call.total_positions();
    const uint32_t size = std::max<uint32_t>(1, positions_per_block);
    const uint32_t count = std::max<uint32_t>(1, (total + size - 1) / size);
    static const std::vector<uint32_t> no_runs;
    const auto& run_index = call.runs ? call.runs->index : no_runs;

    std::vector<CalledBlockSpan> blocks(count);
    for (uint32_t k = 0; k < count; ++k) {
        auto& block = blocks[k];
        block.position_begin = std::min(total, k * size);
        block.position_end = k + 1 == count ? total : std::min(total, (k + 1) * size);
        block.base_begin = first_at_or_after(call.base_positions, block.position_begin);
        block.base_end = k + 1 == count ? static_cast<uint32_t>(call.base_positions.size())
                                        : first_at_or_after(call.base_positions, block.position_end);
        block.run_begin = first_at_or_after(run_index, block.position_begin);
        block.run_end = k + 1 == count ? static_cast<uint32_t>(run_index.size())
                                       : first_at_or_after(run_index, block.position_end);
    }
    return blocks;
}

}  // namespace test_server
