#include "common/path_utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <stdexcept>

#include "log_test_support.h"

namespace fs = boost::filesystem;
using common::make_canonical_path;
using common::relativePath;

namespace {

// Runs the test body with the working directory inside a temporary folder.
class InTempWorkingDir : public ::testing::Test {
protected:
    void SetUp() override {
        m_old = fs::current_path();
        m_root = fs::canonical(m_folder.path());
        fs::create_directories(m_root / "data" / "sub");
        std::ofstream((m_root / "data" / "ref.fa").string()) << ">r\nACGT\n";
        fs::create_symlink(m_root / "data" / "ref.fa", m_root / "link.fa");
        fs::current_path(m_root / "data" / "sub");
    }
    void TearDown() override { fs::current_path(m_old); }

    vemla_test::TempFolder m_folder;
    fs::path m_old;
    fs::path m_root;
};

}  // namespace

TEST_F(InTempWorkingDir, CanonicalPathTable) {
    const std::string ref = (m_root / "data" / "ref.fa").string();
    EXPECT_EQ(make_canonical_path(""), "");
    EXPECT_EQ(make_canonical_path("../ref.fa"), ref);
    EXPECT_EQ(make_canonical_path("./../sub/../ref.fa"), ref);
    EXPECT_EQ(make_canonical_path("../../link.fa"), ref);  // symlink followed
    // Absolute names pass through untouched, existing or not.
    EXPECT_EQ(make_canonical_path("/no/such/file"), "/no/such/file");
    EXPECT_EQ(make_canonical_path("/a/../b/./c"), "/a/../b/./c");
}

TEST_F(InTempWorkingDir, MissingRelativeFileThrowsWithSystemText) {
    try {
        make_canonical_path("missing.fa");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error while converting relative path missing.fa to file: " + std::string(strerror(ENOENT)));
    }
    // A tilde is an ordinary character.
    EXPECT_THROW(make_canonical_path("~/ref.fa"), std::runtime_error);
    fs::create_directories("~");
    std::ofstream("~/x.fa") << "x";
    EXPECT_EQ(make_canonical_path("~/x.fa"), (m_root / "data" / "sub" / "~" / "x.fa").string());
}

TEST(RelativePath, Table) {
    struct Case {
        const char* path;
        const char* base;
        const char* expected;
    };
    const Case cases[] = {
            {"/a/b/c", "/a/b/", "c"},       {"/a/b/c", "/a/b", "c"}, {"/a/x", "/a/b/c", "../../x"},
            {"/a/x", "/a/b/c/", "../../x"}, {"/a/b", "/a/b", ""},    {"/a/b", "/a/b///", ""},
            {"a/b/../c", "a", "b/../c"},  // purely textual
            {"/a/b/c/", "/a/b", "c/."},     {"/x/y", "", "/x/y"},    {"/x/y", "//", "/x/y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relativePath(c.path, c.base), c.expected) << c.path << " against " << c.base;
    }
}

TEST(ExecutablePath, MatchesProcSelfExeAndExists) {
    const fs::path path = common::executable_path();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_TRUE(fs::equivalent(path, "/proc/self/exe"));
    EXPECT_EQ(path, fs::canonical(path));
}
