#include "zip/dos_time.h"

#include <array>
#include <ctime>

#include "platform/platform.h"

namespace korbel {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The local fields read as if they were UTC, carrying out-of-range fields
// the way mktime does.
std::int64_t FieldsAsUtc(const std::tm& fields) {
  std::int64_t year = fields.tm_year + 1900;
  std::int64_t month = fields.tm_mon;
  year += month >= 0 ? month / 12 : -((11 - month) / 12);
  month -= (month >= 0 ? month / 12 : -((11 - month) / 12)) * 12;
  const std::int64_t days = DaysFromCivil(year, static_cast<int>(month) + 1, 1) + fields.tm_mday - 1;
  return days * kSecondsPerDay + fields.tm_hour * 3600 + fields.tm_min * 60 + fields.tm_sec;
}

// Local standard time differs from UTC by one offset through a year, and a
// time read with the daylight-saving flag 0 is standard time: so the offset
// is asked of the system once per year instead of once per entry (mktime
// looks at the zone file on every call).
std::int64_t StandardOffset(int year, bool* known) {
  static thread_local std::array<std::int64_t, 128> offsets{};
  static thread_local std::array<bool, 128> cached{};
  const int slot = year - 1980;
  *known = false;
  if (slot < 0 || slot >= 128) return 0;
  if (!cached[static_cast<std::size_t>(slot)]) {
    std::tm noon{};
    noon.tm_year = year - 1900;
    noon.tm_mday = 1;
    noon.tm_hour = 12;
    noon.tm_isdst = 0;
    const std::int64_t utc = FieldsAsUtc(noon);
    const std::int64_t local = platform::FromLocalTime(&noon);
    if (local == -1) return 0;
    offsets[static_cast<std::size_t>(slot)] = utc - local;
    cached[static_cast<std::size_t>(slot)] = true;
  }
  *known = true;
  return offsets[static_cast<std::size_t>(slot)];
}

}  // namespace

std::uint32_t DosDateTimeFromSeconds(std::int64_t seconds) {
  // DOS keeps seconds in steps of two; rounding up keeps a file from looking
  // older in the archive than on disk.
  if (seconds % 2 != 0) ++seconds;
  std::tm local{};
  if (!platform::ToLocalTime(seconds, &local)) return kDosEpoch;
  int year = local.tm_year + 1900;
  if (year < 1980) return kDosEpoch;
  // Seven bits of years end with 2107; a later time would wrap into the past.
  if (year > 2107) return kDosLast;
  return static_cast<std::uint32_t>(year - 1980) << 25 |
         static_cast<std::uint32_t>(local.tm_mon + 1) << 21 |
         static_cast<std::uint32_t>(local.tm_mday) << 16 |
         static_cast<std::uint32_t>(local.tm_hour) << 11 |
         static_cast<std::uint32_t>(local.tm_min) << 5 |
         static_cast<std::uint32_t>(local.tm_sec / 2);
}

std::int64_t SecondsFromDosDateTime(std::uint32_t dosDateTime) {
  std::tm local{};
  local.tm_year = static_cast<int>(dosDateTime >> 25) + 80;
  local.tm_mon = static_cast<int>((dosDateTime >> 21) & 0x0F) - 1;
  local.tm_mday = static_cast<int>((dosDateTime >> 16) & 0x1F);
  local.tm_hour = static_cast<int>((dosDateTime >> 11) & 0x1F);
  local.tm_min = static_cast<int>((dosDateTime >> 5) & 0x3F);
  local.tm_sec = static_cast<int>(dosDateTime & 0x1F) * 2;
  local.tm_isdst = 0;
  bool known = false;
  const std::int64_t offset = StandardOffset(local.tm_year + 1900, &known);
  if (!known) return platform::FromLocalTime(&local);
  return FieldsAsUtc(local) - offset;
}

}  // namespace korbel
