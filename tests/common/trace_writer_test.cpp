#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "common/logger.h"
#include "common/trace.h"
#include "common/trace_file_writer.h"
#include "common/trace_writer.h"
#include "count_occurrences.h"
#include "temp_folder.h"
#include "trace_test_support.h"

namespace {

namespace fs = boost::filesystem;
using common::diagnostics::tracing::TraceMode;
using common::diagnostics::tracing::details::ActiveTraceContext;
using common::diagnostics::tracing::details::TraceFileWriter;

TEST(TraceWriter, TimestampsAreMillisecondsWithThreeDecimals) {
    using std::chrono::nanoseconds;
    EXPECT_EQ(ActiveTraceContext::create_timestamp(nanoseconds(0)), "0.000ms ");
    EXPECT_EQ(ActiveTraceContext::create_timestamp(nanoseconds(999)), "0.000ms ");
    EXPECT_EQ(ActiveTraceContext::create_timestamp(nanoseconds(1000)), "0.001ms ");
    EXPECT_EQ(ActiveTraceContext::create_timestamp(nanoseconds(1234567891)), "1234.567ms ");
    EXPECT_EQ(ActiveTraceContext::create_timestamp(nanoseconds(5000999999)), "5000.999ms ");
}

TEST(TraceWriter, ModesOutsideTheTableWriteNothing) {
    vemla_test::CollectedTraceLines collected;
    auto& writer = ActiveTraceContext::instance();
    writer.post_message(TraceMode::off, "off");
    writer.post_message(static_cast<TraceMode>(6), "six");
    writer.post_message(static_cast<TraceMode>(0xffffffffu), "max");
    writer.post_message(TraceMode::custom, "custom");
    EXPECT_EQ(collected.lines(), std::vector<std::string>{"custom"});
}

TEST(TraceWriter, AThrowingWriterIsReportedOnceAndLaterLinesAreStillWritten) {
    vemla_test::CapturedLog log;
    std::vector<std::string> written;
    auto& writer = ActiveTraceContext::instance();
    writer.set_custom_writer([&written](const std::string& line) {
        if (line.rfind("bad", 0) == 0) {
            throw std::runtime_error("writer broke on " + line);
        }
        written.push_back(line);
    });
    writer.post_message(TraceMode::custom, "bad 1");
    writer.post_message(TraceMode::custom, "good 1");
    writer.post_message(TraceMode::custom, "bad 2");
    writer.post_message(TraceMode::custom, "good 2");
    writer.wait_until_written();
    writer.set_custom_writer(nullptr);  // an empty writer fails too
    writer.post_message(TraceMode::custom, "to empty writer");
    std::vector<std::string> after;
    writer.set_custom_writer([&after](const std::string& line) { after.push_back(line); });
    writer.post_message(TraceMode::custom, "good 3");
    writer.wait_until_written();
    writer.set_custom_writer([](const std::string&) {});
    writer.wait_until_written();

    EXPECT_EQ(written, (std::vector<std::string>{"good 1", "good 2"}));
    EXPECT_EQ(after, std::vector<std::string>{"good 3"});
    const auto text = log.text();
    EXPECT_EQ(vemla_test::count_occurrences(text, "writer broke on bad 1"), 1u) << text;
    EXPECT_EQ(vemla_test::count_occurrences(text, "bad 2"), 0u) << text;
}

template <int N>
class VerboseProbe : private common::diagnostics::tracing::TraceDomain<VerboseProbe<N>> {
    using Domain = common::diagnostics::tracing::TraceDomain<VerboseProbe<N>>;

public:
    static bool active() { return Domain::get_trace_context()->is_active(); }
    static void run() { auto trace = Domain::create_trace("run"); }
};

// A domain routed to the verbose log is off unless a sink would take the
// verbose records.
TEST(TraceWriter, VerboseLogModeNeedsASinkThatTakesVerboseRecords) {
    namespace testability = common::diagnostics::tracing::testability;
    {
        vemla_test::CapturedLog log(false);
        testability::set_default_trace_mode(TraceMode::verbose_log);
        testability::set_enabled_trace_domains("(anonymous namespace)::VerboseProbe<1>");
        EXPECT_FALSE(VerboseProbe<1>::active());
    }
    vemla_test::CapturedLog log(true);
    testability::set_default_trace_mode(TraceMode::verbose_log);
    testability::set_enabled_trace_domains("(anonymous namespace)::VerboseProbe<2>");
    EXPECT_TRUE(VerboseProbe<2>::active());
    VerboseProbe<2>::run();
    testability::wait_for_trace_writer();
    const std::regex line(
            R"(\d+\.\d{3}ms  thread:0x[0-9a-f]+ \(anonymous namespace\)::VerboseProbe<2>::run \[ENTER\] \n)");
    EXPECT_TRUE(std::regex_search(log.text(), line)) << log.text();
}

std::string executable_stem() {
    char buffer[4096];
    const auto n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        throw std::runtime_error("readlink failed");
    }
    return fs::path(std::string(buffer, static_cast<std::size_t>(n))).stem().string();
}

