#include "vemla/read.h"

#include "interfaces/read_alignment.h"

#include <utility>

namespace vemla {

namespace {

// Percentage of modification probability as the byte the SAM tag builder
// compares probabilities with: 50 gives 128, 99.9 gives 255. Anything outside
// [0, 100) is clamped, never wrapped (100 would otherwise give 0 and keep
// every call instead of almost none).
uint8_t modification_threshold(float percentage) {
    if (!(percentage > 0.0f)) {  // NaN too
        return 0;
    }
    if (percentage >= 100.0f) {
        return 255;
    }
    return static_cast<uint8_t>(percentage / 100.0f * 256.0f);
}

}  // namespace

Read::Read() : m_holder(std::make_unique<interfaces::ReadHolder>()) {}

Read::Read(Read&& other) noexcept = default;

Read& Read::operator=(Read&& other) noexcept = default;

Read::~Read() = default;

uint64_t Read::get_read_tag() const {
    return m_holder->m_read_tag;
}

void Read::set_read_tag(uint64_t read_tag) {
    m_holder->m_read_tag = read_tag;
}

uint64_t Read::get_sub_tag() const {
    return m_holder->m_sub_tag;
}

Read::Priority Read::get_priority() const {
    const auto priority = m_holder->m_priority;
    return priority <= LOW_PRIORITY ? static_cast<Priority>(priority) : static_cast<Priority>(-1);
}

void Read::set_priority(Priority priority) {
    if (priority == static_cast<Priority>(-1)) {
        m_holder->m_priority = MEDIUM_PRIORITY;
    } else if (priority >= HIGH_PRIORITY && priority <= LOW_PRIORITY) {
        m_holder->m_priority = static_cast<interfaces::ReadPriority>(priority);
    }
}

bass::data_wrappers::Metadata& Read::get_metadata() {
    return m_holder->m_metadata;
}

const bass::data_wrappers::Metadata& Read::get_metadata() const {
    return m_holder->m_metadata;
}

interfaces::DatasetMap& Read::get_datasets() {
    return m_holder->m_datasets;
}

const interfaces::DatasetMap& Read::get_datasets() const {
    return m_holder->m_datasets;
}

void Read::set_readholder(interfaces::ReadHolder& holder) {
    m_holder = std::make_unique<interfaces::ReadHolder>(std::move(holder));
}

interfaces::ReadHolder& Read::get_readholder() {
    return *m_holder;
}

const interfaces::ReadHolder& Read::get_readholder() const {
    return *m_holder;
}

void Read::clear() {
    m_holder->clear();
}

std::string Read::get_by_name(const std::string& name) const {
    return m_holder->get_by_name(name);
}

bool Read::has_alignment_data() const {
    return interfaces::ReadAlignmentHelper::read_holder_contains_alignment_data(*m_holder);
}

std::vector<Read::AlignmentSamLine> Read::extract_sam_and_bed_lines(float percentage) const {
    const bool with_moves = m_holder->m_datasets.count(dataset::movement) != 0;
    auto lines = interfaces::ReadAlignmentHelper::extract_sam_and_bed_lines_from_read_holder(
            *m_holder, modification_threshold(percentage), with_moves);
    std::vector<AlignmentSamLine> result;
    result.reserve(lines.size());
    for (auto& line : lines) {
        result.push_back({std::move(line.sam_line), std::move(line.bed_lines)});
    }
    return result;
}

std::string to_string(Read::Priority priority) {
    switch (priority) {
        case Read::HIGH_PRIORITY: return "HIGH_PRIORITY";
        case Read::MEDIUM_PRIORITY: return "MEDIUM_PRIORITY";
        case Read::LOW_PRIORITY: return "LOW_PRIORITY";
    }
    return "invalid_priority_value";
}

}  // namespace vemla
