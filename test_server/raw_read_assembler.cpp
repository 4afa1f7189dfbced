#include "test_server/raw_read_assembler.h"

#include <algorithm>

namespace test_server {

namespace {

std::string describe(const RawBlock& block) {
    return "read tag " + std::to_string(block.read_tag) + " block " + std::to_string(block.block_index) + "/" +
           std::to_string(block.num_blocks) + ": ";
}

RawReadAssembler::Outcome refuse(std::string error) {
    RawReadAssembler::Outcome outcome;
    outcome.error = std::move(error);
    return outcome;
}

}  // namespace

RawReadAssembler::Outcome RawReadAssembler::add(RawBlock block) {
    const Key key{block.read_tag, block.sub_tag};
    const std::string where = describe(block);

    if (block.first) {
        // A first block always starts the read afresh: the client offers it
        // again after NOT_READY and resends whole reads after reconnecting.
        m_partial.erase(key);
        if (block.block_index != 0) {
            return refuse(where + "first block must have index 0");
        }
        if (block.num_blocks == 0) {
            return refuse(where + "num_blocks is 0");
        }
        if (block.duration == 0) {
            return refuse(where + "duration is 0");
        }
        if (block.samples.empty()) {
            return refuse(where + "block carries no samples");
        }
        if (block.samples.size() > block.duration) {
            return refuse(where + "block holds more samples than the read's duration");
        }
        Partial partial;
        static_cast<ReadHeader&>(partial.read) = std::move(static_cast<ReadHeader&>(block));
        partial.first_block_size = block.samples.size();
        partial.read.signal = std::move(block.samples);
        if (block.num_blocks > 1) {
            // Once, at the read's final size; the claim comes from the peer,
            // so a huge one only reserves up to a bound and the rest grows
            // with the samples that really arrive.
            constexpr size_t max_reserve = size_t{1} << 24;
            partial.read.signal.reserve(std::min<size_t>(block.duration, max_reserve));
        }
        partial.next_index = 1;
        m_partial.emplace(key, std::move(partial));
    } else {
        const auto it = m_partial.find(key);
        if (it == m_partial.end()) {
            return refuse(where + "later block without a first block");
        }
        Partial& partial = it->second;
        std::string error;
        if (block.block_index != partial.next_index) {
            error = "expected block index " + std::to_string(partial.next_index);
        } else if (block.num_blocks != partial.read.num_blocks) {
            error = "num_blocks differs from the first block's " + std::to_string(partial.read.num_blocks);
        } else if (block.duration != partial.read.duration) {
            error = "duration differs from the first block's " + std::to_string(partial.read.duration);
        } else if (block.read_id != partial.read.read_id) {
            error = "read_id differs from the first block's";
        } else if (block.samples.empty()) {
            error = "block carries no samples";
        } else if (block.samples.size() > partial.first_block_size) {
            error = "block is longer than the first block";
        } else if (partial.read.signal.size() + block.samples.size() > partial.read.duration) {
            error = "blocks hold more samples than the read's duration";
        } else if (partial.read.signal.size() != partial.first_block_size * block.block_index) {
            error = "an earlier block was shorter than the first block";
        }
        if (!error.empty()) {
            m_partial.erase(it);
            return refuse(where + error);
        }
        partial.read.signal.insert(partial.read.signal.end(), block.samples.begin(), block.samples.end());
        ++partial.next_index;
    }

    auto it = m_partial.find(key);
    Partial& partial = it->second;
    Outcome outcome;
    outcome.accepted = true;
    if (partial.next_index < partial.read.num_blocks) {
        return outcome;
    }
    if (partial.read.signal.size() != partial.read.duration) {
        const std::string error = where + "read ends with " + std::to_string(partial.read.signal.size()) +
                                  " samples but its duration is " + std::to_string(partial.read.duration);
        m_partial.erase(it);
        return refuse(error);
    }
    outcome.read = std::move(partial.read);
    m_partial.erase(it);
    return outcome;
}

uint64_t signal_digest(const std::vector<int16_t>& signal) {
    uint64_t hash = 14695981039346656037ull;
    for (const int16_t sample : signal) {
        const auto value = static_cast<uint16_t>(sample);
        for (const uint8_t byte : {static_cast<uint8_t>(value & 0xff), static_cast<uint8_t>(value >> 8)}) {
            hash ^= byte;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

}  // namespace test_server
