// The alignment header alone is enough to build a read, name its metadata
// through key types and ask for its SAM line: callers include nothing else.
#include "interfaces/read_alignment.h"

#include <gtest/gtest.h>

TEST(AlignmentHeader, ReadsAndKeyTypesComeWithIt) {
    interfaces::ReadHolder read;
    read.m_metadata.insert("strand_id", std::string("s1"));
    read.m_datasets.emplace(dataset::sequence, bass::data_wrappers::DataView(std::string("AC")));
    read.m_datasets.emplace(dataset::qstring, bass::data_wrappers::DataView(std::string("!!")));
    EXPECT_EQ(read.m_metadata.get<read_data::strand_id>(), "s1");
    const auto lines = interfaces::ReadAlignmentHelper::extract_sam_and_bed_lines_from_read_holder(read, 0, false);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].sam_line, "s1\t4\t*\t0\t0\t*\t*\t0\t2\tAC\t!!");
}
