#include "zip/dos_time.h"

#include <ctime>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace korbel {
namespace {

// Seconds since 1970 of a local wall-clock time, through the platform's own
// conversion, so the expectations hold in any time zone. isdst -1 lets the
// zone's rules decide; 0 reads the time as standard time.
std::int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second,
                          int isdst = -1) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = isdst;
  return platform::FromLocalTime(&local);
}

constexpr std::uint32_t Dos(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(month) << 21 |
         static_cast<std::uint32_t>(day) << 16 | static_cast<std::uint32_t>(hour) << 11 |
         static_cast<std::uint32_t>(minute) << 5 | static_cast<std::uint32_t>(second / 2);
}

TEST(DosTimeTest, FieldsLandInTheirBits) {
  std::int64_t seconds = LocalSeconds(2024, 1, 15, 13, 45, 30);
  ASSERT_NE(seconds, -1);
  EXPECT_EQ(DosDateTimeFromSeconds(seconds), Dos(2024, 1, 15, 13, 45, 30));
  EXPECT_EQ(DosDateTimeFromSeconds(seconds), 0x582F6DAFu);
}

TEST(DosTimeTest, OddSecondsAreRaisedToTheNextEvenOne) {
  EXPECT_EQ(DosDateTimeFromSeconds(LocalSeconds(2024, 1, 15, 13, 45, 31)), Dos(2024, 1, 15, 13, 45, 32));
  // The rounding carries into the minute, hour and day.
  EXPECT_EQ(DosDateTimeFromSeconds(LocalSeconds(2023, 12, 31, 23, 59, 59)), Dos(2024, 1, 1, 0, 0, 0));
}

TEST(DosTimeTest, TimesBefore1980GiveTheDosEpoch) {
  EXPECT_EQ(DosDateTimeFromSeconds(LocalSeconds(1979, 6, 15, 12, 0, 0)), 0x210000u);
  EXPECT_EQ(DosDateTimeFromSeconds(LocalSeconds(1979, 12, 31, 23, 59, 58)), 0x210000u);
  EXPECT_EQ(DosDateTimeFromSeconds(0), 0x210000u);
  EXPECT_EQ(DosDateTimeFromSeconds(-86400 * 365), 0x210000u);
  EXPECT_EQ(DosDateTimeFromSeconds(LocalSeconds(1980, 1, 1, 0, 0, 0)), 0x210000u);
  EXPECT_EQ(DosDateTimeFromSeconds(LocalSeconds(1980, 1, 1, 0, 0, 2)), 0x210001u);
}

TEST(DosTimeTest, YearsAfter2107GiveTheLastDosTime) {
  std::int64_t seconds = LocalSeconds(2107, 12, 31, 23, 59, 58);
  ASSERT_NE(seconds, -1);
  EXPECT_EQ(DosDateTimeFromSeconds(seconds), kDosLast);
  EXPECT_EQ(DosDateTimeFromSeconds(seconds + 86400 * 400), kDosLast);
}

TEST(DosTimeTest, DosDateTimeReadsBackAsLocalStandardTime) {
  EXPECT_EQ(SecondsFromDosDateTime(Dos(2024, 1, 15, 13, 45, 30)), LocalSeconds(2024, 1, 15, 13, 45, 30, 0));
  EXPECT_EQ(SecondsFromDosDateTime(Dos(2024, 7, 15, 13, 45, 30)), LocalSeconds(2024, 7, 15, 13, 45, 30, 0));
  EXPECT_EQ(SecondsFromDosDateTime(kDosEpoch), LocalSeconds(1980, 1, 1, 0, 0, 0, 0));
}

TEST(DosTimeTest, EvenSecondsSurviveTheRoundTrip) {
  // Dates of many years, each at another month, day and time of day.
  for (int year = 1980; year <= 2037; ++year) {
    int month = 1 + year % 12, day = 1 + year % 28, hour = year % 24;
    int minute = (year * 7) % 60, second = (year * 2) % 60;
    std::int64_t seconds = LocalSeconds(year, month, day, hour, minute, second);
    ASSERT_NE(seconds, -1);
    std::uint32_t dos = DosDateTimeFromSeconds(seconds);
    EXPECT_EQ(dos, Dos(year, month, day, hour, minute, second)) << year;
    EXPECT_EQ(SecondsFromDosDateTime(dos), LocalSeconds(year, month, day, hour, minute, second, 0))
        << year;
  }
}

}  // namespace
}  // namespace korbel

namespace korbel {
namespace {

// The conversion keeps one standard offset per year: it must agree with the
// system's own reading of the fields with the daylight-saving flag 0, summer
// and winter, including fields that carry into the next day or month.
TEST(DosTimeCacheTest, AgreesWithTheSystemAcrossYearsAndSeasons) {
  for (std::uint32_t year = 0; year < 60; year += 7) {
    for (std::uint32_t month = 1; month <= 12; month += 3) {
      for (std::uint32_t hour : {0u, 2u, 13u, 23u, 31u}) {
        const std::uint32_t dos = year << 25 | month << 21 | 28u << 16 | hour << 11 | 59u << 5 | 29u;
        std::tm fields{};
        fields.tm_year = static_cast<int>(year) + 80;
        fields.tm_mon = static_cast<int>(month) - 1;
        fields.tm_mday = 28;
        fields.tm_hour = static_cast<int>(hour);
        fields.tm_min = 59;
        fields.tm_sec = 58;
        fields.tm_isdst = 0;
        EXPECT_EQ(SecondsFromDosDateTime(dos), platform::FromLocalTime(&fields)) << std::hex << dos;
      }
    }
  }
}

}  // namespace
}  // namespace korbel
