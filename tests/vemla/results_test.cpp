#include "vemla/vemla_client.h"

#include "ipc_tools/broker_errors.h"
#include "vemla/read.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using vemla::ConnectionStatus;
using vemla::PassReadResult;
using vemla::Read;
using vemla::Result;

namespace {

// Every value's text, in number order: the texts reach logs, the state JSON
// and the Python module, so each is pinned.
TEST(ResultTexts, EveryValueHasItsName) {
    const std::vector<std::string> results = {"success",
                                              "no_connection",
                                              "already_connected",
                                              "not_ready",
                                              "timed_out",
                                              "invalid_response",
                                              "basecall_config_unavailable",
                                              "barcode_kit_unavailable",
                                              "align_index_unavailable",
                                              "bed_file_unavailable",
                                              "align_index_no_seq",
                                              "file_load_timeout",
                                              "failed",
                                              "bad_request",
                                              "bad_reply"};
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(vemla::to_string(static_cast<Result>(i)), results[i]);
    }
    const std::vector<std::string> statuses = {
            "disconnected",     "preparing_connection", "loading_config", "loading_alignment_index",
            "loading_bed_file", "connecting",           "connected",      "error"};
    for (size_t i = 0; i < statuses.size(); ++i) {
        EXPECT_EQ(vemla::to_string(static_cast<ConnectionStatus>(i)), statuses[i]);
    }
    const std::vector<std::string> pass_results = {"success", "not_accepting_reads", "queue_full", "bad_read"};
    for (size_t i = 0; i < pass_results.size(); ++i) {
        EXPECT_EQ(vemla::to_string(static_cast<PassReadResult>(i)), pass_results[i]);
    }
    EXPECT_EQ(vemla::to_string(Read::HIGH_PRIORITY), "HIGH_PRIORITY");
    EXPECT_EQ(vemla::to_string(Read::MEDIUM_PRIORITY), "MEDIUM_PRIORITY");
    EXPECT_EQ(vemla::to_string(Read::LOW_PRIORITY), "LOW_PRIORITY");
}

TEST(ResultTexts, UnknownValuesAreRefused) {
    const auto message_of = [](auto call) {
        try {
            call();
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message_of([] { vemla::to_string(static_cast<Result>(15)); }), "unrecognised Result value");
    EXPECT_EQ(message_of([] { vemla::to_string(static_cast<Result>(-1)); }), "unrecognised Result value");
    EXPECT_EQ(message_of([] { vemla::to_string(static_cast<ConnectionStatus>(8)); }), "unrecognised connection status");
    EXPECT_EQ(message_of([] { vemla::to_string(static_cast<PassReadResult>(4)); }), "unrecognised PassReadResult");
    // A priority is reported, never refused.
    EXPECT_EQ(vemla::to_string(static_cast<Read::Priority>(3)), "invalid_priority_value");
    EXPECT_EQ(vemla::to_string(static_cast<Read::Priority>(-1)), "invalid_priority_value");
}

TEST(ResultTexts, StreamWritesTheBareTextOrNothing) {
    std::ostringstream stream;
    stream << Result::basecall_config_unavailable;
    EXPECT_EQ(stream.str(), "basecall_config_unavailable");

    std::ostringstream refused;
    refused << "x";
    EXPECT_THROW(refused << static_cast<ConnectionStatus>(42), std::runtime_error);
    EXPECT_EQ(refused.str(), "x");
}

TEST(Versions, NumbersAndTexts) {
    EXPECT_EQ(vemla::VemlaClient::get_api_version().text, "6.0.1");
    EXPECT_EQ(vemla::VemlaClient::get_data_wrappers_version().text, "1.1.0");
    const auto protocol = vemla::VemlaClient::get_protocol_version();
    EXPECT_EQ(protocol.text, "11.0.0");
    EXPECT_EQ(protocol.major, 11);

    const auto software = vemla::VemlaClient::get_software_version();
    EXPECT_EQ(software.major, 6);
    EXPECT_EQ(software.minor, 2);
    EXPECT_EQ(software.patch, 11);
    EXPECT_EQ(software.text.rfind("6.2.11+", 0), 0u) << software.text;
    EXPECT_GT(software.text.size(), 7u) << "the build identifier is missing";

    EXPECT_EQ(vemla::VersionTag(-1, 0, 12).text, "-1.0.12");
}

TEST(GetResult, ExceptionsBecomeCodesAndTheHandlerGetsTheText) {
    struct Case {
        std::function<Result()> query;
        Result expected;
        std::string text;
    };
    const std::vector<Case> cases = {
            {[] { return Result::align_index_no_seq; }, Result::align_index_no_seq, ""},
            {[]() -> Result { throw ipc_tools::TimeoutError("no reply"); }, Result::timed_out, "no reply"},
            {[]() -> Result { throw ipc_tools::BadRequest("refused"); }, Result::bad_request, "refused"},
            {[]() -> Result { throw ipc_tools::BadReply("garbled"); }, Result::bad_reply, "garbled"},
            {[]() -> Result { throw ipc_tools::InvalidResponse("wrong"); }, Result::invalid_response, "wrong"},
            {[]() -> Result { throw std::out_of_range("range"); }, Result::failed, "range"},
            {std::function<Result()>(), Result::failed, "bad_function_call"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> seen;
        EXPECT_EQ(vemla::get_result(c.query, [&](std::string text) { seen.push_back(std::move(text)); }), c.expected);
        if (c.text.empty()) {
            EXPECT_TRUE(seen.empty());
        } else {
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0], c.text);
        }
    }
    EXPECT_THROW(vemla::get_result([]() -> Result { throw 7; }, [](std::string) {}), int);
}

}  // namespace
