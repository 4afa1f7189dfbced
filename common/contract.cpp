#include "common/contract.h"

#include <stdexcept>

#include "common/logger.h"

namespace common {
namespace contract {

void expects(bool condition, std::string message) {
    if (condition) {
        return;
    }
    std::string text = "Contract violation.";
    if (!message.empty()) {
        text += ' ';
        text += message;
    }
    // Logged before the throw so the violation is visible even when caught.
    logging::write_log_record(logging::error::get(), "void common::contract::expects(bool, std::string)", text);
    throw std::logic_error(text);
}

}  // namespace contract
}  // namespace common
