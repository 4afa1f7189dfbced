#pragma once

// How the API turns the messaging layer's exceptions into result codes.

#include "vemla/results.h"

#include <functional>
#include <string>

namespace vemla {

// Runs `query` and returns its result. When it throws a std::exception, the
// exception becomes a code (time-out, bad request, bad reply, invalid
// response; anything else is `failed`) and `on_error` receives its text
// first. Other exceptions pass through.
Result get_result(const std::function<Result()>& query, const std::function<void(std::string)>& on_error);

}  // namespace vemla
