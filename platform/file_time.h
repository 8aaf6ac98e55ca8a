// The scale of platform::FileTime: 100-nanosecond units since 1601-01-01
// UTC, and where 1970-01-01 falls on it. Every conversion between file times
// and seconds since 1970 starts from these.
#ifndef PAKKARO_PLATFORM_FILE_TIME_H
#define PAKKARO_PLATFORM_FILE_TIME_H

#include <cstdint>

namespace platform {

constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000ull;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ull;
// The file time of 1970-01-01 00:00 UTC.
constexpr std::uint64_t kFileTimeOf1970 = kSecondsFrom1601To1970 * kFileTimeUnitsPerSecond;

// Seconds since 1970 standing for "no time known": a file system that keeps
// no creation time, an entry whose archive recorded none. Every real time,
// before 1970 (negative) or long after 2038, differs from it.
constexpr std::int64_t kNoTime = INT64_MIN;

}  // namespace platform

#endif  // PAKKARO_PLATFORM_FILE_TIME_H
