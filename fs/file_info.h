// The description of a file that the walk delivers and the add
// operation consumes, the queries that fill it, and the conversions between
// platform file times and seconds since 1970.
#ifndef PAKKARO_FS_FILE_INFO_H
#define PAKKARO_FS_FILE_INFO_H

#include <cstdint>

#include "fs/path_kind.h"
#include "platform/file_time.h"
#include "platform/platform.h"

namespace fs {

// Bits of FileInfo::attributes. Bits 2, 3, 8 and 9 stay 0 here (the add
// operation uses bit 8 for its own purpose).
enum : std::uint32_t {
  InfoAlways = 0x01,    // set in every record
  InfoWritable = 0x02,  // not read-only
  InfoFolder = 0x10,
  InfoHidden = 0x20,
  InfoArchive = 0x40,
  InfoSystem = 0x80,
  InfoSizeHighShift = 10,  // bits 10..31: the high 32 bits of the size, shifted
};

// The times are 64-bit: a file dated before 1970 or after 2038 keeps its
// date through the walk, the archive and extraction.
struct FileInfo {
  std::uint32_t attributes;  // the bits above
  std::uint32_t size;        // bits 0..31 of the size
  std::int64_t created;      // seconds since 1970-01-01 UTC, negative before;
  std::int64_t accessed;     // platform::kNoTime when the system keeps none
  std::int64_t modified;
};
static_assert(sizeof(FileInfo) == 32, "FileInfo is two 32-bit words and three 64-bit times");

// What the queries fill: the description and the entry's long name.
template <typename Char>
struct FileRecord {
  FileInfo info;
  Char name[platform::kFoundNameCapacity<Char>];  // any name a folder can hold
  // The entry is a symbolic link or junction: the walk never descends
  // through one, so a link back to a parent cannot make it loop.
  bool link;
  // Neither a regular file nor a folder (a pipe, socket or device): the walk
  // passes over it, as its data could block a reader or never end.
  bool special;
};

// The size a record describes as the engine reads it: bits 32..37 from
// attribute bits 10..15, so up to 2^38 - 1 bytes.
constexpr std::uint64_t InfoFileSize(const FileInfo& info) {
  return info.size + (static_cast<std::uint64_t>((info.attributes >> InfoSizeHighShift) & 0x3F) << 32);
}

// The attribute bits 10..15 that carry bits 32..37 of `size`, as
// InfoFileSize reads them back.
constexpr std::uint32_t InfoSizeBits(std::uint64_t size) {
  return static_cast<std::uint32_t>((size >> 32) & 0x3F) << InfoSizeHighShift;
}

// Result codes of the queries.
enum : int {
  InfoOk = 0,
  InfoBadArgument = -1,
  InfoNotFound = -3,  // also: no more entries
  InfoFailed = -6,
  InfoNoPath = -7,  // the path or folder does not exist
};

// Attributes, size and times of the path (no search, no wildcards); the
// record's name is left empty. -3 file not found, -7 path not found, -6
// other failures (size and name cleared), -1 without a record.
template <typename Char>
int GetFileInfo(const Char* path, FileRecord<Char>* out);

// Opens a directory search over pattern and fills out from its first entry;
// platform::kInvalidSearch on failure, with *code (when given) -3 for no
// such file or no entries, -7 for a pattern whose folder is not one, -6
// otherwise, -1 without a record; 0 on success.
template <typename Char>
platform::SearchHandle FindFirstInfo(const Char* pattern, FileRecord<Char>* out, int* code);

// 0 with the next entry in out; -3 at the end or when the platform fails;
// -1 for a missing record or an invalid handle.
template <typename Char>
int FindNextInfo(platform::SearchHandle search, FileRecord<Char>* out);

// 0, or -1 when the handle is none or closing fails.
int FindCloseInfo(platform::SearchHandle search);

// Seconds since 1970 of a platform file time, rounded down (negative before
// 1970); platform::kNoTime (failure) for the file time 0, which stands for
// none.
std::int64_t FileTimeToSeconds(platform::FileTime time, bool* ok = nullptr);
// Platform file time of seconds since 1970; 0 (failure) for kNoTime and for
// seconds a file time cannot hold (before 1601 or past its 64 bits).
platform::FileTime SecondsToFileTime(std::int64_t seconds, bool* ok = nullptr);

// The modified time, else (kNoTime) the created time, else the accessed
// time; kNoTime without a record.
std::int64_t NewestTime(const FileInfo* info);

}  // namespace fs

#endif  // PAKKARO_FS_FILE_INFO_H
