#include "vemla/status_mapping.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using basecall_service::ClientStatus;
using basecall_service::ConnectionError;
using vemla::ConnectionStatus;
using vemla::Result;

namespace {

TEST(StatusMapping, EngineStatusesKeepTheirNumbersAndNames) {
    for (int32_t value = 0; value <= 7; ++value) {
        const auto status = static_cast<ClientStatus>(value);
        EXPECT_EQ(vemla::to_string(vemla::to_connection_status(status)), basecall_service::to_string(status));
    }
    try {
        vemla::to_connection_status(static_cast<ClientStatus>(8));
        FAIL() << "status 8 was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "unrecognised basecall_service::ClientStatus value");
    }
}

// Every error but the first has the result of the same name.
TEST(StatusMapping, ConnectionErrorsBecomeResultsOfTheSameName) {
    EXPECT_EQ(vemla::to_result(ConnectionError::no_error), Result::success);
    for (int32_t value = 1; value <= 11; ++value) {
        const auto error = static_cast<ConnectionError>(value);
        EXPECT_EQ(vemla::to_string(vemla::to_result(error)), basecall_service::to_string(error));
    }
    try {
        vemla::to_result(static_cast<ConnectionError>(12));
        FAIL() << "error 12 was accepted";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "unrecognised ConnectionError value");
    }
}

}  // namespace
