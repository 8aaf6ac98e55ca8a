#include "zip/format/dos_time.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "fs/file_info.h"
#include "platform/platform.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/crafted_zip.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

// Seconds since 1970 of a local wall-clock time, through the platform's own
// conversion, so the expectations hold in any time zone. isdst -1 lets the
// zone's rules decide; 0 reads the time as standard time.
std::int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second, int isdst = -1) {
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

// The edges of the DOS range and of the 32-bit seconds, in local time: DOS
// holds 1980 to 2107 and nothing clamps at 2038 in either direction.
TEST(DosTimeTest, YearsOnBothSidesOfTheLimits) {
  const struct {
    int year, month, day, hour, minute, second;
    std::uint32_t dos;  // 0: the fields themselves
  } cases[] = {
      {1960, 6, 15, 12, 0, 0, kDosEpoch}, {1979, 12, 31, 23, 59, 58, kDosEpoch},
      {1980, 1, 1, 0, 0, 0, 0},           {2038, 1, 19, 3, 14, 6, 0},
      {2038, 1, 19, 3, 14, 8, 0},         {2040, 7, 1, 12, 30, 0, 0},
      {2100, 1, 1, 0, 0, 0, 0},           {2107, 12, 31, 23, 59, 58, 0},
      {2108, 1, 1, 0, 0, 0, kDosLast},    {2200, 6, 1, 0, 0, 0, kDosLast},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.year);
    const std::int64_t seconds = LocalSeconds(c.year, c.month, c.day, c.hour, c.minute, c.second);
    ASSERT_NE(seconds, -1);
    const std::uint32_t fields = Dos(c.year, c.month, c.day, c.hour, c.minute, c.second);
    const std::uint32_t expected = c.dos != 0 ? c.dos : fields;
    EXPECT_EQ(DosDateTimeFromSeconds(seconds), expected);
    if (c.dos == 0) {
      EXPECT_EQ(SecondsFromDosDateTime(fields), seconds);
    }
  }
  EXPECT_GT(SecondsFromDosDateTime(Dos(2100, 1, 1, 0, 0, 0)), std::int64_t{4102444800} - 86400);
}

TEST(DosTimeTest, DosDateTimeReadsBackUnderTheZonesRules) {
  EXPECT_EQ(SecondsFromDosDateTime(Dos(2024, 1, 15, 13, 45, 30)), LocalSeconds(2024, 1, 15, 13, 45, 30));
  EXPECT_EQ(SecondsFromDosDateTime(Dos(2024, 7, 15, 13, 45, 30)), LocalSeconds(2024, 7, 15, 13, 45, 30));
  EXPECT_EQ(SecondsFromDosDateTime(kDosEpoch), LocalSeconds(1980, 1, 1, 0, 0, 0));
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
    EXPECT_EQ(SecondsFromDosDateTime(dos), LocalSeconds(year, month, day, hour, minute, second)) << year;
  }
}

}  // namespace
}  // namespace korbel

