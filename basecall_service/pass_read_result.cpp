#include "basecall_service/pass_read_result.h"

#include <stdexcept>

namespace basecall_service {

std::string to_string(PassReadResult result) {
    switch (result) {
        case PassReadResult::success: return "success";
        case PassReadResult::not_accepting_reads: return "not_accepting_reads";
        case PassReadResult::queue_full: return "queue_full";
    }
    throw std::runtime_error("unrecognised PassReadResult");
}

std::ostream& operator<<(std::ostream& stream, PassReadResult result) {
    return stream << to_string(result);
}

}  // namespace basecall_service
