// DOS date-time: local time with two-second resolution, 1980 to 2107.
// Bits 0-4 seconds/2, 5-10 minutes, 11-15 hours, 16-20 day, 21-24 month,
// 25-31 year - 1980.
#ifndef PAKKARO_ZIP_DOS_TIME_H
#define PAKKARO_ZIP_DOS_TIME_H

#include <cstddef>
#include <cstdint>

namespace korbel {

// 1980-01-01 00:00:00, the earliest DOS date-time.
constexpr std::uint32_t kDosEpoch = 0x210000;
// 2107-12-31 23:59:58, the latest; given for every later time.
constexpr std::uint32_t kDosLast = 0xFF9FBF7D;

// An odd second count is raised to the next even one; a time that cannot be
// converted to local time or lies before 1980 gives kDosEpoch, one after
// 2107 kDosLast.
// Local time comes from platform::ToLocalTime.
std::uint32_t DosDateTimeFromSeconds(std::int64_t seconds);

// Seconds since 1970 of a DOS date-time read as local time under the zone's
// rules for that date (daylight saving included), without a limit at 2038;
// platform::kNoTime when the local time cannot be converted.
std::int64_t SecondsFromDosDateTime(std::uint32_t dosDateTime);

// The DOS times of one directory, read as SecondsFromDosDateTime reads them.
// Asking the system costs a look at its zone each time; entries share
// minutes, and within a minute a time moves by its seconds alone (zones
// change their offset at whole minutes), so the system is asked once per
// minute met. One object serves one load: a zone set later is honoured.
class DosTimeConverter {
 public:
  std::int64_t Seconds(std::uint32_t dosDateTime);

 private:
  static constexpr std::size_t kSlots = 256;
  struct Slot {
    std::uint32_t minute = 0xFFFFFFFFu;  // the DOS value without its seconds
    std::int64_t seconds = 0;            // where that minute starts
  };
  Slot slots_[kSlots];
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_DOS_TIME_H