std::vector<std::string> file_names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return {names.begin(), names.end()};
}

std::string contents(const fs::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Sorted by counter: names differ only in the counter once the prefix is set.
std::vector<fs::path> trace_files_by_counter(const fs::path& folder, const std::string& unique_suffix) {
    const std::regex name(executable_stem() + unique_suffix + R"(_\d{4}-\d\d-\d\d_T\d\d-\d\d-\d\d_(\d+)\.trace)");
    std::map<int, fs::path> by_counter;
    for (const auto& file : file_names(folder)) {
        std::smatch match;
        EXPECT_TRUE(std::regex_match(file, match, name)) << file;
        if (!match.empty()) {
            by_counter[std::stoi(match[1])] = folder / file;
        }
    }
    std::vector<fs::path> files;
    for (const auto& [counter, path] : by_counter) {
        files.push_back(path);
    }
    return files;
}

TEST(TraceFiles, RotateAtTheFirstLineWrittenAtOrPastTheLimit) {
    vemla_test::TempFolder folder;
    TraceFileWriter writer(folder.str(), 100);
    writer.set_unique_id("run_7");
    const std::string line99(99, 'a');  // 100 bytes with its newline
    writer.write(line99);               // at 0
    writer.write(line99);               // at 100: rotates first
    writer.write("short");              // at 100 in the second file: rotates
    writer.write("x");

    const auto files = trace_files_by_counter(folder.path(), "_run_7");
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].filename().string().substr(files[0].filename().size() - 8), "_0.trace");
    EXPECT_EQ(contents(files[0]), line99 + "\n");
    EXPECT_EQ(contents(files[1]), line99 + "\n");
    EXPECT_EQ(contents(files[2]), "short\nx\n");
}

TEST(TraceFiles, ALineJustBelowTheLimitStaysInTheFileWhichMayExceedIt) {
    vemla_test::TempFolder folder;
    TraceFileWriter writer(folder.str(), 101);
    const std::string line99(99, 'b');
    writer.write(line99);       // 0
    writer.write(line99);       // 100 < 101: same file, ends at 200
    writer.write("next file");  // 200: rotates
    const auto files = trace_files_by_counter(folder.path(), "");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(contents(files[0]), line99 + "\n" + line99 + "\n");
    EXPECT_EQ(contents(files[1]), "next file\n");
}

TEST(TraceFiles, DefaultLimitIsFiveMebibytes) {
    vemla_test::TempFolder folder;
    TraceFileWriter writer(folder.str());
    const std::string line(1023, 'c');
    for (int i = 0; i < 5120; ++i) {
        writer.write(line);  // exactly 5242880 bytes
    }
    EXPECT_EQ(file_names(folder.path()).size(), 1u);
    writer.write("first of the second file");
    const auto files = trace_files_by_counter(folder.path(), "");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(fs::file_size(files[0]), 5242880u);
    EXPECT_EQ(contents(files[1]), "first of the second file\n");
}

TEST(TraceFiles, WithoutAFolderLinesAreDroppedAndTheEnvironmentFolderIsKept) {
    vemla_test::TempFolder first;
    vemla_test::TempFolder second;
    TraceFileWriter writer("");
    writer.write("dropped");
    writer.set_unique_id("7");
    writer.set_unique_id("");  // leaves _7
    writer.set_folder_if_empty(first.str());
    writer.set_folder_if_empty(second.str());  // too late: a folder is known
    writer.write("kept");
    EXPECT_TRUE(file_names(second.path()).empty());
    const auto files = trace_files_by_counter(first.path(), "_7");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(contents(files[0]), "kept\n");
}

TEST(TraceFiles, AMissingFolderUsesUpACounterValuePerAttempt) {
    vemla_test::TempFolder root;
    const auto folder = root.path() / "later";
    TraceFileWriter writer(folder.string());
    writer.write("lost 1");
    writer.write("lost 2");
    fs::create_directory(folder);
    writer.write("found");
    const auto files = trace_files_by_counter(folder, "");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].string().find("_2.trace"), std::string::npos) << files[0];
    EXPECT_EQ(contents(files[0]), "found\n");
}

}  // namespace
