// Tracing reads its environment once per process, so these tests run the
// test executable again as a child with a prepared environment.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "common/trace.h"
#include "temp_folder.h"

namespace fs = boost::filesystem;
namespace tracing = common::diagnostics::tracing;

namespace env_probe {
class Traced : private tracing::TraceDomain<Traced> {
public:
    static void run()
    {
        auto trace = create_trace("run");
        trace.message("from the child");
    }
};
class NotListed : private tracing::TraceDomain<NotListed> {
public:
    static bool active() { return get_trace_context()->is_active(); }
};
}  // namespace env_probe

namespace {

const char* const CHILD_MARK = "VEMLA_TRACE_ENVIRONMENT_CHILD";

std::string self_path()
{
    char buffer[4096];
    const auto n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

// Runs the child test with the given environment assignments; its exit
// status is that of its own assertions.
int run_child(const std::string& environment, const std::string& builder_folder, const std::string& domains_file)
{
    const std::string command = "env " + environment + " " + CHILD_MARK + "=1 VEMLA_CHILD_BUILDER_FOLDER=" +
                                quoted(builder_folder) + " VEMLA_CHILD_DOMAINS_FILE=" + quoted(domains_file) + " " +
                                quoted(self_path()) + " --gtest_filter=TraceEnvironmentChild.* > /dev/null";
    return std::system(command.c_str());
}

std::vector<std::string> files_in(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::string contents(const fs::path& path)
{
    std::ifstream in(path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Set up as the client API does: folder from the constructor, then the
// client name as unique id and initialise(), twice, as two clients would.
TEST(TraceEnvironmentChild, TraceThroughTheBuilder)
{
    if (!std::getenv(CHILD_MARK)) {
        GTEST_SKIP() << "runs only as a child of the TraceEnvironment tests";
    }
    tracing::context()
        .using_trace_output_folder(std::getenv("VEMLA_CHILD_BUILDER_FOLDER"))
        .with_trace_domains_file(std::getenv("VEMLA_CHILD_DOMAINS_FILE"))
        .with_trace_file_unique_id("client_a")
        .initialise();
    tracing::context().with_trace_file_unique_id("client_b").using_trace_output_folder("/elsewhere").initialise();
    env_probe::Traced::run();
    EXPECT_FALSE(env_probe::NotListed::active());
    tracing::flush();
}

class TraceEnvironment : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(config_file()) << "env_probe::Traced trace_file\n";
        std::ofstream(domains_file()) << "env_probe::NotListed trace_file\n";
    }
    std::string config_file() const { return (config.path() / "trace.cfg").string(); }
    std::string domains_file() const { return (config.path() / "domains.cfg").string(); }

    vemla_test::TempFolder config;
    vemla_test::TempFolder environment_folder;
    vemla_test::TempFolder builder_folder;
};

void expect_one_trace_file(const fs::path& folder)
{
    const auto names = files_in(folder);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(names[0].find("_client_a_"), std::string::npos) << names[0];
    EXPECT_EQ(names[0].find("client_b"), std::string::npos) << names[0];
    EXPECT_EQ(names[0].substr(names[0].size() - 8), "_0.trace");
    const auto text = contents(folder / names[0]);
    EXPECT_NE(text.find("env_probe::Traced::run [ENTER] \n"), std::string::npos) << text;
    EXPECT_NE(text.find("env_probe::Traced::run [TRACE]  from the child\n"), std::string::npos) << text;
    EXPECT_NE(text.find("env_probe::Traced::run [LEAVE] \n"), std::string::npos) << text;
}

TEST_F(TraceEnvironment, EnvironmentFolderBeatsBuilderFolder)
{
    ASSERT_EQ(run_child("ZEB_VEMLA_TRACE_FOLDER=" + quoted(environment_folder.str()) +
                            " ZEB_VEMLA_TRACE_CONFIG=" + quoted(config_file()),
                        builder_folder.str(), domains_file()),
              0);
    expect_one_trace_file(environment_folder.path());
    EXPECT_TRUE(files_in(builder_folder.path()).empty());
}

TEST_F(TraceEnvironment, EmptyEnvironmentFolderLeavesTheBuilderFolder)
{
    ASSERT_EQ(run_child("ZEB_VEMLA_TRACE_FOLDER= ZEB_VEMLA_TRACE_CONFIG=" + quoted(config_file()),
                        builder_folder.str(), domains_file()),
              0);
    expect_one_trace_file(builder_folder.path());
}

TEST_F(TraceEnvironment, BuilderDomainsFileIsReadOnlyWithoutEnvironmentEntries)
{
    // Without an environment configuration the builder's domains file applies.
    std::ofstream(domains_file()) << "env_probe::Traced trace_file\n";
    ASSERT_EQ(run_child("-u ZEB_VEMLA_TRACE_CONFIG ZEB_VEMLA_TRACE_FOLDER=" + quoted(environment_folder.str()),
                        builder_folder.str(), domains_file()),
              0);
    expect_one_trace_file(environment_folder.path());
}

}  // namespace
