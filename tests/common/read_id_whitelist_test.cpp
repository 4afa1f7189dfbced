#include "common/read_id_whitelist.h"

#include <stdexcept>
#include <string>
#include <unordered_set>

#include <gtest/gtest.h>

#include "count_occurrences.h"
#include "temp_folder.h"
#include "trace_test_support.h"

namespace {

using common::getReadIdWhitelist;
using Ids = std::unordered_set<std::string>;

TEST(ReadIdWhitelist, LinesAreTrimmedAndAnInnerSpaceIsWarnedAbout) {
    vemla_test::TempFolder folder;
    vemla_test::CapturedLog log;
    const auto ids = getReadIdWhitelist(folder.write_file("whitelist.txt", "  r1 \n\tr2\t\nr 3\n\nr1\n"));
    EXPECT_EQ(ids, (Ids{"r1", "r2", "r 3", ""}));
    const auto text = log.text();
    EXPECT_EQ(vemla_test::count_occurrences(text, "read_id is invalid as it contains a space "), 1u) << text;
    EXPECT_NE(text.find("contains a space r 3"), std::string::npos) << text;
}

TEST(ReadIdWhitelist, CrlfAndATrailingNewlineAddNothing) {
    vemla_test::TempFolder folder;
    EXPECT_EQ(getReadIdWhitelist(folder.write_file("whitelist.txt", "a\r\nb\r\nc\r\n")), (Ids{"a", "b", "c"}));
    EXPECT_EQ(getReadIdWhitelist(folder.write_file("whitelist.txt", "a\nb")), (Ids{"a", "b"}));
    EXPECT_EQ(getReadIdWhitelist(folder.write_file("whitelist.txt", "")), Ids{});
}

TEST(ReadIdWhitelist, MissingOrUnreadablePathThrowsNamingIt) {
    vemla_test::TempFolder folder;
    const std::string missing = (folder.path() / "none.txt").string();
    try {
        getReadIdWhitelist(missing);
        FAIL() << "a missing file was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Could not load readIdWhitelist file: '" + missing + "'");
    }
    // A folder exists but cannot be read as lines.
    try {
        getReadIdWhitelist(folder.str());
        FAIL() << "a folder was read as an empty whitelist";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("'" + folder.str() + "'"), std::string::npos) << e.what();
    }
}

}  // namespace
