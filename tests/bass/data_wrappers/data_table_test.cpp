#include "bass/data_wrappers/data_table.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;

namespace {

// A table mixing a fixed string, wide and narrow integers and a double;
// the compiler's own layout of the same struct is the oracle.
struct MixedRow {
    char a[5 + 1];
    int32_t b;
    int8_t c;
    double d;
};

DataTable mixed_table() {
    DataTable table;
    table.add_field("A", DataSetType::fixed_string, 5);
    table.add_field("B", DataSetType::int32);
    table.add_field("C", DataSetType::int8);
    table.add_field("D", DataSetType::float64);
    return table;
}

}  // namespace

TEST(DataTable, FieldsArePaddedAndAlignedAsInTheEquivalentStruct) {
    const DataTable table = mixed_table();
    EXPECT_EQ(table.field_offset("A"), offsetof(MixedRow, a));
    EXPECT_EQ(table.field_offset("B"), offsetof(MixedRow, b));
    EXPECT_EQ(table.field_offset("C"), offsetof(MixedRow, c));
    EXPECT_EQ(table.field_offset("D"), offsetof(MixedRow, d));
    EXPECT_EQ(table.row_size, sizeof(MixedRow));
    EXPECT_EQ(table.field_offset("B"), 8u);
    EXPECT_EQ(table.row_size, 24u);
    EXPECT_EQ(table.field_stride("A"), 24u);
    EXPECT_EQ(table.field_stride("B"), 6u);
    EXPECT_EQ(table.field_stride("D"), 3u);
}

TEST(DataTable, ColumnViewsReadAndWriteTheRowsInPlace) {
    DataTable table = mixed_table();
    table.num_rows = 3;
    table.data.assign(table.num_rows * table.row_size, 0);
    auto* rows = reinterpret_cast<MixedRow*>(table.data.data());
    for (int i = 0; i < 3; ++i) {
        rows[i].b = 100 + i;
        rows[i].c = static_cast<int8_t>(-i);
    }
    const auto b = table.view_field<int32_t>(1);
    ASSERT_EQ(b.size, 3u);
    for (uint64_t i = 0; i < 3; ++i) EXPECT_EQ(b[i], 100 + static_cast<int32_t>(i));
    const auto c = table.view_field<int8_t>(2);
    c[2] = 42;
    EXPECT_EQ(rows[2].c, 42);
    // Only the size is compared, so a float view of an int32 column works.
    EXPECT_NO_THROW(table.view_field<float>(1));
    try {
        table.view_field<int8_t>(1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "VecView type not compatible with field type.");
    }
    EXPECT_THROW(table.view_field<int8_t>(9), std::out_of_range);
}

TEST(DataTable, RejectedFieldsLeaveTheTableUnchanged) {
    DataTable table;
    table.add_field("x", DataSetType::int8);
    auto expect_error = [&](DataSetType type, uint64_t size, const char* text) {
        try {
            table.add_field("bad", type, size);
            FAIL() << text;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), text);
        }
        EXPECT_EQ(table.row_size, 1u);
        EXPECT_EQ(table.fields.size(), 1u);
    };
    expect_error(DataSetType::string, 0, "Invalid data type for data table field.");
    expect_error(DataSetType::table, 0, "Invalid data type for data table field.");
    expect_error(static_cast<DataSetType>(-1), 0, "Invalid data type for data table field.");
    expect_error(DataSetType::fixed_string, 0, "Must specify a size for string fields.");
    expect_error(DataSetType::int32, 8, "Specified type size does not match actual type size.");
    table.add_field("ok", DataSetType::int32, 4);
    EXPECT_EQ(table.field_offset("ok"), 4u);
}

TEST(DataTable, UnknownNamesAndRepeatedNames) {
    DataTable table;
    table.add_field("n", DataSetType::int32);
    table.add_field("n", DataSetType::int32);
    EXPECT_EQ(table.field_offset("n"), 4u);
    EXPECT_EQ(table.row_size, 8u);
    EXPECT_EQ(table.fields.size(), 2u);
    try {
        table.field_offset("absent");
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "map::at:  key not found");
    }
    EXPECT_THROW(table.field_stride("absent"), std::out_of_range);
}

TEST(DataTable, RowsThatAreNotWholeElementsAreRefused) {
    // A row of 1 + 3 padding + 4 + 1 bytes (9) is not a whole number of int32
    // values, so a strided int32 column would drift into other fields.
    DataTable table;
    table.add_field("i", DataSetType::int32);
    table.add_field("c", DataSetType::int8);
    EXPECT_EQ(table.row_size, 5u);
    table.num_rows = 2;
    table.data.assign(10, 0);
    EXPECT_THROW(table.field_stride("i"), std::runtime_error);
    EXPECT_THROW(table.view_field<int32_t>(0), std::runtime_error);
    EXPECT_EQ(table.field_stride("c"), 5u);
    EXPECT_NO_THROW(table.view_field<int8_t>(1));
    // Rows claimed beyond the bytes held are refused too.
    table.num_rows = 3;
    EXPECT_THROW(table.view_field<int8_t>(1), std::out_of_range);
}

TEST(DataTable, CopyIsDeep) {
    DataTable table = mixed_table();
    table.num_rows = 1;
    table.data.assign(table.row_size, 7);
    DataTable copy(table);
    copy.data[0] = 1;
    EXPECT_EQ(table.data[0], 7);
    EXPECT_EQ(copy.field_offset("D"), 16u);
    EXPECT_EQ(copy.num_rows, 1u);
}