namespace korbel {
namespace {

// Sets the time zone of the process (and of the tools it starts) for a scope.
class ZoneScope {
 public:
  explicit ZoneScope(const std::string& zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    Set("TZ=" + zone);
  }
  ~ZoneScope() { Set(hadOld_ ? "TZ=" + old_ : std::string("TZ=")); }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  static void Set(const std::string& setting) {
    // putenv keeps the very buffer it is given.
    static std::string buffers[2];
    static int next = 0;
    std::string& buffer = buffers[next];
    next = 1 - next;
    buffer = setting;
    putenv(&buffer[0]);
    tzset();
  }
  bool hadOld_ = false;
  std::string old_;
};

bool HaveZone(const std::string& zone) {
  return zone == "UTC" || testing_support::FileExists("/usr/share/zoneinfo/" + zone);
}

struct ZoneCase {
  const char* zone;
  int year, month, day;  // at 12:00:00 local time
  std::int64_t utc;      // the same instant, from the zone database
};

// Summer and winter in zones north and south, and the years in which Moscow's
// standard offset changed (a per-year offset taken in January is wrong there
// by December).
const ZoneCase kZoneCases[] = {
    {"UTC", 2024, 1, 15, 1705320000},
    {"UTC", 2024, 7, 15, 1721044800},
    {"Europe/Berlin", 2024, 1, 15, 1705316400},
    {"Europe/Berlin", 2024, 7, 15, 1721037600},
    {"America/New_York", 2024, 1, 15, 1705338000},
    {"America/New_York", 2024, 7, 15, 1721059200},
    {"Australia/Sydney", 2024, 1, 15, 1705280400},
    {"Australia/Sydney", 2024, 7, 15, 1721008800},
    {"Europe/Moscow", 2011, 1, 15, 1295082000},
    {"Europe/Moscow", 2011, 12, 15, 1323936000},
    {"Europe/Moscow", 2014, 6, 15, 1402819200},
    {"Europe/Moscow", 2014, 12, 15, 1418634000},
};

// Runs `check` for every zone case with the process in that zone; a zone
// the machine has no data for is a failure, and a fatal failure ends the run.
template <typename Check>
void InEveryZone(Check check) {
  for (const ZoneCase& c : kZoneCases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.year) + "-" + std::to_string(c.month));
    if (!HaveZone(c.zone)) {
      ADD_FAILURE() << "zone data missing (tools/install-deps.sh installs tzdata)";
      continue;
    }
    ZoneScope scope(c.zone);
    check(c);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// Whether the file at `path` was last modified at the instant `utc`.
::testing::AssertionResult ModifiedAt(const std::string& path, std::int64_t utc) {
  fs::FileRecord<char> record{};
  if (fs::GetFileInfo(path.c_str(), &record) != fs::InfoOk)
    return ::testing::AssertionFailure() << "no " << path;
  const auto modified = static_cast<std::int64_t>(record.info.modified);
  if (modified != utc)
    return ::testing::AssertionFailure() << path << " modified at " << modified << ", not " << utc;
  return ::testing::AssertionSuccess();
}

TEST(DosTimeZoneTest, BothDirectionsFollowTheZonesRealRules) {
  if (platform::LogicalDrives() != 0) GTEST_SKIP() << "zone names are set through TZ on the POSIX build";
  InEveryZone([](const ZoneCase& c) {
    const std::uint32_t dos = Dos(c.year, c.month, c.day, 12, 0, 0);
    EXPECT_EQ(DosDateTimeFromSeconds(c.utc), dos);
    EXPECT_EQ(SecondsFromDosDateTime(dos), c.utc);
  });
}

// Entries that hold only a DOS time: our reader and unzip give the extracted
// file the zone's instant for those fields, and 7zz lists the same fields
// (its extraction of a DOS-only time applies the offset in force today, not
// the one of the date, so it is no oracle for that). Our writer stores the
// file's wall-clock time as DOS fields, and 7zz and our reader restore the
// file's instant from what it wrote.
TEST(DosTimeZoneTest, OnlyDosTimesRoundTripWithUnzipAndSevenZip) {
  if (platform::LogicalDrives() != 0) GTEST_SKIP() << "zone names are set through TZ on the POSIX build";
  PAKKARO_REQUIRE_TOOLS("unzip", "7zz");
  using testing_support::Quote;
  using testing_support::RunCommand;
  InEveryZone([](const ZoneCase& c) {
    testing_support::TempDir dir;
    crafted_zip::Entry entry;
    entry.name = "t.txt";
    entry.plain = testing_support::TextBytes(100);
    entry.dosDateTime = Dos(c.year, c.month, c.day, 12, 0, 0);
    const std::string path = dir / "dos.zip";
    ASSERT_TRUE(testing_support::WriteFile(path, crafted_zip::Build({entry})));
    Korbel reader;
    ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(reader.ExtractEntry(0, (dir / "ours/").c_str()), kOk);
    reader.Close();
    ASSERT_EQ(RunCommand("unzip -qo " + Quote(path) + " -d " + Quote(dir / "unzip")), 0);
    char wallClock[32];
    std::snprintf(wallClock, sizeof wallClock, "Modified = %04d-%02d-%02d 12:00:00", c.year, c.month, c.day);
    std::string sevenList;
    ASSERT_EQ(RunCommand("7zz l -slt " + Quote(path), &sevenList), 0);
    EXPECT_NE(sevenList.find(wallClock), std::string::npos) << sevenList;
    // unzip reckons the offset itself and is an hour off in Moscow's years
    // of changed standard time (checked against the zone database above).
    const bool offsetChanged = std::string(c.zone) == "Europe/Moscow";
    EXPECT_TRUE(ModifiedAt(dir / "ours/t.txt", c.utc));
    if (!offsetChanged) {
      EXPECT_TRUE(ModifiedAt(dir / "unzip/t.txt", c.utc));
    }

    // Our writer: the file's time becomes the DOS fields of its wall clock,
    // which unzip's listing shows as they are.
    Korbel writer;
    const std::string written = dir / "ours.zip";
    ASSERT_EQ(writer.Open(written.c_str(), kCreate, 9), kOk);
    ASSERT_EQ(writer.AddFileByPath((dir / "ours/t.txt").c_str(), "t.txt"), kOk);
    ASSERT_EQ(writer.Close(), kOk);
    Korbel check;
    ASSERT_EQ(check.Open(written.c_str(), kReadOnly, 9), kOk);
    EXPECT_EQ(check.Table().At(0)->dosDateTime, entry.dosDateTime);
    std::string listing;
    ASSERT_EQ(RunCommand("TZ=" + std::string(c.zone) + " unzip -Z -T " + Quote(written), &listing), 0);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d.120000", c.year, c.month, c.day);
    EXPECT_NE(listing.find(stamp), std::string::npos) << listing;
    ASSERT_EQ(RunCommand("7zz x -bd -y -o" + Quote(dir / "back7") + " " + Quote(written) + " >/dev/null"), 0);
    ASSERT_EQ(check.ExtractEntry(0, (dir / "back/").c_str()), kOk);
    EXPECT_TRUE(ModifiedAt(dir / "back7/t.txt", c.utc));
    EXPECT_TRUE(ModifiedAt(dir / "back/t.txt", c.utc));
  });
}

}  // namespace
}  // namespace korbel
