// Extra fields of the local and central headers: reading the blocks the
// engine understands into an entry, and building the fields it writes.
#ifndef PAKKARO_ZIP_EXTRA_FIELDS_H
#define PAKKARO_ZIP_EXTRA_FIELDS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file_time.h"
#include "zip/format/zip_constants.h"
#include "zip/format/zip_entry.h"

namespace korbel {

enum ExtraFieldId : std::uint16_t {
  kZip64ExtraId = 0x0001,
  kNtfsExtraId = 0x000A,
  kTimestampExtraId = 0x5455,  // extended timestamp
  kUnixOldExtraId = 0x5855,
  kUnixNewExtraId = 0x7855,
  kUnicodePathExtraId = 0x7075,  // the name as UTF-8
  kAesExtraId = 0x9901,
};

// Sizes of the blocks the engine writes, header included.
constexpr std::size_t kTimestampBlockSize = 4 + 13;
constexpr std::size_t kNtfsBlockSize = 4 + 32;

// The FILETIME of 1970-01-01 00:00 UTC.
constexpr std::uint64_t kFileTimeEpoch = platform::kFileTimeOf1970;

// FILETIME to seconds since 1970, negative before, without a limit at 2038;
// the FILETIME 0 (none) gives platform::kNoTime.
std::int64_t SecondsFromFileTime(std::uint64_t fileTime);
// Seconds since 1970 to FILETIME; 0 for platform::kNoTime and for times a
// FILETIME cannot hold.
std::uint64_t FileTimeFromSeconds(std::int64_t seconds);

// Applies the blocks the engine interprets (Zip64, NTFS times, extended
// timestamp, the old Unix block, AES) to the entry and skips the others.
// NTFS times win over the 32-bit Unix times, which win over the DOS time
// the header gave.
// Zip64 values replace only the sizes and offset that hold 0xFFFFFFFF, so
// the entry must be filled from its header first. Scanning stops when fewer
// than 4 bytes remain or a block runs past the end.
void ParseExtraField(const std::uint8_t* data, std::size_t size, ZipEntry* entry);

// Finds the first block with this ID: its data starts at *at and holds
// *size bytes. False when the field has none (or it runs past the end).
bool FindExtraBlock(const std::uint8_t* data, std::size_t length, std::uint16_t id, std::size_t* at,
                    std::size_t* size);

// The central extra field the engine writes: a Zip64 block holding those of
// uncompressed size, compressed size and local header offset that need it,
// then the extended timestamp block with the times from 1970 to January
// 2038 (none without such a time) and the NTFS block with all three times
// (53 bytes without Zip64 for times within the 32-bit range), and for a name
// stored in code page 850 with letters beyond ASCII a Unicode Path block
// with the name as UTF-8.
std::vector<std::uint8_t> BuildCentralExtra(const ZipEntry& entry);
// The local extra field: empty, or a Zip64 block with both sizes when either
// needs it (never the offset), so its length stays the same between the
// first and the final local header of an entry; then the Unicode Path block
// as in the central field.
// With `keepZip64` the block is there even for sizes that do not need it
// (a final header written over a first one that had the block).
std::vector<std::uint8_t> BuildLocalExtra(const ZipEntry& entry, bool keepZip64 = false);

// Rebuilds both extra fields and their lengths; version needed becomes 45
// with a Zip64 block, else a value above 20 is lowered to 20 for methods up
// to 8.
void BuildExtraFields(ZipEntry* entry);
// Keeps extra fields the entry already has while neither its uncompressed
// size nor its local header offset needs Zip64; otherwise builds them.
void PrepareExtraFields(ZipEntry* entry);

}  // namespace korbel

#endif  // PAKKARO_ZIP_EXTRA_FIELDS_H
