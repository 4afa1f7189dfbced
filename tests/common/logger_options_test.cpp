#include "common/logger.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace common::logging;
using attributes::SeverityLevel;
namespace sev = common::logging::attributes;

namespace {

struct SinkRow {
    bool enabled;
    std::vector<SeverityLevel> levels;
    // timestamp, channel, severity, function, thread id
    std::array<bool, 5> fields;
};

std::array<bool, 5> fields_of(const FormatterSettings& s) {
    return {s.show_timestamp, s.show_channel, s.show_severity, s.show_function, s.show_thread_id};
}

void expect_sink(const SinkOptions& sink, const SinkRow& row, const char* label) {
    EXPECT_EQ(sink.enabled, row.enabled) << label;
    EXPECT_EQ(sink.severities, row.levels) << label;
    EXPECT_EQ(fields_of(sink.formatter_settings), row.fields) << label;
}

const std::array<bool, 5> TS_SEV_FN{true, false, true, true, false};
const std::array<bool, 5> TS_CH_FN_TH{true, true, false, true, true};
const std::array<bool, 5> CH_FN{false, true, false, true, false};
const std::array<bool, 5> CH_FN_TH{false, true, false, true, true};
const std::array<bool, 5> NONE{false, false, false, false, false};

}  // namespace

TEST(LoggerOptions, DefaultConstructedValues) {
    const SinkOptions sink;
    expect_sink(sink, {false, {}, TS_SEV_FN}, "sink");
    EXPECT_TRUE(sink.custom_traces.empty());
    const LoggerOptions options;
    for (const auto& s : options.sinks) expect_sink(s, {false, {}, TS_SEV_FN}, "entry");
    EXPECT_TRUE(options.log_folder.empty());
    EXPECT_TRUE(options.core_log_name.empty());
    EXPECT_TRUE(options.verbose_log_name.empty());
}

TEST(LoggerOptions, PresetsTable) {
    const auto library = LoggerOptionsUtils::GetDefaultLibraryLogOptions();
    expect_sink(library.sinks[core_file], {false, {}, TS_SEV_FN}, "library core");
    expect_sink(library.sinks[error_console], {true, {sev::warning, sev::error}, CH_FN}, "library stderr");
    expect_sink(library.sinks[output_console], {true, {sev::message}, NONE}, "library stdout");
    expect_sink(library.sinks[verbose_file], {false, {}, TS_SEV_FN}, "library verbose");
    EXPECT_TRUE(library.log_folder.empty());
    EXPECT_TRUE(library.core_log_name.empty());

    const auto init = LoggerOptionsUtils::GetDefaultInitData();
    expect_sink(init.sinks[core_file], {false, {}, TS_CH_FN_TH}, "init core");
    expect_sink(init.sinks[error_console], {true, {sev::error, sev::warning}, CH_FN_TH}, "init stderr");
    expect_sink(init.sinks[output_console], {true, {sev::info, sev::message}, CH_FN_TH}, "init stdout");
    expect_sink(init.sinks[verbose_file], {false, {}, TS_CH_FN_TH}, "init verbose");
    EXPECT_TRUE(init.log_folder.empty());
    EXPECT_EQ(init.core_log_name, "core");
    EXPECT_EQ(init.verbose_log_name, "core_verbose");

    const std::array<bool, 5> ts_ch{true, true, false, false, false};
    const auto plain = LoggerOptionsUtils::GetDefaultVemlaLogOptions(false, false, "");
    expect_sink(plain.sinks[core_file], {true, {sev::message, sev::info, sev::warning, sev::error}, ts_ch}, "core");
    expect_sink(plain.sinks[error_console], {true, {sev::warning, sev::error}, CH_FN}, "stderr");
    expect_sink(plain.sinks[output_console], {true, {sev::message}, NONE}, "stdout");
    expect_sink(plain.sinks[verbose_file], {false, {}, TS_SEV_FN}, "verbose");

    const auto verbose = LoggerOptionsUtils::GetDefaultVemlaLogOptions(true, true, "");
    expect_sink(verbose.sinks[output_console], {false, {}, NONE}, "quiet stdout");
    expect_sink(
            verbose.sinks[verbose_file],
            {true, {sev::verbose, sev::message, sev::info, sev::warning, sev::error}, {true, true, true, true, false}},
            "verbose logs");
    EXPECT_TRUE(verbose.sinks[verbose_file].custom_traces.empty());
}

