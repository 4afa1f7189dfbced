#include "common/logger_group.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include <boost/filesystem.hpp>
#include <boost/log/core/core.hpp>

#include "log_test_support.h"

using namespace common::logging;
namespace fs = boost::filesystem;
namespace sev = common::logging::attributes;

namespace {

class LoggerGroupTest : public ::testing::Test {
protected:
    void TearDown() override {
        m_group.RemoveSinks();
        boost::log::core::get()->reset_filter();
        boost::log::core::get()->set_logging_enabled(true);
    }

    static SinkOptions bare_sink(std::vector<sev::SeverityLevel> levels) {
        SinkOptions sink;
        sink.severities = std::move(levels);
        sink.formatter_settings = FormatterSettings{false, false, false, false, false};
        sink.enabled = true;
        return sink;
    }

    static std::vector<fs::path> files_in(const fs::path& folder) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(folder)) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    LoggerGroup m_group;
};

}  // namespace

TEST_F(LoggerGroupTest, PercentSignsAreEscapedAndTheFolderIsCreated) {
    vemla_test::TempFolder temp;
    const fs::path folder = temp.path() / "logs%d%%" / "deeper";
    LoggerOptions options;
    options.sinks[core_file] = bare_sink({sev::info});
    options.log_folder = folder;
    options.core_log_name = "co%re";
    m_group.SetLoggerOptions(std::move(options));
    EXPECT_TRUE(fs::is_directory(folder));

    VEMLA_LOG_INFO << "into the file";
    VEMLA_LOG_WARNING << "not listed";
    m_group.RemoveSinks();  // closes the file

    const auto files = files_in(folder);
    ASSERT_EQ(files.size(), 1u);
    const std::string name = files[0].filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(co%re_log-\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.log)"))) << name;
    EXPECT_EQ(vemla_test::read_file(files[0]), "into the file\n");
}

TEST_F(LoggerGroupTest, ReinstallingKeepsRecordsOfTheEarlierFile) {
    vemla_test::TempFolder temp;
    LoggerOptions options;
    options.sinks[core_file] = bare_sink({sev::info});
    options.sinks[verbose_file] = bare_sink({sev::warning});
    options.log_folder = temp.path();
    options.core_log_name = "core";
    options.verbose_log_name = "verbose";

    LoggerOptions again = options;
    m_group.SetLoggerOptions(std::move(options));
    VEMLA_LOG_INFO << "first";
    VEMLA_LOG_WARNING << "w1";
    // Usually within the same second: the same file names are opened again.
    m_group.SetLoggerOptions(std::move(again));
    VEMLA_LOG_INFO << "second";
    VEMLA_LOG_WARNING << "w2";
    m_group.RemoveSinks();

    std::string core_text;
    std::string verbose_text;
    for (const auto& file : files_in(temp.path())) {
        const std::string name = file.filename().string();
        (name.rfind("core_log-", 0) == 0 ? core_text : verbose_text) += vemla_test::read_file(file);
    }
    EXPECT_EQ(core_text, "first\nsecond\n");
    EXPECT_EQ(verbose_text, "w1\nw2\n");
}

TEST_F(LoggerGroupTest, UnwritableLogFolderNeverMakesLoggingThrow) {
    LoggerOptions options;
    options.sinks[core_file] = bare_sink({sev::error, sev::info});
    options.sinks[error_console] = bare_sink({sev::error});
    options.log_folder = "/proc";  // exists, but no file can be made in it
    options.core_log_name = "core";
    ASSERT_NO_THROW(m_group.SetLoggerOptions(std::move(options)));
    vemla_test::FdCapture err(2);
    EXPECT_NO_THROW(VEMLA_LOG_INFO << "lost");
    EXPECT_NO_THROW(VEMLA_LOG_ERROR << "still on stderr");
    // The failing file sink does not stop the other sinks.
    EXPECT_EQ(err.finish(), "still on stderr\n");
}

TEST_F(LoggerGroupTest, FolderThatCannotBeCreatedThrowsButAttachesSinks) {
    LoggerOptions options;
    options.sinks[error_console] = bare_sink({sev::error});
    options.log_folder = "/proc/vemla-no-such-folder/logs";
    EXPECT_THROW(m_group.SetLoggerOptions(std::move(options)), fs::filesystem_error);
    EXPECT_TRUE(m_group.GetLoggerOptions().sinks[error_console].enabled);
    vemla_test::FdCapture err(2);
    VEMLA_LOG_ERROR << "attached";
    EXPECT_EQ(err.finish(), "attached\n");
}

TEST_F(LoggerGroupTest, AllEntriesDisabledSwitchesTheCoreOff) {
    m_group.SetLoggerOptions(LoggerOptions());
    EXPECT_FALSE(boost::log::core::get()->get_logging_enabled());

    LoggerOptions options;
    options.sinks[output_console] = bare_sink({sev::info});
    m_group.SetLoggerOptions(std::move(options));
    EXPECT_TRUE(boost::log::core::get()->get_logging_enabled());
}

TEST_F(LoggerGroupTest, ReinstallDetachesEarlierSinks) {
    LoggerOptions options;
    options.sinks[output_console] = bare_sink({sev::info});
    LoggerOptions again = options;
    m_group.SetLoggerOptions(std::move(options));
    m_group.SetLoggerOptions(std::move(again));
    vemla_test::FdCapture out(1);
    VEMLA_LOG_INFO << "once";
    EXPECT_EQ(out.finish(), "once\n");
}

