#include "zip/format/extra_fields.h"

#include <zlib.h>

#include <string>

#include "fs/file_info.h"
#include "zip/format/byte_cursor.h"
#include "zip/format/name_codec.h"
#include "zip/format/stored_name.h"

namespace korbel {
namespace {

constexpr std::uint16_t kNtfsTimesTag = 1;
constexpr std::uint16_t kNtfsTimesSize = 24;

struct ParseState {
  bool timestampSeen = false;  // 0x5455 read: a later 0x5855 block is ignored
  bool unixNewSeen = false;    // 0x7855 read: the same
  bool ntfsSeen = false;       // NTFS times read: they win over the 32-bit blocks, in any order
};

void ParseZip64(ByteCursor& block, ZipEntry* entry) {
  std::uint64_t* values[] = {&entry->uncompressedSize, &entry->compressedSize, &entry->localHeaderOffset};
  for (std::uint64_t* value : values) {
    if (*value != kZip64Marker) continue;
    if (block.remaining() < 8) return;
    *value = block.Get64();
  }
}

// True when the block held the times.
bool ParseNtfs(ByteCursor& block, ZipEntry* entry) {
  bool found = false;
  if (!block.Skip(4)) return false;  // reserved
  while (block.remaining() >= 4) {
    std::uint16_t tag = block.Get16();
    std::uint16_t size = block.Get16();
    const std::uint8_t* data = block.GetBytes(size);
    if (size > 0 && data == nullptr) return found;
    if (tag != kNtfsTimesTag || size < kNtfsTimesSize) continue;
    ByteCursor times(data, size);
    // A file time of 0 stands for none: what the header gave stays.
    for (std::int64_t* time : {&entry->modified, &entry->accessed, &entry->created}) {
      const std::int64_t seconds = SecondsFromFileTime(times.Get64());
      if (seconds != platform::kNoTime) *time = seconds;
    }
    found = true;
  }
  return found;
}

// The 32-bit Unix times are signed, so they end in January 2038. Some
// writers store the years up to 2106 unsigned instead: when the entry's DOS
// date lies in 2038 or later, a time with its top bit set is that future,
// not a time before 1970.
std::int64_t UnixTime(std::uint32_t stored, const ZipEntry& entry) {
  const std::uint32_t dosYear = 1980 + (entry.dosDateTime >> 25);
  if ((stored & 0x80000000u) != 0 && dosYear >= 2038) return stored;
  return static_cast<std::int32_t>(stored);
}

void ParseTimestamp(ByteCursor& block, ZipEntry* entry) {
  std::uint8_t present = block.Get8();
  std::int64_t* times[] = {&entry->modified, &entry->accessed, &entry->created};
  for (int bit = 0; bit < 3; ++bit) {
    if ((present & (1u << bit)) == 0) continue;
    if (block.remaining() < 4) return;  // a time that does not fit is dropped
    *times[bit] = UnixTime(block.Get32(), *entry);
  }
}

void ParseUnixOld(ByteCursor& block, ZipEntry* entry) {
  if (block.remaining() < 8) return;
  entry->accessed = UnixTime(block.Get32(), *entry);
  entry->modified = UnixTime(block.Get32(), *entry);
}

void ParseAes(ByteCursor& block, ZipEntry* entry) {
  if (block.remaining() < 7) return;
  std::uint16_t version = block.Get16();
  std::uint8_t vendor0 = block.Get8();
  std::uint8_t vendor1 = block.Get8();
  std::uint8_t strength = block.Get8();
  std::uint16_t method = block.Get16();
  if (version != 1 && version != 2) return;
  if (vendor0 != 'A' || vendor1 != 'E') return;
  if (strength < 1 || strength > 3) return;
  if ((method >> 8) != 0) return;
  entry->aesInfo = static_cast<std::uint8_t>(version * 4 + strength);
  entry->aesMethod = static_cast<std::uint8_t>(method);
}

// A time goes into the 32-bit block only when every reader takes it back
// the same: readers differ on whether the field is signed, so only 1970 to
// January 2038 is written. Other times live in the NTFS block and, as far
// as it reaches, the DOS date; without any time that fits, there is no block.
bool FitsUnixTime(std::int64_t seconds) { return seconds >= 0 && seconds <= INT32_MAX; }

void PutTimestampBlock(ByteWriter& out, const ZipEntry& entry) {
  const std::int64_t times[] = {entry.modified, entry.accessed, entry.created};
  std::uint8_t present = 0;
  std::uint16_t size = 1;
  for (int bit = 0; bit < 3; ++bit) {
    if (!FitsUnixTime(times[bit])) continue;
    present = static_cast<std::uint8_t>(present | (1u << bit));
    size = static_cast<std::uint16_t>(size + 4);
  }
  if (present == 0) return;
  out.Put16(kTimestampExtraId);
  out.Put16(size);
  out.Put8(present);
  for (std::int64_t time : times) {
    if (FitsUnixTime(time)) out.Put32(static_cast<std::uint32_t>(time));
  }
}

void PutNtfsBlock(ByteWriter& out, const ZipEntry& entry) {
  out.Put16(kNtfsExtraId);
  out.Put16(32);
  out.Put32(0);  // reserved
  out.Put16(kNtfsTimesTag);
  out.Put16(kNtfsTimesSize);
  out.Put64(FileTimeFromSeconds(entry.modified));
  out.Put64(FileTimeFromSeconds(entry.accessed));
  out.Put64(FileTimeFromSeconds(entry.created));
}

// A name stored in code page 850 with letters beyond ASCII goes along as
// UTF-8 too (version 1, the CRC-32 of the stored name, the UTF-8 name):
// readers on systems whose names are UTF-8 (unzip, 7-Zip and bsdtar on Linux)
// take it from there rather than writing code page 850 bytes as file names.
// Readers that ignore the block read the same letters in code page 850 or 437.
void PutUnicodePathBlock(ByteWriter& out, const ZipEntry& entry) {
  std::string stored;
  std::uint16_t flags = entry.flags;
  EncodeStoredName(entry, &stored, &flags);
  if (flags & kFlagUtf8Name) return;
  bool high = false;
  for (unsigned char c : stored) high = high || c >= 0x80;
  if (!high) return;
  std::string utf8;
  NameAsUtf8(entry.name.str(), &utf8);
  if (entry.externalAttributes & kEntryFolder) utf8.push_back('/');
  // The whole field must stay within its 16-bit length beside a full Zip64
  // block and the time blocks; a longer name has to do without.
  constexpr std::size_t kOtherBlocks = 4 + 24 + kTimestampBlockSize + kNtfsBlockSize;
  if (4 + 5 + utf8.size() + kOtherBlocks > 0xFFFF) return;
  out.Put16(kUnicodePathExtraId);
  out.Put16(static_cast<std::uint16_t>(5 + utf8.size()));
  out.Put8(1);
  out.Put32(static_cast<std::uint32_t>(
      ::crc32(0L, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size()))));
  out.PutBytes(utf8.data(), utf8.size());
}

bool HasZip64Block(const EntryBytes& field) {
  // The engine writes the Zip64 block first.
  return field.size() >= 4 && field[0] == (kZip64ExtraId & 0xFF) && field[1] == (kZip64ExtraId >> 8);
}

}  // namespace