TEST(LoggerOptions, CustomTraceListSplitting) {
    using Set = std::unordered_set<std::string>;
    const auto quiet = LoggerOptionsUtils::GetDefaultVemlaLogOptions(true, false, "alpha,beta");
    expect_sink(quiet.sinks[output_console], {false, {}, NONE}, "stdout");
    expect_sink(quiet.sinks[verbose_file], {true, {}, {true, true, true, true, false}}, "verbose");
    EXPECT_EQ(quiet.sinks[verbose_file].custom_traces, (Set{"alpha", "beta"}));

    const std::pair<const char*, Set> cases[] = {
            {"a,,b", {"a", "", "b"}},  {"a,b,", {"a", "b", ""}}, {",", {""}},
            {" a , a", {" a ", " a"}}, {"x,x,x", {"x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoggerOptionsUtils::GetDefaultVemlaLogOptions(false, true, c.first).sinks[verbose_file].custom_traces,
                  c.second)
                << c.first;
    }
}

TEST(LoggerOptions, AddAndRemoveSeverity) {
    LoggerOptions options;
    options.sinks[core_file].severities = {sev::error};  // listed but disabled
    LoggerOptionsUtils::AddSeverity(options, sev::error, {core_file});
    EXPECT_FALSE(options.sinks[core_file].enabled);

    LoggerOptionsUtils::AddSeverity(options, sev::info, {error_console, verbose_file});
    LoggerOptionsUtils::AddSeverity(options, sev::info, {error_console});
    EXPECT_EQ(options.sinks[error_console].severities, std::vector<SeverityLevel>{sev::info});
    EXPECT_TRUE(options.sinks[error_console].enabled);
    EXPECT_TRUE(options.sinks[verbose_file].enabled);
    EXPECT_FALSE(options.sinks[output_console].enabled);

    // Only the named sinks are touched.
    LoggerOptionsUtils::RemoveSeverity(options, sev::info, std::vector<Loggers>{verbose_file});
    EXPECT_FALSE(options.sinks[verbose_file].enabled);
    EXPECT_TRUE(options.sinks[error_console].enabled);

    // An empty optional means every sink; an already empty sink is disabled too.
    options.sinks[output_console].enabled = true;
    options.sinks[core_file].severities = {sev::error, sev::info, sev::error};
    options.sinks[core_file].enabled = true;
    LoggerOptionsUtils::RemoveSeverity(options, sev::error, boost::none);
    EXPECT_EQ(options.sinks[core_file].severities, std::vector<SeverityLevel>{sev::info});
    EXPECT_TRUE(options.sinks[core_file].enabled);
    EXPECT_TRUE(options.sinks[error_console].enabled);
    EXPECT_FALSE(options.sinks[output_console].enabled);
}

TEST(LoggerOptions, AddAndRemoveCustomTrace) {
    LoggerOptions options;
    LoggerOptionsUtils::AddCustomTrace(options, "tracing", {output_console});
    EXPECT_TRUE(options.sinks[output_console].enabled);
    EXPECT_EQ(options.sinks[output_console].custom_traces.count("tracing"), 1u);

    options.sinks[output_console].enabled = false;
    LoggerOptionsUtils::AddCustomTrace(options, "tracing", {output_console});  // already there
    EXPECT_FALSE(options.sinks[output_console].enabled);

    options.sinks[output_console].enabled = true;
    options.sinks[output_console].severities = {sev::info};
    boost::optional<std::vector<Loggers>> all;
    LoggerOptionsUtils::RemoveCustomTrace(options, "tracing", all);
    EXPECT_TRUE(options.sinks[output_console].custom_traces.empty());
    EXPECT_TRUE(options.sinks[output_console].enabled);  // still has a level

    boost::optional<std::vector<Loggers>> some(std::vector<Loggers>{output_console});
    LoggerOptionsUtils::AddCustomTrace(options, "x", {output_console});
    LoggerOptionsUtils::RemoveSeverity(options, sev::info, some);
    EXPECT_TRUE(options.sinks[output_console].enabled);  // still has a trace
    LoggerOptionsUtils::RemoveCustomTrace(options, "x", some);
    EXPECT_FALSE(options.sinks[output_console].enabled);
}
