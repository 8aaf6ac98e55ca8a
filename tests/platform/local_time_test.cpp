#include <gtest/gtest.h>

#include <time.h>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "tests/support/host_tools.h"

namespace platform {
namespace {

TEST(LocalTime, CurrentTimeIsTheSystemClock) {
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = CurrentTime();
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
  EXPECT_GT(now, 1577836800) << "later than 2020-01-01";
}

TEST(LocalTime, BrokenDownTimeConvertsBack) {
  for (std::int64_t seconds : {std::int64_t{86400} * 366, std::int64_t{951782400}, std::int64_t{1700000000},
                               std::int64_t{2000000000}, std::int64_t{4102444800}}) {
    std::tm local{};
    ASSERT_TRUE(ToLocalTime(seconds, &local)) << seconds;
    EXPECT_GE(local.tm_year, 70) << seconds;
    EXPECT_GE(local.tm_mday, 1);
    EXPECT_LE(local.tm_mday, 31);
    std::tm copy = local;
    EXPECT_EQ(FromLocalTime(&copy), seconds) << seconds;
  }
}

TEST(LocalTime, LeapDayIsKept) {
  // 2000-02-29 12:00 UTC is the 29th of February in every time zone.
  std::tm local{};
  ASSERT_TRUE(ToLocalTime(951825600, &local));
  EXPECT_EQ(local.tm_year, 100);
  EXPECT_EQ(local.tm_mon, 1);
  EXPECT_EQ(local.tm_mday, 29);
}

TEST(LocalTime, FromLocalTimeNormalisesOverflowingFields) {
  std::tm local{};
  ASSERT_TRUE(ToLocalTime(1700000000, &local));
  local.tm_sec += 3600;
  local.tm_isdst = -1;
  EXPECT_EQ(FromLocalTime(&local), 1700000000 + 3600);
  EXPECT_LT(local.tm_sec, 60);
}

TEST(LocalTime, TimesBefore1970AndAfter2038Convert) {
  for (std::int64_t seconds : {std::int64_t{-315619200}, std::int64_t{-1}, std::int64_t{2147483648},
                               std::int64_t{2209032000}, std::int64_t{4354819200}}) {
    std::tm local{};
    ASSERT_TRUE(ToLocalTime(seconds, &local)) << seconds;
    std::tm copy = local;
    EXPECT_EQ(FromLocalTime(&copy), seconds) << seconds;
  }
  std::tm local{};
  ASSERT_TRUE(ToLocalTime(-315619200 + 43200, &local));  // noon, 1960-01-01 UTC
  EXPECT_EQ(local.tm_year, 60);
  ASSERT_TRUE(ToLocalTime(4102444800 + 43200, &local));  // noon, 2100-01-01 UTC
  EXPECT_EQ(local.tm_year, 200);
  EXPECT_EQ(local.tm_mon, 0);
  EXPECT_EQ(local.tm_yday, local.tm_mday - 1);
}

// Shells such as MSYS2 and Git-Bash set TZ, which the Windows C runtime
// reads in its own way (a zone name there means UTC). Local time there comes
// from the system's zone, whatever TZ says.
TEST(LocalTime, WindowsIgnoresTheTzVariable) {
  if (testing_support::IsPosixBuild()) GTEST_SKIP() << "the C library's TZ is the zone on POSIX";
  const std::int64_t seconds = 1721044800;  // 2024-07-15 12:00 UTC
  std::tm before{};
  ASSERT_TRUE(ToLocalTime(seconds, &before));
  static char setting[][24] = {"TZ=XYZ-7", "TZ=Europe/Berlin", "TZ=ABC+11DEF"};
  for (char* tz : setting) {
    putenv(tz);
    tzset();
    std::tm after{};
    ASSERT_TRUE(ToLocalTime(seconds, &after)) << tz;
    EXPECT_EQ(after.tm_hour, before.tm_hour) << tz;
    EXPECT_EQ(after.tm_mday, before.tm_mday) << tz;
    std::tm copy = after;
    EXPECT_EQ(FromLocalTime(&copy), seconds) << tz;
  }
  static char clear[] = "TZ=";
  putenv(clear);
  tzset();
}

TEST(LocalTime, UnrepresentableTimesFail) {
  std::tm local{};
  EXPECT_FALSE(ToLocalTime(INT64_MAX, &local));
  EXPECT_FALSE(ToLocalTime(0, nullptr));
  EXPECT_EQ(FromLocalTime(nullptr), -1);
}

}  // namespace
}  // namespace platform
