// Local time through the system's own zone rules. The C runtime's localtime
// and mktime follow a TZ variable in the environment (set by MSYS2, Git-Bash
// and Cygwin shells), which it reads in the POSIX form only: a zone name
// there turns every local time into UTC. The Win32 calls ignore TZ.
#include <cstdint>
#include <ctime>

#include "platform/file_time.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kUnits = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
constexpr std::int64_t kTo1970 = static_cast<std::int64_t>(kSecondsFrom1601To1970);

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar
// (month 1 to 12, day 1 to 31).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// Seconds since 1970 as a FILETIME; false outside what one can hold (and
// what SYSTEMTIME can: years up to 30827).
bool ToFiletime(std::int64_t seconds, FILETIME* out) {
  constexpr std::int64_t kLast = 922314988799ll;  // 30827-12-31 23:59:59, in seconds after 1601
  if (seconds < -kTo1970 || seconds > kLast - kTo1970) return false;
  const std::uint64_t value = static_cast<std::uint64_t>(seconds + kTo1970) * kFileTimeUnitsPerSecond;
  out->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  out->dwHighDateTime = static_cast<DWORD>(value >> 32);
  return true;
}

std::int64_t SecondsOf(const FILETIME& time) {
  const std::uint64_t value = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(value) / kUnits - kTo1970;
}

}  // namespace

std::int64_t CurrentTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return SecondsOf(now);
}

bool ToLocalTime(std::int64_t seconds, std::tm* out) {
  if (out == nullptr) return false;
  FILETIME utcTime;
  SYSTEMTIME utc;
  SYSTEMTIME local;
  if (!ToFiletime(seconds, &utcTime) || !::FileTimeToSystemTime(&utcTime, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return false;
  }
  *out = std::tm{};
  out->tm_year = local.wYear - 1900;
  out->tm_mon = local.wMonth - 1;
  out->tm_mday = local.wDay;
  out->tm_hour = local.wHour;
  out->tm_min = local.wMinute;
  out->tm_sec = local.wSecond;
  out->tm_wday = local.wDayOfWeek;
  out->tm_yday = static_cast<int>(DaysFromCivil(local.wYear, local.wMonth, local.wDay) -
                                  DaysFromCivil(local.wYear, 1, 1));
  out->tm_isdst = -1;  // not worked out; nothing here asks
  return true;
}

std::int64_t FromLocalTime(std::tm* local) {
  if (local == nullptr) return -1;
  // Fields out of their range (a DOS date with month 13, a 61st minute)
  // carry over into the next field, as mktime does: counting the local
  // time as seconds and converting back gives a valid SYSTEMTIME.
  std::int64_t year = static_cast<std::int64_t>(local->tm_year) + 1900 + local->tm_mon / 12;
  int month = local->tm_mon % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  const std::int64_t localSeconds = DaysFromCivil(year, month + 1, 1) * kSecondsPerDay +
                                    (static_cast<std::int64_t>(local->tm_mday) - 1) * kSecondsPerDay +
                                    static_cast<std::int64_t>(local->tm_hour) * 3600 +
                                    static_cast<std::int64_t>(local->tm_min) * 60 + local->tm_sec;
  FILETIME localTime;
  FILETIME utcTime;
  SYSTEMTIME localFields;
  SYSTEMTIME utc;
  if (!ToFiletime(localSeconds, &localTime) || !::FileTimeToSystemTime(&localTime, &localFields) ||
      !::TzSpecificLocalTimeToSystemTime(nullptr, &localFields, &utc) ||
      !::SystemTimeToFileTime(&utc, &utcTime)) {
    return -1;
  }
  const std::int64_t seconds = SecondsOf(utcTime);
  // As mktime, the fields come back in their ranges.
  ToLocalTime(seconds, local);
  return seconds;
}

}  // namespace platform
