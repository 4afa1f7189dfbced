#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "common/trace_configuration.h"
#include "common/trace_testability.h"
#include "trace_test_support.h"

namespace {

using common::diagnostics::tracing::TraceMode;
using common::diagnostics::tracing::details::TraceConfiguration;
namespace testability = common::diagnostics::tracing::testability;

TraceMode mode_of(const std::string& domain) {
    return TraceConfiguration::instance().get_domain_trace_mode(domain);
}

void configure(const std::string& text, TraceMode default_mode = TraceMode::verbose_log) {
    testability::set_default_trace_mode(default_mode);
    std::istringstream stream(text);
    testability::configure_trace_domains(stream);
}

TEST(TraceConfiguration, GrammarOfConfigurationLines) {
    configure(
            "# a comment line\n"
            "\n"
            "   \t  \n"
            "   # indented comment\n"
            "alone\n"
            "keyed stdout\n"
            "extra stderr and more words\n"
            "file_mode trace_file\n"
            "custom_mode custom\n"
            "log_mode verbose_log\n"
            "commented #stdout\n"
            "unknown_keyword printer\n"
            "wrong_case Stdout\n"
            "*leading_star stdout\n"
            "hash#inside stderr\n"
            "\ttabbed\tcustom  \n"
            "crlf stderr\r\n"
            "crlf_alone\r\n"
            "twice stdout\n"
            "twice stderr\n"
            "no_newline_at_end custom");
    EXPECT_EQ(mode_of("alone"), TraceMode::verbose_log);
    EXPECT_EQ(mode_of("keyed"), TraceMode::stdout);
    EXPECT_EQ(mode_of("extra"), TraceMode::stderr);
    EXPECT_EQ(mode_of("file_mode"), TraceMode::trace_file);
    EXPECT_EQ(mode_of("custom_mode"), TraceMode::custom);
    EXPECT_EQ(mode_of("log_mode"), TraceMode::verbose_log);
    EXPECT_EQ(mode_of("commented"), TraceMode::verbose_log);
    EXPECT_EQ(mode_of("unknown_keyword"), TraceMode::off);
    EXPECT_EQ(mode_of("wrong_case"), TraceMode::off);
    EXPECT_EQ(mode_of("*leading_star"), TraceMode::stdout);
    EXPECT_EQ(mode_of("leading_star"), TraceMode::off);
    EXPECT_EQ(mode_of("hash#inside"), TraceMode::stderr);
    EXPECT_EQ(mode_of("hash"), TraceMode::off);
    EXPECT_EQ(mode_of("tabbed"), TraceMode::custom);
    EXPECT_EQ(mode_of("crlf"), TraceMode::stderr);
    EXPECT_EQ(mode_of("crlf_alone"), TraceMode::verbose_log);
    EXPECT_EQ(mode_of("twice"), TraceMode::stdout);
    EXPECT_EQ(mode_of("no_newline_at_end"), TraceMode::custom);
    EXPECT_EQ(mode_of("#"), TraceMode::off);
    EXPECT_EQ(mode_of("a"), TraceMode::off);
}

TEST(TraceConfiguration, DefaultModeOffSkipsLinesWithoutKeyword) {
    configure("plain\nkeyed stdout\ncomment_after #x\nprefix_plain*\n", TraceMode::off);
    EXPECT_EQ(mode_of("plain"), TraceMode::off);
    EXPECT_EQ(mode_of("comment_after"), TraceMode::off);
    EXPECT_EQ(mode_of("prefix_plainX"), TraceMode::off);
    EXPECT_EQ(mode_of("keyed"), TraceMode::stdout);
}

TEST(TraceConfiguration, ExactBeatsPrefixAndLongestPrefixWins) {
    configure(
            "* stdout\n"
            "basecall_service::* stderr\n"
            "ipc_tools::* stderr\n"
            "ipc_tools::RequestBroker stdout\n"
            "a::* stdout\n"
            "a::b::* custom\n");
    EXPECT_EQ(mode_of("basecall_service::BasecallClient"), TraceMode::stderr);
    EXPECT_EQ(mode_of("vemla::VemlaClientImpl"), TraceMode::stdout);
    EXPECT_EQ(mode_of("ipc_tools::RequestBroker"), TraceMode::stdout);
    EXPECT_EQ(mode_of("ipc_tools::ConnectionInfo"), TraceMode::stderr);
    EXPECT_EQ(mode_of("a::b::C"), TraceMode::custom);
    EXPECT_EQ(mode_of("a::C"), TraceMode::stdout);
    EXPECT_EQ(mode_of("a::bc"), TraceMode::stdout);
    // The empty prefix reaches every ordinary domain, never an hftrace one.
    EXPECT_EQ(mode_of("anything"), TraceMode::stdout);
    EXPECT_EQ(mode_of("hftrace::basecall_service::BasecallClient"), TraceMode::off);
}

TEST(TraceConfiguration, OnlyExactEntriesSwitchOnHftraceDomains) {
    configure("hftrace::* stdout\nhftrace::ipc_tools::RequestBroker stderr\n");
    EXPECT_EQ(mode_of("hftrace::ipc_tools::RequestBroker"), TraceMode::stderr);
    EXPECT_EQ(mode_of("hftrace::ipc_tools::ConnectionInfo"), TraceMode::off);
    EXPECT_EQ(mode_of("hftrace::"), TraceMode::off);
}

TEST(TraceConfiguration, ConfiguringReplacesEarlierEntries) {
    configure("first stdout\n");
    configure("second stdout\n");
    EXPECT_EQ(mode_of("first"), TraceMode::off);
    EXPECT_EQ(mode_of("second"), TraceMode::stdout);
}

TEST(TraceConfiguration, EnabledDomainListUsesTheDefaultMode) {
    testability::set_default_trace_mode(TraceMode::stderr);
    testability::set_enabled_trace_domains(" one ,two words,, prefix::* ,");
    EXPECT_EQ(mode_of("one"), TraceMode::stderr);
    EXPECT_EQ(mode_of("two words"), TraceMode::stderr);
    EXPECT_EQ(mode_of("two"), TraceMode::off);
    EXPECT_EQ(mode_of("prefix::X"), TraceMode::stderr);
    EXPECT_EQ(mode_of(""), TraceMode::off);
}

TEST(TraceConfiguration, EntriesStoredWithModeOffCountAsAbsentOrSwitchOff) {
    configure("x::* stdout\nx::y::* stdout\n");
    // Adds to what is there: configure_trace_domains_impl clears nothing.
    testability::set_default_trace_mode(TraceMode::off);
    TraceConfiguration::instance().add_trace_domain_mode("x::exact", TraceMode::off);
    TraceConfiguration::instance().add_trace_domain_mode("x::z::*", TraceMode::off);
    EXPECT_EQ(mode_of("x::exact"), TraceMode::stdout);  // falls through to the prefix
    EXPECT_EQ(mode_of("x::z::Q"), TraceMode::off);      // longest prefix says off
    EXPECT_EQ(mode_of("x::y::Q"), TraceMode::stdout);

    testability::set_enabled_trace_domains("m::*, m::n::*");
    EXPECT_EQ(mode_of("m::n::Q"), TraceMode::off);
}

TEST(TraceConfiguration, UnreadableFileLeavesNoEntries) {
    configure("kept stdout\n");
    vemla_test::CapturedLog log;
    testability::configure_trace_domains(std::string("/nonexistent/folder/trace.cfg"));
    EXPECT_EQ(mode_of("kept"), TraceMode::off);
    EXPECT_NE(log.text().find("Could not read trace configuration file: /nonexistent/folder/trace.cfg"),
              std::string::npos)
            << log.text();
    // An empty path changes nothing.
    configure("kept stdout\n");
    testability::configure_trace_domains(std::string());
    EXPECT_EQ(mode_of("kept"), TraceMode::stdout);
}

}  // namespace
