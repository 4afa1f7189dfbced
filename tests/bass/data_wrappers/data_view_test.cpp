#include "bass/data_wrappers/data_view.h"

#include <gtest/gtest.h>

#include <map>

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;

TEST(DataView, VectorsAreBorrowedOrTaken) {
    std::vector<float> values(10, 1.5f);
    const float* buffer = values.data();
    DataView borrowed(values, false);
    EXPECT_EQ(borrowed.data, buffer);
    EXPECT_EQ(borrowed.info.count, 10u);
    EXPECT_EQ(borrowed.info.element_size, 4u);
    EXPECT_EQ(borrowed.info.type, DataSetType::float32);
    EXPECT_EQ(borrowed.owner, nullptr);
    EXPECT_EQ(values.size(), 10u);

    DataView taken(values, true);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(taken.data, buffer);
    EXPECT_NE(taken.owner, nullptr);

    std::vector<char> chars{'a', 'b', 'c'};
    DataView char_view(chars, false);
    EXPECT_EQ(char_view.info.type, DataSetType::int8);
    EXPECT_EQ(char_view.info.element_size, 1u);
    EXPECT_EQ(char_view.info.count, 3u);

    std::vector<int16_t> signal{1, -2, 3};
    DataView raw(std::move(signal));
    EXPECT_EQ(raw.info.type, DataSetType::int16);
    EXPECT_EQ(raw.info.element_size, 2u);
    EXPECT_EQ(raw.vec_view<int16_t>()[1], -2);
    EXPECT_THROW(raw.vec_view<uint8_t>(), std::runtime_error);
}

TEST(DataView, ShortAndLongTextsAreTakenIntoTheOwner) {
    for (const std::string& original : {std::string("ACGT"), std::string(200, 'G')}) {
        std::string text = original;
        DataView view(text, true);
        EXPECT_TRUE(text.empty());
        ASSERT_NE(view.string, nullptr);
        EXPECT_NE(view.string, &text);
        EXPECT_EQ(view.data, view.string->data());
        EXPECT_EQ(*view.string, original);
        EXPECT_EQ(view.info.element_size, original.size() + 1);
        EXPECT_EQ(view.info.count, 1u);
        EXPECT_EQ(view.info.type, DataSetType::string);

        // Moving the view (e.g. into a map) keeps every pointer valid.
        std::map<int, DataView> map;
        map.emplace(1, std::move(view));
        EXPECT_EQ(view.info.type, DataSetType::none);
        EXPECT_EQ(view.owner, nullptr);
        const DataView& stored = map.at(1);
        EXPECT_EQ(std::string(static_cast<const char*>(stored.data)), original);

        DataView copy(stored);
        EXPECT_NE(copy.string, stored.string);
        EXPECT_EQ(copy.data, copy.string->data());
        EXPECT_EQ(*copy.string, original);
    }
}

TEST(DataView, MatrixTakesItsVectorAndChecksTheLayout) {
    std::vector<float> values(12);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i);
    MatView<float> matrix;
    matrix.view(values.data(), 3, 4, 4, 1);
    DataView view(matrix, values);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(view.info.count, 12u);
    EXPECT_EQ(view.info.size1, 3u);
    EXPECT_EQ(view.info.size2, 4u);
    EXPECT_EQ(view.mat_view<float>()(2, 3), 11.0f);

    std::vector<uint8_t> bytes(12);
    MatView<uint8_t> transposed;
    transposed.view(bytes.data(), 3, 4, 1, 3);
    EXPECT_THROW(DataView(transposed, bytes), std::runtime_error);
    MatView<uint8_t> offset;
    offset.view(bytes.data() + 1, 2, 4, 4, 1);
    EXPECT_THROW(DataView(offset, bytes), std::runtime_error);
    MatView<uint8_t> too_big;
    too_big.view(bytes.data(), 4, 4, 4, 1);
    EXPECT_THROW(DataView(too_big, bytes), std::runtime_error);
    EXPECT_EQ(bytes.size(), 12u) << "a refused matrix must not take the vector";
}

TEST(DataView, TakingATableEmptiesTheCallersTable) {
    DataTable table;
    table.add_field("x", DataSetType::int32);
    table.num_rows = 2;
    table.data.assign(8, 1);
    const uint8_t* bytes = table.data.data();
    DataView view(table, true);
    EXPECT_TRUE(table.fields.empty());
    EXPECT_TRUE(table.data.empty());
    EXPECT_EQ(table.row_size, 0u);
    EXPECT_EQ(table.num_rows, 0u);
    EXPECT_EQ(view.data, bytes);
    EXPECT_EQ(view.info.element_size, 4u);
    EXPECT_EQ(view.info.count, 2u);
    ASSERT_EQ(view.info.fields.size(), 1u);
    EXPECT_EQ(view.info.fields[0].name, "x");
}

TEST(DataView, SetStringCutsAtNulAndRefusesOtherViews) {
    DataView view(std::string("ACGT"), true);
    view.set_string(std::string("AC\0GT", 5));
    EXPECT_EQ(*view.string, "AC");
    EXPECT_EQ(view.info.element_size, 3u);
    EXPECT_EQ(view.data, view.string->data());

    DataView floats(std::vector<float>{1.0f});
    try {
        floats.set_string("x");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Data does not view string data.");
    }
}

TEST(DataView, CopiesOfOwningViewsAreIndependentCopiesOfBorrowersShare) {
    DataView owning(std::vector<uint8_t>{1, 2, 3});
    owning.metadata.insert("m", int32_t(1));
    DataView copy;
    copy = owning;
    static_cast<uint8_t*>(copy.data)[0] = 9;
    EXPECT_EQ(static_cast<uint8_t*>(owning.data)[0], 1);
    EXPECT_EQ(copy.metadata.get_value<int32_t>("m"), 1);
    EXPECT_EQ(copy.info.count, 3u);

    std::vector<uint8_t> shared{4, 5};
    DataView borrowing(shared, false);
    DataView second(borrowing);
    EXPECT_EQ(second.data, shared.data());
    EXPECT_EQ(second.owner, nullptr);
}

TEST(DataView, ClearOnABorrowedTextLeavesTheCallersText) {
    std::string text = "ACGT";
    DataView view(text, false);
    EXPECT_EQ(view.string, &text);
    view.metadata.insert("k", true);
    view.clear();
    EXPECT_EQ(text, "ACGT");
    EXPECT_EQ(view.info.type, DataSetType::none);
    EXPECT_TRUE(view.metadata.empty());
    EXPECT_EQ(view.string, nullptr);
}
