#include "zip/format/dos_time.h"

#include <ctime>

#include "platform/file_time.h"
#include "platform/platform.h"

namespace korbel {

std::uint32_t DosDateTimeFromSeconds(std::int64_t seconds) {
  // DOS keeps seconds in steps of two; rounding up keeps a file from looking
  // older in the archive than on disk.
  if (seconds % 2 != 0 && seconds < INT64_MAX) ++seconds;
  std::tm local{};
  if (!platform::ToLocalTime(seconds, &local)) return kDosEpoch;
  int year = local.tm_year + 1900;
  if (year < 1980) return kDosEpoch;
  // Seven bits of years end with 2107; a later time would wrap into the past.
  if (year > 2107) return kDosLast;
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(local.tm_mon + 1) << 21 |
         static_cast<std::uint32_t>(local.tm_mday) << 16 | static_cast<std::uint32_t>(local.tm_hour) << 11 |
         static_cast<std::uint32_t>(local.tm_min) << 5 | static_cast<std::uint32_t>(local.tm_sec / 2);
}

std::int64_t SecondsFromDosDateTime(std::uint32_t dosDateTime) {
  std::tm local{};
  local.tm_year = static_cast<int>(dosDateTime >> 25) + 80;
  local.tm_mon = static_cast<int>((dosDateTime >> 21) & 0x0F) - 1;
  local.tm_mday = static_cast<int>((dosDateTime >> 16) & 0x1F);
  local.tm_hour = static_cast<int>((dosDateTime >> 11) & 0x1F);
  local.tm_min = static_cast<int>((dosDateTime >> 5) & 0x3F);
  local.tm_sec = static_cast<int>(dosDateTime & 0x1F) * 2;
  // The zone's own rules decide whether daylight saving applies, as they did
  // when the time was written; a cache of offsets per year would be wrong in
  // zones whose standard offset changed within a year.
  local.tm_isdst = -1;
  const std::int64_t seconds = platform::FromLocalTime(&local);
  // DOS dates start in 1980: -1 can only be the failure.
  return seconds == -1 ? platform::kNoTime : seconds;
}

std::int64_t DosTimeConverter::Seconds(std::uint32_t dosDateTime) {
  const std::uint32_t minute = dosDateTime >> 5;
  Slot& slot = slots_[(minute ^ (minute >> 8)) % kSlots];
  if (slot.minute != minute) {
    slot.minute = minute;
    slot.seconds = SecondsFromDosDateTime(minute << 5);
  }
  if (slot.seconds == platform::kNoTime) return platform::kNoTime;
  return slot.seconds + 2 * static_cast<std::int64_t>(dosDateTime & 0x1F);
}

}  // namespace korbel
