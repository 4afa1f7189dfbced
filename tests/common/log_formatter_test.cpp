#include "common/log_formatter.h"

#include <gtest/gtest.h>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/attributes/current_thread_id.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/optional.hpp>

#include "log_test_support.h"

using namespace common::logging;
using common::logging::expressions::detail::shorten_pretty_function;

namespace {

struct RecordSpec {
    boost::optional<boost::posix_time::ptime> timestamp;
    boost::optional<std::string> channel;
    boost::optional<int> severity;
    boost::optional<std::string> function;
    boost::optional<boost::log::attributes::current_thread_id::value_type> thread_id;
    std::string message;
};

// Builds a record holding exactly the given attributes (global and thread
// attributes of the core are set aside meanwhile) and formats it.
std::string format(const boost::log::formatter& formatter, const RecordSpec& spec) {
    auto core = boost::log::core::get();
    const auto saved_global = core->get_global_attributes();
    const auto saved_thread = core->get_thread_attributes();
    core->set_global_attributes({});
    core->set_thread_attributes({});
    vemla_test::RecordCollector collector;

    boost::log::attribute_set attrs;
    using boost::log::attributes::make_constant;
    if (spec.timestamp) attrs.insert("TimeStamp", make_constant(*spec.timestamp));
    if (spec.channel) attrs.insert("Channel", make_constant(*spec.channel));
    if (spec.severity) attrs.insert("Severity", make_constant(static_cast<attributes::SeverityLevel>(*spec.severity)));
    if (spec.function) attrs.insert("Function", make_constant(*spec.function));
    if (spec.thread_id) attrs.insert("ThreadID", make_constant(*spec.thread_id));

    boost::log::record rec = core->open_record(attrs);
    core->set_global_attributes(saved_global);
    core->set_thread_attributes(saved_thread);
    if (!rec) {
        ADD_FAILURE() << "record not opened";
        return {};
    }
    {
        boost::log::record_ostream stream(rec);
        stream << spec.message;
    }
    const boost::log::record_view view = rec.lock();
    std::string out;
    boost::log::formatting_ostream stream(out);
    formatter(view, stream);
    stream.flush();
    return out;
}

RecordSpec full_record() {
    RecordSpec spec;
    spec.timestamp = boost::posix_time::ptime(
            boost::gregorian::date(2021, 3, 4),
            boost::posix_time::time_duration(5, 6, 7) + boost::posix_time::microseconds(89012));
    spec.channel = "info";
    spec.severity = attributes::warning;
    spec.function =
            "virtual basecall_service::RequestBrokerAdapter *basecall_service::ConnectionProtocol::"
            "establish_server_connection(const ipc_tools::ConnectionInfo &, uint32_t)";
    spec.thread_id = boost::log::attributes::current_thread_id::value_type(0x1234abcdULL);
    spec.message = "hello [world] {x}";
    return spec;
}

// Independent assembly of the expected line from the five pieces.
std::string expected_line(unsigned index,
                          const std::string& ts,
                          const std::string& channel,
                          const std::string& severity,
                          const std::string& function,
                          const std::string& thread,
                          const std::string& message) {
    std::string line;
    if (index & 16) line += ts;
    if (index & 8) line += "[vemla/" + channel + "] ";
    if (index & 4) line += "{" + severity + "} ";
    if (index & 2) line += function + ": ";
    if (index & 1) line += "(thread: " + thread + ") ";
    return line + message;
}

FormatterSettings settings_for(unsigned index) {
    return FormatterSettings{(index & 16) != 0, (index & 8) != 0, (index & 4) != 0, (index & 2) != 0, (index & 1) != 0};
}

}  // namespace

TEST(PrettyFunction, ShortensMemberFreeAndLambdaSignatures) {
    EXPECT_EQ(shorten_pretty_function("virtual void ContextBuilder::initialise()"), "ContextBuilder::initialise");
    EXPECT_EQ(shorten_pretty_function("void common::logging::LoggerGroup::updateStreamSink(common::logging::Loggers, "
                                      "common::logging::SinkOptions &&)"),
              "common::logging::LoggerGroup::updateStreamSink");
    EXPECT_EQ(shorten_pretty_function(
                      "unordered_set<std::__1::string> common::getReadIdWhitelist(const std::__1::string &)"),
              "common::getReadIdWhitelist");
    EXPECT_EQ(shorten_pretty_function("virtual basecall_service::RequestBrokerAdapter *basecall_service::"
                                      "ConnectionProtocol::establish_server_connection(const "
                                      "ipc_tools::ConnectionInfo &, uint32_t)"),
              "*basecall_service::ConnectionProtocol::establish_server_connection");
    EXPECT_EQ(shorten_pretty_function(
                      "auto (anonymous namespace)::(anonymous class)::operator()(const std::exception &) const"),
              "");
}

