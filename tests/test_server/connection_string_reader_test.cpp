#include "test_server/connection_string_reader.h"

#include <gtest/gtest.h>

using test_server::read_connection_string;

TEST(ConnectionStringReader, ReadsConfigAndEveryPairOfAClientWrittenString) {
    const auto result = read_connection_string(
            "cfg:>timeout_interval=15000>client_name=me>barcode_kits=KIT-A KIT-B>detect_barcodes=1"
            ">min_score_barcode_front=60.000000>align_ref=/data/ref.mmi>do_read_splitting=0");
    ASSERT_TRUE(result.request) << result.error;
    const auto& request = *result.request;
    EXPECT_EQ(request.config, "cfg");
    EXPECT_EQ(request.options.size(), 7u);
    EXPECT_EQ(request.number("timeout_interval"), 15000u);
    EXPECT_EQ(request.text("client_name"), "me");
    EXPECT_TRUE(request.flag("detect_barcodes"));
    EXPECT_FALSE(request.flag("do_read_splitting", true));
    EXPECT_EQ(request.text("min_score_barcode_front"), "60.000000");
    EXPECT_EQ(request.text("align_ref"), "/data/ref.mmi");
    EXPECT_EQ(request.barcode_kits(), (std::vector<std::string>{"KIT-A", "KIT-B"}));
}

TEST(ConnectionStringReader, ValuesMayBeEmptyOrHoldEqualsSignsAndLaterDuplicatesWin) {
    const auto result = read_connection_string("cfg:>a=1>b=>c=x=y>a=2");
    ASSERT_TRUE(result.request) << result.error;
    EXPECT_EQ(result.request->text("a"), "2");
    EXPECT_EQ(result.request->text("b", "unset"), "");
    EXPECT_EQ(result.request->text("c"), "x=y");
}

TEST(ConnectionStringReader, AConfigAloneIsAValidRegistration) {
    const auto result = read_connection_string("cfg:");
    ASSERT_TRUE(result.request) << result.error;
    EXPECT_EQ(result.request->config, "cfg");
    EXPECT_TRUE(result.request->options.empty());
    EXPECT_TRUE(result.request->barcode_kits().empty());
}

TEST(ConnectionStringReader, RefusesMalformedStringsWithAReason) {
    for (const std::string text : {"", "cfg", ":>a=1", "cfg:a=1", "cfg:>=1", "cfg:>a", "cfg:>a=1>", "cfg:>a=1>b"}) {
        const auto result = read_connection_string(text);
        EXPECT_FALSE(result.request) << text;
        EXPECT_FALSE(result.error.empty()) << text;
    }
}

TEST(ConnectionStringReader, TypedLookupsFallBackOnTextsThatDoNotRead) {
    const auto result = read_connection_string("cfg:>n=12abc>m=>f=yes>t=true>big=99999999999999999999");
    ASSERT_TRUE(result.request);
    const auto& request = *result.request;
    EXPECT_EQ(request.number("n", 7), 7u);
    EXPECT_EQ(request.number("m", 7), 7u);
    EXPECT_EQ(request.number("big", 7), 7u);
    EXPECT_EQ(request.number("absent", 3), 3u);
    EXPECT_TRUE(request.flag("f", true));
    EXPECT_FALSE(request.flag("f", false));
    EXPECT_TRUE(request.flag("t"));
}
