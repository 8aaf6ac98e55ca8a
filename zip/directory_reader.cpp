// Loading the central directory: finding the end records, reading every
// central header and checking every local header.
#include <algorithm>
#include <cstring>
#include <vector>

#include "zip/byte_cursor.h"
#include "zip/central_header.h"
#include "zip/end_record.h"
#include "zip/extra_fields.h"
#include "zip/io/read_window.h"
#include "zip/korbel.h"
#include "zip/local_header.h"
#include "zip/name_codec.h"
#include "zip/stored_name.h"
#include "zip/zip64_end_record.h"

namespace korbel {
namespace {

constexpr std::int64_t kSearchBlock = 4096;
constexpr std::uint16_t kLocalFlagsKept = 0x1FFF;  // bits 13 to 15 are cleared
constexpr std::size_t kReadAheadSize = 65536;
// Larger than the longest central header (46 bytes and three 16-bit lengths).
constexpr std::size_t kDirectoryWindowSize = 1 << 20;

std::uint32_t Read32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A check of the structure: code 3 when it fails.
void Require(bool condition) {
  if (!condition) RaiseError(kBadFormat);
}

}  // namespace

int Korbel::LoadDirectory(int /*loaderArgument*/) {
  lastError_ = kOk;
  try {
    LoadDirectoryOrThrow();
  } catch (const EngineFault& fault) {
    lastError_ = fault.code;
    if (EventEnabled(kEventError)) Report(kEventError, -1);
    Discard();
    return fault.code;
  } catch (const std::bad_alloc&) {
    lastError_ = kNoMemory;
    if (EventEnabled(kEventError)) Report(kEventError, -1);
    Discard();
    return kNoMemory;
  }
  lastError_ = kOk;
  return kOk;
}

// Reads `length` bytes at `position`; a short read raises code 11.
void Korbel::ReadAt(std::int64_t position, void* buffer, std::size_t length) {
  if (store_.Seek(position, platform::kSeekBegin) != position) RaiseError(kReadError);
  if (store_.Read(buffer, length) != static_cast<std::int64_t>(length)) RaiseError(kReadError);
}

// The position of the last end record or Zip64 locator signature in the whole
// source, searched backwards block by block; -1 when there is none.
std::int64_t Korbel::FindEndSignature(std::int64_t size) {
  unsigned char block[kSearchBlock + 3];
  std::int64_t start = size - (size % kSearchBlock);
  std::int64_t length = size % kSearchBlock;
  if (length == 0) {
    start -= kSearchBlock;
    length = kSearchBlock;
  }
  std::size_t carried = 0;  // the first bytes of the block behind this one
  while (start >= 0) {
    std::memmove(block + length, block, carried);
    ReadAt(start, block, static_cast<std::size_t>(length));
    const std::size_t filled = static_cast<std::size_t>(length) + carried;
    for (std::size_t at = filled >= 4 ? filled - 4 + 1 : 0; at-- > 0;) {
      const std::uint32_t value = Read32(block + at);
      if (value == kEndRecordSignature || value == kZip64LocatorSignature) {
        return start + static_cast<std::int64_t>(at);
      }
    }
    carried = std::min<std::size_t>(3, static_cast<std::size_t>(length));
    start -= kSearchBlock;
    length = kSearchBlock;
  }
  return -1;
}

void Korbel::LoadDirectoryOrThrow() {
  ClearTable();
  comment_.reset();
  const std::int64_t size = store_.Size();
  sourceSize_ = size;
  if (size <= 0) {
    // Only a new archive may start empty; its directory is written at close.
    Require(openMode_ == kCreate);
    directoryStart_ = 0;
    endPosition_ = 0;
    directoryChanged_ = true;
    return;
  }

  const std::int64_t found = FindEndSignature(size);
  Require(found >= 0);
  endPosition_ = found;
  unsigned char signature[4];
  ReadAt(found, signature, 4);

  std::int64_t locatorPosition = -1;
  // The entries the end records count; the 16-bit count of the plain record
  // wraps when a writer left out the Zip64 records.
  std::uint64_t claimedEntries = 0;
  std::uint64_t claimedModulo = 0x10000;
  if (Read32(signature) == kEndRecordSignature) {
    unsigned char raw[kEndRecordSize];
    ReadAt(found, raw, sizeof raw);
    EndRecord record;
    Require(ParseEndRecord(raw, sizeof raw, &record));
    if (record.commentLength > 0) {
      std::vector<std::uint8_t> stored(record.commentLength);
      ReadAt(found + static_cast<std::int64_t>(kEndRecordSize), stored.data(), stored.size());
      comment_ = std::make_unique<std::string>();
      DecodeName(stored.data(), stored.size(), 0, comment_.get());
    }
    if (record.diskNumber > 1 || record.directoryDisk > 0 ||
        record.entriesOnDisk != record.totalEntries) {
      RaiseError(kSpanned);
    }
    claimedEntries = record.totalEntries;
    // The directory ends where the end record starts: data in front of the
    // archive shifts both, whatever the offset field says.
    directoryStart_ = found - static_cast<std::int64_t>(record.directorySize);
    // Writers add the Zip64 records whenever the counts overflow, even when
    // the offset still fits: the directory then ends where they begin.
    const std::int64_t zip64Tail = static_cast<std::int64_t>(kZip64LocatorSize + kZip64EndRecordSize);
    if (record.directoryOffset != kZip64Marker && found >= zip64Tail) {
      unsigned char tail[kZip64EndRecordSize + kZip64LocatorSize];
      ReadAt(found - zip64Tail, tail, sizeof tail);
      if (Read32(tail) == kZip64EndRecordSignature && Read32(tail + kZip64EndRecordSize) == kZip64LocatorSignature) {
        directoryStart_ -= zip64Tail;
      }
    }
    if (record.directoryOffset == kZip64Marker) {
      locatorPosition = found - static_cast<std::int64_t>(kZip64LocatorSize);
      Require(locatorPosition >= 0);
      ReadAt(locatorPosition, signature, 4);
      Require(Read32(signature) == kZip64LocatorSignature);
    }
  } else {
    locatorPosition = found;
  }

  if (locatorPosition >= 0) {
    unsigned char raw[kZip64LocatorSize];
    ReadAt(locatorPosition, raw, sizeof raw);
    Zip64Locator locator;
    Require(ParseZip64Locator(raw, sizeof raw, &locator));
    Require(locator.endRecordOffset <= static_cast<std::uint64_t>(size) - kZip64EndRecordSize ||
            static_cast<std::uint64_t>(size) < kZip64EndRecordSize);
    unsigned char recordBytes[kZip64EndRecordSize];
    ReadAt(static_cast<std::int64_t>(locator.endRecordOffset), recordBytes, sizeof recordBytes);
    Zip64EndRecord record;
    Require(ParseZip64EndRecord(recordBytes, sizeof recordBytes, &record));
    if (locator.totalDisks > 1 || record.directoryDisk > 0 ||
        record.entriesOnDisk != record.totalEntries) {
      RaiseError(kSpanned);
    }
    Require(record.directoryOffset <= static_cast<std::uint64_t>(size));
    directoryStart_ = static_cast<std::int64_t>(record.directoryOffset);
    claimedEntries = record.totalEntries;
    claimedModulo = 0;
  }
  Require(directoryStart_ >= 0 && directoryStart_ <= size && directoryStart_ <= endPosition_);

  ReadCentralHeaders(claimedEntries);
  // A directory that yields other entries than counted was cut short or is
  // read from the wrong place: its entries cannot be trusted to be all.
  if (!(options_ & kTolerant)) {
    const std::uint64_t found = entries_.size();
    if (claimedModulo == 0) {
      Require(found == claimedEntries);
    } else if (claimedEntries == 0xFFFF) {
      // The mark of a count that did not fit.
      Require(found >= claimedEntries);
    } else {
      Require(found % claimedModulo == claimedEntries);
    }
  }
  CheckLocalHeaders();
  if (options_ & kKeepSorted) SortEntries(-1);
}

void Korbel::ReadCentralHeaders(std::uint64_t claimedEntries) {
  const std::size_t end = static_cast<std::size_t>(endPosition_ - directoryStart_);
  // An archive that may be changed keeps its directory: the headers of the
  // entries it does not touch are written back from it. Read-only, the
  // directory goes through a window, and memory holds only the entries.
  const bool keep = openMode_ >= kModify;
  if (keep) {
    keptDirectory_.resize(end);
    if (end > 0) ReadAt(directoryStart_, keptDirectory_.data(), end);
    directoryKept_ = true;
  }
  ReadWindow window(kDirectoryWindowSize);
  auto bytesAt = [&](std::size_t at, std::size_t length) -> const std::uint8_t* {
    if (keep) return keptDirectory_.data() + at;
    const unsigned char* bytes = window.Get(store_, directoryStart_ + static_cast<std::int64_t>(at), length);
    if (bytes == nullptr) RaiseError(kReadError);
    return bytes;
  };
  auto signatureAt = [&](std::size_t at) { return Read32(bytesAt(at, 4)) == kCentralHeaderSignature; };
  const bool tolerant = (options_ & kTolerant) != 0;
  std::size_t at = 0;
  // The count the end record claims sizes the table, bounded by how many
  // headers fit in the directory's bytes.
  const std::size_t expected = static_cast<std::size_t>(std::min<std::uint64_t>(claimedEntries, end / kCentralHeaderSize));
  entries_.reserve(expected);
  DosTimeConverter times;

  while (at + 4 <= end) {
    if (!signatureAt(at)) {
      if (!tolerant || end - at < kCentralHeaderSize) break;
      // Look for the next central header behind the damage.
      std::size_t next = at + 1;
      while (next + 4 <= end && !signatureAt(next)) ++next;
      if (next + 4 > end) break;
      at = next;
      continue;
    }
    CentralHeader header;
    if (end - at < kCentralHeaderSize || !ParseCentralHeader(bytesAt(at, kCentralHeaderSize), kCentralHeaderSize, &header)) {
      // A fixed part cut off by the end record.
      RaiseError(kReadError);
    }
    const int index = NewEntry();
    ZipEntry* entry = EntryAt(index);
    ApplyCentralHeader(header, entry, &times);
    entry->madeByDos = static_cast<std::uint8_t>((header.versionMadeBy >> 8) == 0);
    std::size_t cursor = at + kCentralHeaderSize;
    const std::size_t left = end - cursor;

    // Name, extra field and comment must end before the end record.
    bool intact = header.nameLength > 0 && header.nameLength <= left;
    if (intact) {
      ApplyStoredName(bytesAt(cursor, header.nameLength), header.nameLength, entry, &strings_);
      cursor += header.nameLength;
      intact = header.extraLength <= end - cursor;
    }
    if (intact) {
      if (header.extraLength > 0) {
        const std::uint8_t* extra = bytesAt(cursor, header.extraLength);
        entry->centralExtra.View(reinterpret_cast<const std::uint8_t*>(strings_.Copy(extra, header.extraLength)),
                                 header.extraLength);
      }
      entry->centralExtraLength = header.extraLength;
      cursor += header.extraLength;
      intact = header.commentLength <= end - cursor;
    }
    if (intact) {
      if (header.commentLength > 0) {
        std::string comment;
        DecodeName(bytesAt(cursor, header.commentLength), header.commentLength, header.flags, &comment);
        entry->comment.View(strings_.Copy(comment.data(), comment.size()), comment.size());
      }
      entry->commentLength = header.commentLength;
      cursor += header.commentLength;
      ParseExtraField(entry->centralExtra.data(), entry->centralExtra.size(), entry);
      entry->keptCentralAt = at;
    }
    IndexName(index);
    if (EventEnabled(kEventFound) && Report(kEventFound, index) != 0) RaiseError(kUserAbort);
    if (!intact) {
      // A tolerant load keeps what was read and looks for the next header.
      Require(tolerant);
      at += 4;
      while (at + 4 <= end && !signatureAt(at)) ++at;
      continue;
    }
    at = cursor;
  }
}

void Korbel::KeepDirectory() {
  if (directoryKept_) return;
  keptDirectory_.resize(static_cast<std::size_t>(endPosition_ - directoryStart_));
  if (!keptDirectory_.empty()) ReadAt(directoryStart_, keptDirectory_.data(), keptDirectory_.size());
  directoryKept_ = true;
}

const std::uint8_t* Korbel::KeptCentral(const ZipEntry& entry) const {
  if (entry.keptCentralAt == kNotKept || !directoryKept_) return nullptr;
  return keptDirectory_.data() + entry.keptCentralAt;
}

void Korbel::CheckLocalHeaders() {
  const bool tolerant = (options_ & kTolerant) != 0;
  // Local headers mostly follow each other closely: reading a window ahead
  // saves two system calls per entry.
  ReadWindow window(kReadAheadSize);
  std::vector<std::uint8_t> longer;
  // The `length` bytes at `position`, valid until the next call.
  auto bytesAt = [&](std::int64_t position, std::size_t length) -> const std::uint8_t* {
    if (const unsigned char* bytes = window.Get(store_, position, length)) return bytes;
    // Longer than the window, or past the end: read directly (and fail there).
    longer.resize(length);
    ReadAt(position, longer.data(), length);
    return longer.data();
  };
  // Where each entry's local header starts and its data ends, to find
  // entries that share bytes once every header is read.
  struct Region {
    std::uint64_t start;
    std::uint64_t end;
    ZipEntry* entry;
  };
  std::vector<Region> regions;
  regions.reserve(entries_.size());
  for (ZipEntry* entry : entries_) {
    entry->written = 1;
    entry->flags &= kLocalFlagsKept;
    bool placed = entry->localHeaderOffset <= static_cast<std::uint64_t>(directoryStart_) &&
                  static_cast<std::uint64_t>(directoryStart_) - entry->localHeaderOffset >= kLocalHeaderSize;
    LocalHeader local;
    if (placed) {
      placed = ParseLocalHeader(bytesAt(static_cast<std::int64_t>(entry->localHeaderOffset), kLocalHeaderSize),
                                kLocalHeaderSize, &local);
    }
    if (!placed) {
      Require(tolerant);
      entry->faulty = 1;
      entry->localExtraLength = 0;
      continue;
    }
    const std::int64_t variable = static_cast<std::int64_t>(local.nameLength) + local.extraLength;
    const std::int64_t nameAt = static_cast<std::int64_t>(entry->localHeaderOffset + kLocalHeaderSize);
    bool good = variable <= sourceSize_ - nameAt;
    if (good) {
      const std::uint8_t* rest = bytesAt(nameAt, static_cast<std::size_t>(variable));
      good = LocalNameMatches(rest, local.nameLength, local.flags, *entry);
      if (local.extraLength > 0) {
        entry->localExtra.View(
            reinterpret_cast<const std::uint8_t*>(strings_.Copy(rest + local.nameLength, local.extraLength)),
            local.extraLength);
      }
      entry->localExtraLength = local.extraLength;
      ParseExtraField(entry->localExtra.data(), entry->localExtra.size(), entry);
    }
    if (good && (local.flags & kFlagDataDescriptor)) {
      // Behind a local Zip64 block the descriptor holds 64-bit sizes.
      std::size_t zip64At = 0, zip64Size = 0;
      const bool zip64 = FindExtraBlock(entry->localExtra.data(), entry->localExtra.size(), kZip64ExtraId,
                                        &zip64At, &zip64Size);
      entry->descriptorLength = static_cast<std::uint8_t>(zip64 ? kZip64DataDescriptorSize : kDataDescriptorSize);
      std::uint64_t compressed = local.compressedSize;
      if (compressed == 0 || compressed == kZip64Marker) compressed = entry->compressedSize;
      // The data must leave room for the descriptor's signature inside the
      // source; compared so that no sum can wrap.
      const std::uint64_t dataAt = static_cast<std::uint64_t>(nameAt + variable);
      const std::uint64_t size = static_cast<std::uint64_t>(sourceSize_);
      good = size >= 4 && dataAt <= size - 4 && compressed <= size - 4 - dataAt;
      const std::uint64_t descriptor = dataAt + (good ? compressed : 0);
      if (good) good = Read32(bytesAt(static_cast<std::int64_t>(descriptor), 4)) == kDataDescriptorSignature;
    }
    if (good) {
      // The data ends before the directory starts, or its size lies.
      const std::uint64_t dataAt = static_cast<std::uint64_t>(nameAt + variable);
      const std::uint64_t limit = static_cast<std::uint64_t>(directoryStart_);
      good = dataAt <= limit && entry->compressedSize <= limit - dataAt;
      if (good) regions.push_back({entry->localHeaderOffset, dataAt + entry->compressedSize, entry});
    }
    if (!good) {
      Require(tolerant);
      entry->faulty = 1;
    }
  }
  // Two entries whose bytes overlap (one local header read for several
  // entries, or one entry's data holding the next entries' headers) make an
  // archive whose output can far exceed its size: it is refused.
  std::sort(regions.begin(), regions.end(),
            [](const Region& a, const Region& b) { return a.start < b.start; });
  for (std::size_t i = 1; i < regions.size(); ++i) {
    if (regions[i].start >= regions[i - 1].end) continue;
    Require(tolerant);
    regions[i].entry->faulty = 1;
    // The later entry is dropped from the comparison; the earlier one's end
    // still bounds the ones behind it.
    regions[i].end = std::max(regions[i].end, regions[i - 1].end);
  }
}

}  // namespace korbel