std::int64_t SecondsFromFileTime(std::uint64_t fileTime) { return fs::FileTimeToSeconds(fileTime); }

std::uint64_t FileTimeFromSeconds(std::int64_t seconds) { return fs::SecondsToFileTime(seconds); }

void ParseExtraField(const std::uint8_t* data, std::size_t size, ZipEntry* entry) {
  ByteCursor field(data, size);
  ParseState state;
  while (field.remaining() >= 4) {
    std::uint16_t id = field.Get16();
    std::uint16_t blockSize = field.Get16();
    if (blockSize > field.remaining()) return;
    ByteCursor block(data + field.position(), blockSize);
    field.Skip(blockSize);
    switch (id) {
      case kZip64ExtraId:
        ParseZip64(block, entry);
        break;
      case kNtfsExtraId:
        if (ParseNtfs(block, entry)) state.ntfsSeen = true;
        break;
      case kTimestampExtraId:
        if (!state.ntfsSeen) ParseTimestamp(block, entry);
        state.timestampSeen = true;
        break;
      case kUnixOldExtraId:
        if (!state.timestampSeen && !state.unixNewSeen && !state.ntfsSeen) ParseUnixOld(block, entry);
        break;
      case kUnixNewExtraId:
        state.unixNewSeen = true;
        break;
      case kAesExtraId:
        ParseAes(block, entry);
        break;
      default:
        break;
    }
  }
}

