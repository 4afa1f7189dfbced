#include "vemla/read_validation.h"

#include "bass/data_wrappers/data_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using bass::data_wrappers::DataView;

namespace {

interfaces::ReadHolder valid_read() {
    interfaces::ReadHolder read;
    read.m_metadata.insert("read_id", std::string("r"));
    read.m_metadata.insert("daq_offset", 1.0f);
    read.m_metadata.insert("daq_scaling", 0.5f);
    read.m_datasets.emplace(dataset::raw_data, DataView(std::vector<int16_t>(100, 7)));
    return read;
}

TEST(ReadValidation, ValidReadPassesAndLeavesTheTextAlone) {
    std::string error = "untouched";
    EXPECT_TRUE(vemla::validate_read_impl(valid_read(), error));
    EXPECT_EQ(error, "untouched");
}

// Each fault of a read and the words that report it; all go into one text,
// after the fixed opening, in this order.
TEST(ReadValidation, EveryMissingOrMistypedFieldIsNamed) {
    struct Case {
        std::function<void(interfaces::ReadHolder&)> spoil;
        std::string text;
    };
    // Six int16 samples laid out as a 2 x 3 matrix.
    DataView matrix(std::vector<int16_t>(6, 1));
    matrix.info.size1 = 2;
    matrix.info.size2 = 3;
    const std::vector<Case> cases = {
            {[](auto& r) { r.m_datasets.erase(dataset::raw_data); }, " raw_data dataset not found."},
            {[](auto& r) { r.m_datasets[dataset::raw_data] = DataView(std::vector<float>(4, 1.0f)); },
             " raw_data dataset is not a one-dimensional int16 array."},
            {[&](auto& r) { r.m_datasets[dataset::raw_data] = matrix; },
             " raw_data dataset is not a one-dimensional int16 array."},
            {[](auto& r) { r.m_metadata.remove("read_id"); }, " read_id metadata field not found."},
            {[](auto& r) { r.m_metadata.insert("read_id", uint64_t(5)); }, " read_id metadata field is not a string."},
            {[](auto& r) { r.m_metadata.remove("daq_offset"); }, " daq_offset field not found."},
            {[](auto& r) { r.m_metadata.insert("daq_offset", 1.0); }, " daq_offset field is not a float."},
            {[](auto& r) { r.m_metadata.remove("daq_scaling"); }, " daq_scaling metadata field not found."},
            {[](auto& r) { r.m_metadata.insert("daq_scaling", int32_t(1)); },
             " daq_scaling metadata field is not a float."},
    };
    for (const auto& c : cases) {
        auto read = valid_read();
        c.spoil(read);
        std::string error;
        EXPECT_FALSE(vemla::validate_read_impl(read, error));
        EXPECT_EQ(error, "Missing data in ReadHolder object:" + c.text);
    }
}

}  // namespace
