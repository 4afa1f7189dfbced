// Tracing reads its environment once per process, so these tests run the
// test executable again as a child with a prepared environment.

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "common/trace.h"
#include "temp_folder.h"

namespace fs = boost::filesystem;
namespace tracing = common::diagnostics::tracing;

namespace env_probe {
class Traced : private tracing::TraceDomain<Traced> {
public:
    static void run() {
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

std::string self_path() {
    char buffer[4096];
    const auto n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

// Runs the child test with the given environment assignments; its exit
// status is that of its own assertions.
// `ids` lists the unique ids the child hands to the builder, separated by
// '|': "s:" before a text id, "i:" before a number.
int run_child(const std::string& environment,
              const std::string& builder_folder,
              const std::string& domains_file,
              const std::string& ids = "s:client_a",
              const std::string& child_test = "TraceThroughTheBuilder") {
    const std::string command =
            "env " + environment + " " + CHILD_MARK + "=1 VEMLA_CHILD_BUILDER_FOLDER=" + quoted(builder_folder) +
            " VEMLA_CHILD_DOMAINS_FILE=" + quoted(domains_file) + " VEMLA_CHILD_IDS=" + quoted(ids) + " " +
            quoted(self_path()) + " --gtest_filter=TraceEnvironmentChild." + child_test + " > /dev/null";
    return std::system(command.c_str());
}

std::vector<std::string> files_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Set up as the client API does: folder from the constructor, then the
// client name as unique id and initialise(), twice, as two clients would.
TEST(TraceEnvironmentChild, TraceThroughTheBuilder) {
    if (!std::getenv(CHILD_MARK)) {
        GTEST_SKIP() << "runs only as a child of the TraceEnvironment tests";
    }
    auto& builder = tracing::context()
                            .using_trace_output_folder(std::getenv("VEMLA_CHILD_BUILDER_FOLDER"))
                            .with_trace_domains_file(std::getenv("VEMLA_CHILD_DOMAINS_FILE"));
    std::vector<std::string> ids;
    boost::algorithm::split(ids, std::string(std::getenv("VEMLA_CHILD_IDS")), boost::algorithm::is_any_of("|"));
    for (const auto& id : ids) {
        if (id.rfind("i:", 0) == 0) {
            builder.with_trace_file_unique_id(std::stoi(id.substr(2)));
        } else {
            builder.with_trace_file_unique_id(id.substr(2));
        }
    }
    builder.initialise();
    tracing::context().with_trace_file_unique_id("client_b").using_trace_output_folder("/elsewhere").initialise();
    env_probe::Traced::run();
    EXPECT_FALSE(env_probe::NotListed::active());
    tracing::flush();
}

// Clients set up on several threads at once: one set-up wins as a whole.
TEST(TraceEnvironmentChild, ConcurrentSetUp) {
    if (!std::getenv(CHILD_MARK)) {
        GTEST_SKIP() << "runs only as a child of the TraceEnvironment tests";
    }
    const std::string root = std::getenv("VEMLA_CHILD_BUILDER_FOLDER");
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &root] {
            for (int round = 0; round < 50; ++round) {
                tracing::context()
                        .using_trace_output_folder(root + "/" + std::to_string(i))
                        .with_trace_file_unique_id("client_" + std::to_string(i))
                        .with_custom_trace_writer([](const std::string&) {});
                if (round == 25) {
                    tracing::context().initialise();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    env_probe::Traced::run();
    tracing::flush();
}

class TraceEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(config_file()) << "env_probe::Traced trace_file\n";
        std::ofstream(domains_file()) << "env_probe::NotListed trace_file\n";
    }
    std::string config_file() const { return (config.path() / "trace.cfg").string(); }
    std::string domains_file() const { return (config.path() / "domains.cfg").string(); }

    vemla_test::TempFolder config;
    vemla_test::TempFolder environment_folder;
    vemla_test::TempFolder builder_folder;
};

std::string self_stem() {
    return fs::path(self_path()).stem().string();
}

void expect_one_trace_file(const fs::path& folder, const std::string& unique_suffix = "_client_a") {
    const auto names = files_in(folder);
    ASSERT_EQ(names.size(), 1u);
    const std::regex name(self_stem() + unique_suffix + R"(_\d{4}-\d\d-\d\d_T\d\d-\d\d-\d\d_0\.trace)");
    EXPECT_TRUE(std::regex_match(names[0], name)) << names[0];
    const auto text = contents(folder / names[0]);
    EXPECT_NE(text.find("env_probe::Traced::run [ENTER] \n"), std::string::npos) << text;
    EXPECT_NE(text.find("env_probe::Traced::run [TRACE]  from the child\n"), std::string::npos) << text;
    EXPECT_NE(text.find("env_probe::Traced::run [LEAVE] \n"), std::string::npos) << text;
}

TEST_F(TraceEnvironment, EnvironmentFolderBeatsBuilderFolder) {
    ASSERT_EQ(run_child("ZEB_VEMLA_TRACE_FOLDER=" + quoted(environment_folder.str()) +
                                " ZEB_VEMLA_TRACE_CONFIG=" + quoted(config_file()),
                        builder_folder.str(), domains_file()),
              0);
    expect_one_trace_file(environment_folder.path());
    EXPECT_TRUE(files_in(builder_folder.path()).empty());
}

TEST_F(TraceEnvironment, EmptyEnvironmentFolderLeavesTheBuilderFolder) {
    ASSERT_EQ(run_child("ZEB_VEMLA_TRACE_FOLDER= ZEB_VEMLA_TRACE_CONFIG=" + quoted(config_file()), builder_folder.str(),
                        domains_file()),
              0);
    expect_one_trace_file(builder_folder.path());
}

TEST_F(TraceEnvironment, BuilderDomainsFileIsReadOnlyWithoutEnvironmentEntries) {
    // Without an environment configuration the builder's domains file applies.
    std::ofstream(domains_file()) << "env_probe::Traced trace_file\n";
    ASSERT_EQ(run_child("-u ZEB_VEMLA_TRACE_CONFIG ZEB_VEMLA_TRACE_FOLDER=" + quoted(environment_folder.str()),
                        builder_folder.str(), domains_file()),
              0);
    expect_one_trace_file(environment_folder.path());
}

TEST_F(TraceEnvironment, UniqueIdsMustBePortableAndNonNegative) {
    const std::pair<const char*, const char*> cases[] = {
            {"s:run_1.2-x|s:with blank|s:a/b|s:c:d|i:-1", "_run_1.2-x"},
            {"s:first|i:0", "_0"},
            {"i:42|s:", ""},  // the empty id is taken, and means no suffix
    };
    for (const auto& [ids, suffix] : cases) {
        vemla_test::TempFolder folder;
        ASSERT_EQ(run_child("ZEB_VEMLA_TRACE_FOLDER=" + quoted(folder.str()) +
                                    " ZEB_VEMLA_TRACE_CONFIG=" + quoted(config_file()),
                            builder_folder.str(), domains_file(), ids),
                  0)
                << ids;
        expect_one_trace_file(folder.path(), suffix);
    }
}

TEST_F(TraceEnvironment, ConcurrentSetUpWritesToExactlyOneFolder) {
    for (int i = 0; i < 8; ++i) {
        fs::create_directory(builder_folder.path() / std::to_string(i));
    }
    ASSERT_EQ(run_child("-u ZEB_VEMLA_TRACE_FOLDER ZEB_VEMLA_TRACE_CONFIG=" + quoted(config_file()),
                        builder_folder.str(), domains_file(), "", "ConcurrentSetUp"),
              0);
    int files = 0;
    for (int i = 0; i < 8; ++i) {
        for (const auto& name : files_in(builder_folder.path() / std::to_string(i))) {
            ++files;
            EXPECT_NE(name.find("_client_"), std::string::npos) << name;
        }
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
