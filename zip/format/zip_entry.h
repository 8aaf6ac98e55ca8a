// The in-memory record of one archive entry, owned by the archive's table.
#ifndef PAKKARO_ZIP_ZIP_ENTRY_H
#define PAKKARO_ZIP_ZIP_ENTRY_H

#include <cstdint>

#include "platform/file_time.h"
#include "zip/format/entry_field.h"

namespace korbel {

// Windows attribute bits kept in the external attributes.
constexpr std::uint32_t kEntryReadOnly = 0x01;
constexpr std::uint32_t kEntryFolder = 0x10;

// Processing states (two bits): what extraction or testing did with the entry.
enum ProcessingState : std::uint8_t {
  kUntouched = 0,
  kSkippedOrPresent = 1,
  kProcessed = 2,
};

// Bits of the status byte answered for an entry.
enum EntryStatusBits : std::uint8_t {
  kStatusProcessingMask = 0x03,
  kStatusDeleted = 0x04,
  kStatusQueued = 0x08,
  kStatusFolder = 0x10,
  kStatusReadOnly = 0x20,
  kStatusWritten = 0x40,
};

// Marks an entry whose central header was not kept (one the engine made).
constexpr std::uint64_t kNotKept = ~std::uint64_t{0};

struct ZipEntry {
  EntryBytes localExtra;     // local extra field as written or read
  EntryBytes centralExtra;   // central extra field as written or read
  void* userData = nullptr;  // the caller's, never freed here
  EntryText comment;         // entry comment, decoded like a name
  EntryText sourcePath;      // source file of a queued entry
  EntryText name;            // '/' separators, no trailing '/'
  // Where the central header sits that an archive stored for this entry, as
  // an offset into the directory the archive was loaded from. An entry
  // loaded and not changed since is written back with that header as it
  // was, with only its offset brought up to date.
  std::uint64_t keptCentralAt = kNotKept;

  std::uint64_t compressedSize = 0;     // bytes of entry data in the archive
  std::uint64_t uncompressedSize = 0;   // bytes after decompression
  std::uint64_t localHeaderOffset = 0;  // position of the local header

  // Seconds since 1970-01-01 UTC, negative before; platform::kNoTime when
  // the archive holds none.
  std::int64_t modified = platform::kNoTime;
  std::int64_t created = platform::kNoTime;
  std::int64_t accessed = platform::kNoTime;

  std::uint16_t versionNeeded = 0;
  std::uint16_t versionMadeBy = 0;  // high byte: host system, 0 for DOS
  std::uint16_t method = 0;         // a ZipMethod; kMethodAes: the real one is aesMethod
  std::uint16_t nameLength = 0;     // bytes of the name as stored in the archive
  std::uint16_t commentLength = 0;  // bytes of the comment as stored
  std::uint16_t centralExtraLength = 0;
  std::uint16_t flags = 0;             // general-purpose flags
  std::uint16_t localExtraLength = 0;  // bytes of the extra field in the local header on disk
  std::uint16_t diskNumberStart = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;  // Windows attribute bits (kEntryFolder, ...)
  std::uint32_t crc32 = 0;
  std::uint32_t dosDateTime = 0;  // DOS time in the low half, date in the high half

  std::uint8_t madeByDos = 0;        // 1 when the high byte of versionMadeBy is 0
  std::uint8_t processingState = 0;  // a ProcessingState, two bits
  std::uint8_t deleted = 0;          // removed; its data is reclaimed on close
  std::uint8_t queued = 0;           // added, data not yet written
  std::uint8_t written = 0;          // its data is in the archive
  std::uint8_t faulty = 0;           // damaged; left out of a written directory
  std::uint8_t aesInfo = 0;          // AES vendor version * 4 + strength, 0 without AES
  std::uint8_t aesMethod = 0;        // compression method under AES
  // Bytes of the data descriptor behind the data: 0 none, 16, or 24 when
  // its sizes are 64-bit (behind a local header with a Zip64 block); 4 less
  // for a descriptor stored without its signature.
  std::uint8_t descriptorLength = 0;
  // Table position of the next live entry of the same name (the name index).
  std::uint32_t nextSameName = 0xFFFFFFFFu;
};

// Bytes of the central header kept for a loaded entry: the fixed part, the
// name, the extra field and the comment as stored.
inline std::size_t KeptCentralSize(const ZipEntry& entry) {
  return 46u + entry.nameLength + entry.centralExtraLength + entry.commentLength;
}

// The status byte of an entry (EntryStatusBits).
inline std::uint8_t EntryStatus(const ZipEntry& entry) {
  std::uint8_t status = entry.processingState & kStatusProcessingMask;
  if (entry.deleted) status |= kStatusDeleted;
  if (entry.queued) status |= kStatusQueued;
  if (entry.externalAttributes & kEntryFolder) status |= kStatusFolder;
  if (entry.externalAttributes & kEntryReadOnly) status |= kStatusReadOnly;
  if (entry.written) status |= kStatusWritten;
  return status;
}

// A 64-bit size or offset that does not fit a 32-bit record field goes to a
// Zip64 extra block, and the field says 0xFFFFFFFF.
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFFu;
constexpr bool NeedsZip64(std::uint64_t value) { return value >= kZip64Marker; }
constexpr std::uint32_t Field32(std::uint64_t value) {
  return NeedsZip64(value) ? kZip64Marker : static_cast<std::uint32_t>(value);
}

}  // namespace korbel

#endif  // PAKKARO_ZIP_ZIP_ENTRY_H
