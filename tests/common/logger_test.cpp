#include "common/logger.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "log_test_support.h"

using namespace common::logging;
using attributes::SeverityLevel;

TEST(Severity, NamesAndLookup) {
    const char* names[] = {"trace", "verbose", "message", "info", "warning", "error"};
    for (int value = 0; value < 6; ++value) {
        EXPECT_STREQ(attributes::to_string(static_cast<SeverityLevel>(value)), names[value]);
        EXPECT_EQ(attributes::get_severity_by_name(names[value]), value);
    }
    EXPECT_STREQ(attributes::to_string(static_cast<SeverityLevel>(6)), "unknown");
    EXPECT_STREQ(attributes::to_string(static_cast<SeverityLevel>(255)), "unknown");
    try {
        attributes::get_severity_by_name("Error");
        FAIL() << "case-insensitive match";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "unable to find severity for string: Error");
    }
    EXPECT_THROW(attributes::get_severity_by_name(""), std::runtime_error);
}

TEST(GlobalLoggers, ChannelSeverityAndFunctionAttribute) {
    vemla_test::RecordCollector collector;
    VEMLA_LOG(common::logging::error) << "e" << 1;
    VEMLA_LOG(common::logging::warning) << "w";
    VEMLA_LOG_INFO << "i";
    VEMLA_LOG_VERBOSE << "v";
    const auto records = collector.records();
    ASSERT_EQ(records.size(), 4u);
    const std::pair<const char*, SeverityLevel> expected[] = {{"error", attributes::error},
                                                              {"warning", attributes::warning},
                                                              {"info", attributes::info},
                                                              {"verbose", attributes::verbose}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].channel, expected[i].first);
        EXPECT_EQ(records[i].severity, expected[i].second);
        EXPECT_NE(records[i].function.find("TestBody"), std::string::npos) << records[i].function;
    }
    EXPECT_EQ(records[0].message, "e1");
}

// Runs in a fresh process: the default installation happens once per process.
TEST(DefaultLogOptionsDeathTest, WarningToStderrInfoNowhere) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
            {
                LoggerOptionsUtils::SetDefaultLogOptions();
                vemla_test::FdCapture err(2);
                vemla_test::FdCapture out(1);
                write_log_record(warning::get(), "void fn()", "msg");
                write_log_record(info::get(), "void fn()", "hidden info");
                write_log_record(error::get(), "int ns::Cls<T>::run(int) const", "bad");
                {
                    // Message-level records go bare to standard output.
                    BoostLoggerWrapper& lg = info::get();
                    BOOST_LOG_SEV(lg, attributes::message) << "plain";
                }
                const std::string err_text = err.finish();
                const std::string out_text = out.finish();
                const bool ok = err_text == "[vemla/warning] fn: msg\n[vemla/error] ns::Cls<>::run: bad\n" &&
                                out_text == "plain\n";
                if (!ok) {
                    std::fprintf(stderr, "stderr=<%s> stdout=<%s>", err_text.c_str(), out_text.c_str());
                }
                std::exit(ok ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
}
