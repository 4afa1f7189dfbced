#include "vemla/read.h"

#include "bass/data_wrappers/data_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using bass::data_wrappers::DataView;
using vemla::Read;

namespace {

TEST(Read, NewReadIsEmptyWithMediumPriority) {
    const Read read;
    EXPECT_EQ(read.get_read_tag(), 0u);
    EXPECT_EQ(read.get_sub_tag(), 0u);
    EXPECT_EQ(read.get_priority(), Read::MEDIUM_PRIORITY);
    EXPECT_TRUE(read.get_metadata().empty());
    EXPECT_TRUE(read.get_datasets().empty());
}

TEST(Read, PriorityRules) {
    Read read;
    read.set_priority(Read::HIGH_PRIORITY);
    EXPECT_EQ(read.get_priority(), Read::HIGH_PRIORITY);
    read.set_priority(Read::LOW_PRIORITY);
    EXPECT_EQ(read.get_priority(), Read::LOW_PRIORITY);
    read.set_priority(static_cast<Read::Priority>(5));  // ignored
    EXPECT_EQ(read.get_priority(), Read::LOW_PRIORITY);
    read.set_priority(static_cast<Read::Priority>(-1));  // what get_priority reports for unknown
    EXPECT_EQ(read.get_priority(), Read::MEDIUM_PRIORITY);

    read.get_readholder().m_priority = 3;
    EXPECT_EQ(read.get_priority(), static_cast<Read::Priority>(-1));
}

TEST(Read, MovesTakeTheHolderAndSetReadholderEmptiesItsSource) {
    Read source;
    source.set_read_tag(42);
    source.get_metadata().insert("read_id", std::string("r1"));
    source.get_datasets().emplace(dataset::raw_data, DataView(std::vector<int16_t>{1, 2, 3}));

    Read moved(std::move(source));
    Read assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get_read_tag(), 42u);
    EXPECT_EQ(assigned.get_by_name("read_id"), "r1");
    EXPECT_EQ(assigned.get_datasets().at(dataset::raw_data).info.count, 3u);

    interfaces::ReadHolder holder;
    holder.m_read_tag = 7;
    holder.m_sub_tag = 2;
    holder.m_metadata.insert("read_id", std::string("r2"));
    assigned.set_readholder(holder);
    EXPECT_EQ(assigned.get_read_tag(), 7u);
    EXPECT_EQ(assigned.get_sub_tag(), 2u);
    EXPECT_EQ(assigned.get_by_name("read_id"), "r2");
    EXPECT_TRUE(holder.m_metadata.empty());
}

// An unaligned, basecalled read: sequence "CCCC" with one 5mC channel whose
// probabilities are 10, 128, 254 and 255, and a move table.
Read called_read() {
    Read read;
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", std::string("read_1"));
    metadata.insert("strand_id", std::string("read_1"));
    metadata.insert("model_stride", uint64_t(5));
    metadata.insert("base_mod_alphabet", std::string("ACmGT"));
    metadata.insert("base_mod_long_names", std::string("5mC"));
    auto& datasets = read.get_datasets();
    datasets.emplace(dataset::sequence, DataView(std::string("CCCC")));
    datasets.emplace(dataset::qstring, DataView(std::string("++++")));
    std::vector<uint8_t> probs(4 * 5, 0);
    const uint8_t methylated[] = {10, 128, 254, 255};
    for (size_t base = 0; base < 4; ++base) {
        probs[base * 5 + 1] = 255 - methylated[base];  // C
        probs[base * 5 + 2] = methylated[base];        // m
    }
    datasets.emplace(dataset::base_mod_probs, DataView(std::move(probs)));
    datasets.emplace(dataset::movement, DataView(std::vector<uint8_t>{1, 0, 1, 1, 0, 1}));
    return read;
}

// The value of one SAM tag on a line ("MM:Z:..." gives what follows "MM:Z:").
std::string tag_value(const std::string& line, const std::string& prefix) {
    const auto start = line.find("\t" + prefix);
    if (start == std::string::npos) {
        return "absent";
    }
    const auto begin = start + 1 + prefix.size();
    return line.substr(begin, line.find('\t', begin) - begin);
}

TEST(Read, SamLineOfAnUnalignedReadCarriesModificationsAndMoves) {
    const Read read = called_read();
    const auto lines = read.extract_sam_and_bed_lines(50.0f);  // threshold 128
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].bed_lines.empty());
    EXPECT_EQ(lines[0].sam_line.substr(0, 7), "read_1\t");
    EXPECT_EQ(tag_value(lines[0].sam_line, "mv:B:c,"), "5,1,0,1,1,0,1");
    // Calls at 128 and above are written; the first C is skipped.
    EXPECT_EQ(tag_value(lines[0].sam_line, "Ml:B:C,"), "128,254,255");
}

// 100 % or more means "only the surest calls", never a threshold that
// wrapped round to 0 and keeps every call.
TEST(Read, ModificationPercentagesOutsideTheRangeAreClamped) {
    const Read read = called_read();
    const auto probabilities = [&read](float percentage) {
        return tag_value(read.extract_sam_and_bed_lines(percentage).at(0).sam_line, "Ml:B:C,");
    };
    EXPECT_EQ(probabilities(99.9f), "255");
    EXPECT_EQ(probabilities(100.0f), "255");
    EXPECT_EQ(probabilities(1000.0f), "255");
    EXPECT_EQ(probabilities(0.0f), "10,128,254,255");
    EXPECT_EQ(probabilities(-5.0f), "10,128,254,255");
}

TEST(Read, SamExtractionOfAReadWithoutSequenceThrows) {
    Read read;
    read.get_metadata().insert("strand_id", std::string("r"));
    EXPECT_THROW(read.extract_sam_and_bed_lines(0.0f), std::runtime_error);
}

}  // namespace
