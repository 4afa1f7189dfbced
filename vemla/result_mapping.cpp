#include "vemla/results.h"

#include "ipc_tools/broker_errors.h"

#include <exception>

namespace vemla {

Result get_result(const std::function<Result()>& query, const std::function<void(std::string)>& on_error) {
    Result result = Result::failed;
    std::string message;
    try {
        return query();
    } catch (const ipc_tools::TimeoutError& error) {
        result = Result::timed_out;
        message = error.what();
    } catch (const ipc_tools::BadRequest& error) {
        result = Result::bad_request;
        message = error.what();
    } catch (const ipc_tools::BadReply& error) {
        result = Result::bad_reply;
        message = error.what();
    } catch (const ipc_tools::InvalidResponse& error) {
        result = Result::invalid_response;
        message = error.what();
    } catch (const std::exception& error) {
        result = Result::failed;
        message = error.what();
    }
    on_error(std::move(message));
    return result;
}

}  // namespace vemla
