#pragma once

#include <functional>
#include <string>

#include "common/copy_and_move_disabled.h"

namespace common {
namespace diagnostics {
namespace tracing {

// One-time set-up of tracing for the process: chain the setters, then
// initialise(). Only the first initialise() has any effect; values set later
// are stored and never used.
class AbstractContextBuilder : private common::copy_and_move_disabled<AbstractContextBuilder> {
public:
    virtual AbstractContextBuilder& with_custom_trace_writer(std::function<void(const std::string&)> writer) = 0;
    virtual AbstractContextBuilder& with_trace_domains_file(std::string file_name) = 0;
    // Ignored when ZEB_VEMLA_TRACE_FOLDER is set.
    virtual AbstractContextBuilder& using_trace_output_folder(std::string folder) = 0;
    // Negative ids are ignored.
    virtual AbstractContextBuilder& with_trace_file_unique_id(int id) = 0;
    // Only ids made of ASCII letters, digits, '.', '_' and '-' are taken.
    virtual AbstractContextBuilder& with_trace_file_unique_id(std::string id) = 0;
    virtual void initialise() = 0;

protected:
    AbstractContextBuilder() = default;
    ~AbstractContextBuilder() = default;
};

// The process-wide builder.
AbstractContextBuilder& context();

}  // namespace tracing
}  // namespace diagnostics
}  // namespace common
