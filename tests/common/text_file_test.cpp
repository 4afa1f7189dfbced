#include "common/text_file.h"

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace {

using common::TextFile;

class TextFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& text) {
        return m_folder.write_file("table" + std::to_string(m_files++) + ".tsv", text);
    }

    // The text of the runtime error that reading `text` throws.
    std::string error_of(const std::string& text) {
        try {
            TextFile table(write(text));
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "no error";
    }

    vemla_test::TempFolder m_folder;
    int m_files = 0;
};

TEST_F(TextFileTest, CommentsBeforeTheHeaderAreSkippedAndRowsCountFromTheHeader) {
    const TextFile table(write("# one\n#two\nname\tvalue\n#a\t1\nb\t\n"));
    EXPECT_EQ(table.ColumnNames(), (std::vector<std::string>{"name", "value"}));
    EXPECT_EQ(table.Column(0), (std::vector<std::string>{"#a", "b"}));
    EXPECT_EQ(table.Column(1), (std::vector<std::string>{"1", ""}));
    EXPECT_EQ(error_of("#c\n#c\na\tb\n1\t2\n3\n"), "Error: Incomplete row in line 3: expecting 2 columns but got 1");
    EXPECT_EQ(error_of("a\tb\n1\t2\t3\n"), "Error: Incomplete row in line 2: expecting 2 columns but got 3");
    EXPECT_EQ(error_of("a\tb\n\n1\t2\n"), "Error: Incomplete row in line 2: expecting 2 columns but got 1");
}

TEST_F(TextFileTest, CrlfAndAByteOrderMarkReadLikePlainLines) {
    const TextFile table(write("\xEF\xBB\xBFx\ty\r\n1\t2\r\n3\t4\r\n"));
    EXPECT_EQ(table.ColumnNames(), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(table.Column(1), (std::vector<std::string>{"2", "4"}));
}

TEST_F(TextFileTest, EdgeShapesOfHeaderAndRows) {
    const TextFile empty(write(""));
    EXPECT_EQ(empty.ColumnNames(), std::vector<std::string>{""});
    EXPECT_EQ(empty.RowCount(), 0u);

    const TextFile single(write("only\na\n\nb"));
    EXPECT_EQ(single.Column(0), (std::vector<std::string>{"a", "", "b"}));

    const TextFile repeated(write("k\tv\tk\n1\t2\t3\n"));
    EXPECT_EQ(repeated.ColumnIndex("k"), 2);
    EXPECT_EQ(repeated.Column(0), std::vector<std::string>{"1"});
    EXPECT_EQ(repeated.ColumnIndex("absent"), -1);

    TextFile reparsed(write("k\tv\n1\t2\n"));
    std::stringstream other("z\n3\n");
    reparsed.read_input(other);
    EXPECT_EQ(reparsed.ColumnIndex("k"), -1);  // nothing left of the earlier table
    EXPECT_EQ(reparsed.Column(0), std::vector<std::string>{"3"});
}

TEST_F(TextFileTest, LoadColumnConvertsCellsAndCountsEmptyOnes) {
    const TextFile table(write("v\n1.5\n\nx\n 2.5abc\n"));
    std::vector<float> values{9, 9, 9, 9, 9, 9};
    EXPECT_EQ(table.LoadColumn(0, values, 0.0f), 1);
    EXPECT_EQ(values, (std::vector<float>{1.5f, 0.0f, 0.0f, 2.5f}));
    EXPECT_EQ(table.LoadColumn(0, values, -1.0f), 1);
    EXPECT_EQ(values[1], -1.0f);
    EXPECT_THROW(table.LoadColumn(1, values, 0.0f), std::out_of_range);
    EXPECT_THROW(table.LoadColumn(-1, values, 0.0f), std::out_of_range);
}

TEST_F(TextFileTest, MissingFileAndMissingColumnAreNamed) {
    const std::string missing = (m_folder.path() / "none.tsv").string();
    try {
        TextFile table(missing);
        FAIL() << "a missing file was opened";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Error: Failed to open file \"" + missing + "\"");
    }
    const TextFile table(write("a\n1\n"));
    try {
        table.RequireColumn("level_mean");
        FAIL() << "a missing column was found";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("\"level_mean\""), std::string::npos) << e.what();
    }
}

}  // namespace