bool FindExtraBlock(const std::uint8_t* data, std::size_t length, std::uint16_t id, std::size_t* at,
                    std::size_t* size) {
  ByteCursor field(data, length);
  while (field.remaining() >= 4) {
    const std::uint16_t blockId = field.Get16();
    const std::uint16_t blockSize = field.Get16();
    if (blockSize > field.remaining()) return false;
    if (blockId == id) {
      *at = field.position();
      *size = blockSize;
      return true;
    }
    field.Skip(blockSize);
  }
  return false;
}

std::vector<std::uint8_t> BuildCentralExtra(const ZipEntry& entry) {
  std::vector<std::uint8_t> field;
  ByteWriter out(&field);
  const std::uint64_t values[] = {entry.uncompressedSize, entry.compressedSize, entry.localHeaderOffset};
  std::uint16_t count = 0;
  for (std::uint64_t value : values) count = static_cast<std::uint16_t>(count + NeedsZip64(value));
  if (count > 0) {
    out.Put16(kZip64ExtraId);
    out.Put16(static_cast<std::uint16_t>(8 * count));
    for (std::uint64_t value : values) {
      if (NeedsZip64(value)) out.Put64(value);
    }
  }
  PutTimestampBlock(out, entry);
  PutNtfsBlock(out, entry);
  PutUnicodePathBlock(out, entry);
  return field;
}

std::vector<std::uint8_t> BuildLocalExtra(const ZipEntry& entry, bool keepZip64) {
  std::vector<std::uint8_t> field;
  ByteWriter out(&field);
  if (keepZip64 || NeedsZip64(entry.uncompressedSize) || NeedsZip64(entry.compressedSize)) {
    out.Put16(kZip64ExtraId);
    out.Put16(16);
    out.Put64(entry.uncompressedSize);
    out.Put64(entry.compressedSize);
  }
  PutUnicodePathBlock(out, entry);
  return field;
}

void BuildExtraFields(ZipEntry* entry) {
  entry->centralExtra = BuildCentralExtra(*entry);
  entry->localExtra = BuildLocalExtra(*entry);
  entry->centralExtraLength = static_cast<std::uint16_t>(entry->centralExtra.size());
  entry->localExtraLength = static_cast<std::uint16_t>(entry->localExtra.size());
  if (HasZip64Block(entry->centralExtra) || HasZip64Block(entry->localExtra)) {
    entry->versionNeeded = kVersionZip64;
  } else if (entry->versionNeeded > kVersionDeflate && entry->method <= kMethodDeflate) {
    entry->versionNeeded = kVersionDeflate;
  }
}

void PrepareExtraFields(ZipEntry* entry) {
  bool hasFields = !entry->centralExtra.empty() || !entry->localExtra.empty();
  if (hasFields && !NeedsZip64(entry->uncompressedSize) && !NeedsZip64(entry->localHeaderOffset)) {
    return;
  }
  BuildExtraFields(entry);
}

}  // namespace korbel
