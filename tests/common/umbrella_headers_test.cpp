// Each of these headers must on its own give callers the whole of its
// service; only that one project header is included here on purpose.
#include "common/logger.h"
#include "common/trace.h"

#include <cstdlib>

#include <boost/log/attributes/attribute_set.hpp>
#include <boost/log/attributes/attribute_value_set.hpp>
#include <boost/log/attributes/constant.hpp>
#include <gtest/gtest.h>

namespace {

namespace logging = common::logging;
namespace sev = common::logging::attributes;

bool passes(const boost::log::filter& filter, sev::SeverityLevel level) {
    boost::log::attribute_set record_attributes;
    record_attributes["Severity"] = boost::log::attributes::constant<sev::SeverityLevel>(level);
    const boost::log::attribute_set empty;
    boost::log::attribute_value_set values(record_attributes, empty, empty);
    values.freeze();
    return filter(values);
}

TEST(LoggingHeader, GivesFiltersFormatterAndLoggerGroup) {
    EXPECT_TRUE(passes(logging::DefineSeverityFilter({sev::warning}), sev::warning));
    EXPECT_FALSE(passes(logging::DefineSeverityFilter({sev::warning}), sev::info));
    EXPECT_FALSE(passes(logging::DefineRejectFilter(), sev::error));

    EXPECT_EQ(logging::expressions::detail::shorten_pretty_function("virtual void ContextBuilder::initialise()"),
              "ContextBuilder::initialise");

    const logging::LoggerGroup group;
    EXPECT_FALSE(group.GetLoggerOptions().sinks[logging::error_console].enabled);
    EXPECT_EQ(logging::LoggerGroup::FILE_ROTATION_SIZE, 5242880u);
}

TEST(TracingHeader, GivesTheTestOperations) {
    EXPECT_EQ(common::diagnostics::tracing::testability::environment_config_exists(),
              std::getenv("ZEB_VEMLA_TRACE_CONFIG") != nullptr);
}

}  // namespace