TEST_F(LoggerGroupTest, EditsChangeFiltersAndCreateMissingSinks) {
    vemla_test::TempFolder temp;
    LoggerOptions options;
    options.sinks[error_console] = bare_sink({sev::error});
    options.sinks[output_console].formatter_settings = FormatterSettings{false, true, true, false, false};
    options.log_folder = temp.path() / "never";
    m_group.SetLoggerOptions(std::move(options));

    // output_console had no sink: the edit makes one with the entry's layout.
    std::vector<Loggers> output{output_console};
    m_group.AddSeverity(sev::info, output);
    EXPECT_TRUE(m_group.GetLoggerOptions().sinks[output_console].enabled);
    {
        vemla_test::FdCapture out(1);
        VEMLA_LOG_INFO << "now visible";
        EXPECT_EQ(out.finish(), "[vemla/info] {info} now visible\n");
    }

    // Error console also takes warnings once they are added.
    std::vector<Loggers> errors{error_console};
    m_group.AddSeverity(sev::warning, errors);
    {
        vemla_test::FdCapture err(2);
        VEMLA_LOG_WARNING << "warned";
        EXPECT_EQ(err.finish(), "warned\n");
    }

    // A custom trace on standard output admits trace records of that channel.
    m_group.AddCustomTrace("tracing", output);
    {
        vemla_test::FdCapture out(1);
        BoostLoggerWrapper traced("tracing", sev::trace);
        BoostLoggerWrapper other("other", sev::trace);
        BOOST_LOG_SEV(traced, sev::trace) << "trace in";
        BOOST_LOG_SEV(other, sev::trace) << "trace out";
        EXPECT_EQ(out.finish(), "[vemla/tracing] {trace} trace in\n");
    }
    std::string channel = "tracing";
    boost::optional<std::vector<Loggers>> all;
    m_group.RemoveCustomTrace(channel, all);
    EXPECT_TRUE(m_group.GetLoggerOptions().sinks[output_console].custom_traces.empty());

    // Removing the last level disables the entry in the options; the core
    // goes off once no enabled entry has a sink.
    boost::optional<std::vector<Loggers>> out_only(std::vector<Loggers>{output_console});
    m_group.RemoveSeverity(sev::info, out_only);
    EXPECT_FALSE(m_group.GetLoggerOptions().sinks[output_console].enabled);
    EXPECT_TRUE(boost::log::core::get()->get_logging_enabled());
    m_group.RemoveSeverity(sev::error, all);
    m_group.RemoveSeverity(sev::warning, all);
    EXPECT_FALSE(boost::log::core::get()->get_logging_enabled());
}

TEST_F(LoggerGroupTest, RemoveSinksKeepsOptionsAndCoreSwitch) {
    LoggerOptions options;
    options.sinks[output_console] = bare_sink({sev::info});
    m_group.SetLoggerOptions(std::move(options));
    m_group.RemoveSinks();
    EXPECT_TRUE(m_group.GetLoggerOptions().sinks[output_console].enabled);
    EXPECT_TRUE(boost::log::core::get()->get_logging_enabled());
    vemla_test::FdCapture out(1);
    VEMLA_LOG_INFO << "nowhere";
    EXPECT_EQ(out.finish(), "");
}

// The installers keep process-wide state: each case runs in a fresh process.
class InstallersDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(InstallersDeathTest, DefaultOptionsInstallOnceAndCreateNothing) {
    EXPECT_EXIT(
            {
                vemla_test::TempFolder temp;
                fs::current_path(temp.path());
                LoggerOptionsUtils::SetDefaultLogOptions();
                auto& group = *common::Singleton<LoggerGroup>::s_instance;
                std::vector<Loggers> out{output_console};
                group.AddSeverity(sev::info, out);
                LoggerOptionsUtils::SetDefaultLogOptions();  // no effect: edit survives
                const bool kept = group.GetLoggerOptions().sinks[output_console].severities.size() == 2;
                vemla_test::FdCapture err(2);
                vemla_test::FdCapture capture_out(1);
                VEMLA_LOG_INFO << "info";
                const std::string out_text = capture_out.finish();
                err.finish();
                const bool no_files = fs::directory_iterator(temp.path()) == fs::directory_iterator();
                fs::current_path("/");
                std::exit(kept && no_files && out_text == "info\n" ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
}

TEST_F(InstallersDeathTest, VemlaOptionsReplaceDefaultsAndPreventThem) {
    EXPECT_EXIT(
            {
                vemla_test::TempFolder temp;
                LoggerOptionsUtils::SetDefaultVemlaLogOptions((temp.path() / "logs").string(), "core", "verbose", true,
                                                              false, "");
                LoggerOptionsUtils::SetDefaultLogOptions();  // decided already: no effect
                const auto options = common::Singleton<LoggerGroup>::s_instance->GetLoggerOptions();
                bool ok = options.core_log_name == "core" && options.sinks[core_file].enabled &&
                          !options.sinks[output_console].enabled && fs::is_directory(temp.path() / "logs");
                // Disabling lasts until the next installation.
                LoggerOptionsUtils::DisableAllLogs();
                ok = ok && !boost::log::core::get()->get_logging_enabled();
                LoggerOptionsUtils::SetDefaultVemlaLogOptions((temp.path() / "logs").string(), "c2", "v2", false, false,
                                                              "");
                ok = ok && boost::log::core::get()->get_logging_enabled();
                std::exit(ok ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
}

TEST_F(InstallersDeathTest, DisableBeforeFirstDefaultIsUndone) {
    EXPECT_EXIT(
            {
                LoggerOptionsUtils::DisableAllLogs();
                const bool off = !boost::log::core::get()->get_logging_enabled();
                LoggerOptionsUtils::SetDefaultLogOptions();
                const bool on = boost::log::core::get()->get_logging_enabled();
                LoggerOptionsUtils::DisableAllLogs();
                vemla_test::FdCapture err(2);
                VEMLA_LOG_ERROR << "silenced";
                const bool silent = err.finish().empty();
                std::exit(off && on && silent ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
}
