#include "common/time_utils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <regex>
#include <thread>
#include <vector>

using namespace common;

TEST(TimeConversion, GmtimeMatchesKnownCalendarValues) {
    const time_t moment = 1614834367;  // 2021-03-04 05:06:07 UTC
    const struct tm utc = gmtimeThreadsafe(&moment);
    EXPECT_EQ(utc.tm_year, 121);
    EXPECT_EQ(utc.tm_mon, 2);
    EXPECT_EQ(utc.tm_mday, 4);
    EXPECT_EQ(utc.tm_hour, 5);
    EXPECT_EQ(utc.tm_min, 6);
    EXPECT_EQ(utc.tm_sec, 7);
    EXPECT_EQ(utc.tm_wday, 4);
    EXPECT_EQ(utc.tm_yday, 62);
    EXPECT_EQ(timegm(const_cast<struct tm*>(&utc)), moment);
}

TEST(TimeConversion, LocaltimeRoundTripsThroughMktime) {
    const time_t moment = 1700000000;
    struct tm local = localtimeThreadsafe(&moment);
    EXPECT_EQ(mktime(&local), moment);
}

TEST(TimeConversion, UnrepresentableTimeDoesNotCrash) {
    const time_t huge = LLONG_MAX;
    const struct tm utc = gmtimeThreadsafe(&huge);
    const struct tm local = localtimeThreadsafe(&huge);
    EXPECT_EQ(utc.tm_year, 0);
    EXPECT_EQ(utc.tm_mday, 0);
    EXPECT_EQ(local.tm_year, 0);
}

TEST(TimeConversion, ConcurrentCallersGetTheirOwnResults) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            const time_t moment = 86400 * static_cast<time_t>(t);  // midnight of 1970-01-(1+t)
            for (int i = 0; i < 2000; ++i) {
                if (gmtimeThreadsafe(&moment).tm_mday != 1 + t) ++wrong[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(8, 0));
}

TEST(CurrentDateTime, FormatAndAgreementWithTheClock) {
    const time_t before = time(nullptr);
    const std::string text = currentDateTime();
    const time_t after = time(nullptr);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, std::regex(R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}))")))
            << text;
    struct tm local {};
    local.tm_year = std::stoi(parts[1]) - 1900;
    local.tm_mon = std::stoi(parts[2]) - 1;
    local.tm_mday = std::stoi(parts[3]);
    local.tm_hour = std::stoi(parts[4]);
    local.tm_min = std::stoi(parts[5]);
    local.tm_sec = std::stoi(parts[6]);
    local.tm_isdst = -1;
    const time_t parsed = mktime(&local);
    EXPECT_GE(parsed, before);
    EXPECT_LE(parsed, after);
}
