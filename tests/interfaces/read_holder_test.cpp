#include "interfaces/read_holder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using bass::data_wrappers::DataView;
using interfaces::ReadHolder;

namespace {

void expect_empty(const ReadHolder& read) {
    EXPECT_EQ(read.m_read_tag, 0u);
    EXPECT_EQ(read.m_priority, 1u);
    EXPECT_EQ(read.m_sub_tag, 0u);
    EXPECT_TRUE(read.m_metadata.empty());
    EXPECT_TRUE(read.m_datasets.empty());
    EXPECT_EQ(read.m_coordinator, nullptr);
    EXPECT_EQ(read.m_sub_tag_counter, nullptr);
}

ReadHolder full_read() {
    ReadHolder read;
    read.m_read_tag = 77;
    read.m_priority = 0;
    read.m_sub_tag = 3;
    read.m_metadata.insert("read_id", std::string("r"));
    read.m_datasets.emplace(sequence, DataView(std::string("ACGT")));
    read.m_coordinator = std::make_shared<interfaces::ReadCoordinator>();
    read.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(4);
    read.m_attachment = std::make_shared<int>(5);
    read.create_timestamp();
    return read;
}

}  // namespace

TEST(ReadHolder, NewHolderIsEmpty) {
    const ReadHolder read;
    expect_empty(read);
    EXPECT_EQ(read.m_attachment, nullptr);
    EXPECT_TRUE(read.m_timestamps.get_timestamps().empty());
}

TEST(ReadHolder, MoveTransfersEverythingAndEmptiesTheSource) {
    ReadHolder source = full_read();
    const void* sequence_data = source.m_datasets.at(sequence).data;
    ReadHolder target(std::move(source));
    expect_empty(source);
    EXPECT_EQ(source.m_attachment, nullptr);
    EXPECT_TRUE(source.m_timestamps.get_timestamps().empty());

    EXPECT_EQ(target.m_read_tag, 77u);
    EXPECT_EQ(target.m_priority, 0u);
    EXPECT_EQ(target.m_sub_tag, 3u);
    EXPECT_EQ(target.m_metadata.get_value<std::string>("read_id"), "r");
    EXPECT_EQ(target.m_datasets.at(sequence).data, sequence_data);
    EXPECT_NE(target.m_coordinator, nullptr);
    EXPECT_EQ(target.m_sub_tag_counter->load(), 4u);
    EXPECT_EQ(*std::static_pointer_cast<int>(target.m_attachment), 5);
    EXPECT_EQ(target.m_timestamps.get_timestamps().size(), 1u);

    ReadHolder assigned = full_read();
    assigned = std::move(target);
    expect_empty(target);
    EXPECT_EQ(target.m_attachment, nullptr);
    EXPECT_EQ(assigned.m_read_tag, 77u);
    EXPECT_EQ(assigned.m_timestamps.get_timestamps().size(), 1u);
    // The source is reusable.
    target.m_metadata.insert("x", int32_t(1));
    EXPECT_EQ(target.get_by_name("x"), "1");
}

TEST(ReadHolder, ClearKeepsAttachmentAndTimestamps) {
    ReadHolder read = full_read();
    read.clear();
    expect_empty(read);
    EXPECT_NE(read.m_attachment, nullptr);
    EXPECT_EQ(read.m_timestamps.get_timestamps().size(), 1u);
}

TEST(ReadHolder, GetByNameRendersEveryType) {
    ReadHolder read;
    auto& m = read.m_metadata;
    m.insert("bool_true", true);
    m.insert("bool_false", false);
    m.insert("float", 2.5f);
    m.insert("double", 0.125);
    m.insert("nan", std::numeric_limits<float>::quiet_NaN());
    m.insert("inf", std::numeric_limits<double>::infinity());
    m.insert("minus_inf", -std::numeric_limits<float>::infinity());
    m.insert("i8", int8_t(-5));
    m.insert("u8", uint8_t(200));
    m.insert("i16", int16_t(-300));
    m.insert("u16", uint16_t(60000));
    m.insert("i32", int32_t(-7));
    m.insert("u32", uint32_t(4000000000u));
    m.insert("i64", int64_t(-9000000000LL));
    m.insert("u64", std::numeric_limits<uint64_t>::max());
    m.insert("text", std::string("hello"));
    m.insert("empty_text", std::string());

    const std::vector<std::pair<std::string, std::string>> expected{{"bool_true", "TRUE"},
                                                                    {"bool_false", "FALSE"},
                                                                    {"float", "2.500000"},
                                                                    {"double", "0.125000"},
                                                                    {"nan", "0"},
                                                                    {"inf", "0"},
                                                                    {"minus_inf", "0"},
                                                                    {"i8", "-5"},
                                                                    {"u8", "200"},
                                                                    {"i16", "-300"},
                                                                    {"u16", "60000"},
                                                                    {"i32", "-7"},
                                                                    {"u32", "4000000000"},
                                                                    {"i64", "-9000000000"},
                                                                    {"u64", "18446744073709551615"},
                                                                    {"text", "hello"},
                                                                    {"empty_text", ""},
                                                                    {"absent", ""},
                                                                    {"sequence", ""}};
    read.m_datasets.emplace(sequence, DataView(std::string("ACGT")));
    for (const auto& [key, text] : expected) {
        EXPECT_EQ(read.get_by_name(key), text) << key;
    }
}