TEST(PrettyFunction, BracketAndParenthesisRules) {
    // No '(' at all: written whole.
    EXPECT_EQ(shorten_pretty_function("std::vector<int> ns::thing"), "std::vector<int> ns::thing");
    // The last '>' belongs to operator->: everything from the first '<' up to it goes.
    EXPECT_EQ(shorten_pretty_function("T* ns::Ptr<T>::operator->() const"), "ns::Ptr<>");
    // Last '>' before the first '<': the rest after '<' is erased.
    EXPECT_EQ(shorten_pretty_function("a>b ns::f<x(int)"), "ns::f<");
    // '<' without any '>': unchanged apart from the return type.
    EXPECT_EQ(shorten_pretty_function("bool ns::operator<(int)"), "ns::operator<");
    EXPECT_EQ(shorten_pretty_function(""), "");
}

TEST(LogFormatter, AllThirtyTwoLayoutsOnAFullRecord) {
    const RecordSpec spec = full_record();
    for (unsigned index = 0; index < 32; ++index) {
        const std::string line = format(CreateLogFormatters(settings_for(index)), spec);
        EXPECT_EQ(line, expected_line(index, "2021-03-04 05:06:07.089012 ", "info", "warning",
                                      "*basecall_service::ConnectionProtocol::establish_server_connection",
                                      "0x000000001234abcd", spec.message))
                << "layout " << index;
    }
}

TEST(LogFormatter, AllThirtyTwoLayoutsOnARecordWithoutAttributes) {
    RecordSpec bare;
    bare.message = "only the message";
    for (unsigned index = 0; index < 32; ++index) {
        const std::string line = format(CreateLogFormatters(settings_for(index)), bare);
        EXPECT_EQ(line, expected_line(index, "", "", "", "", "", bare.message)) << "layout " << index;
    }
}

TEST(LogFormatter, AllThirtyTwoLayoutsWithOddValues) {
    RecordSpec odd = full_record();
    odd.severity = 9;
    odd.function = "auto (anonymous namespace)::(anonymous class)::operator()(const std::exception &) const";
    odd.timestamp = boost::posix_time::ptime(boost::gregorian::date(1999, 12, 31),
                                             boost::posix_time::time_duration(23, 59, 59));
    odd.channel = std::string();
    odd.message = "";
    for (unsigned index = 0; index < 32; ++index) {
        const std::string line = format(CreateLogFormatters(settings_for(index)), odd);
        EXPECT_EQ(line,
                  expected_line(index, "1999-12-31 23:59:59.000000 ", "", "unknown", "", "0x000000001234abcd", ""))
                << "layout " << index;
    }
}

TEST(LogFormatter, MistypedAttributesCountAsAbsent) {
    auto core = boost::log::core::get();
    RecordSpec spec;
    spec.message = "m";
    // Severity held as a plain int and Channel as an int: neither prints.
    const auto saved_global = core->get_global_attributes();
    core->set_global_attributes({});
    vemla_test::RecordCollector collector;
    boost::log::attribute_set attrs;
    attrs.insert("Severity", boost::log::attributes::make_constant(4));
    attrs.insert("Channel", boost::log::attributes::make_constant(4));
    attrs.insert("Function", boost::log::attributes::make_constant(4));
    boost::log::record rec = core->open_record(attrs);
    core->set_global_attributes(saved_global);
    ASSERT_TRUE(rec);
    {
        boost::log::record_ostream stream(rec);
        stream << "m";
    }
    const auto view = rec.lock();
    std::string out;
    boost::log::formatting_ostream stream(out);
    CreateLogFormatters(FormatterSettings{false, true, true, true, false})(view, stream);
    stream.flush();
    EXPECT_EQ(out, "[vemla/] {} : m");
}
