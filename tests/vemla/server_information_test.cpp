#include "vemla/server_information.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(ServerInformation, TheMemberIsWrittenCompactly) {
    const std::string state =
            "{\n  \"clients\": [1, 2],\n  \"ServerInformation\": {\n    \"name\": \"srv\",\n"
            "    \"versions\": [ 1, 2.5 ], \"up\": true\n  }\n}";
    EXPECT_EQ(vemla::server_query::server_information_from_state(state),
              "{\"name\":\"srv\",\"versions\":[1,2.5],\"up\":true}");
    EXPECT_EQ(vemla::server_query::server_information_from_state("{\"ServerInformation\": \"text\"}"), "\"text\"");
}

TEST(ServerInformation, StateWithoutItIsRefused) {
    for (const std::string state : {"{\"Other\": {}}", "[{\"ServerInformation\": 1}]", "not json", ""}) {
        try {
            vemla::server_query::server_information_from_state(state);
            ADD_FAILURE() << "accepted: " << state;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "ServerInformation field not found in internal state json.");
        }
    }
}

}  // namespace
