#include "zip/directory_locator.h"

#include <algorithm>
#include <cstring>

#include "zip/error_codes.h"
#include "zip/format/central_header.h"
#include "zip/format/end_record.h"
#include "zip/format/zip64_end_record.h"
#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"

namespace korbel {
namespace {

constexpr std::int64_t kSearchBlock = 4096;
constexpr std::uint64_t kCountMarker = 0xFFFF;

std::uint32_t Read32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Reads of the source by position. A read that would pass the end of the
// source is answered false; one the store cuts short inside it is code 11.
class Source {
 public:
  Source(ArchiveStore& store, std::int64_t size) : store_(store), size_(size) {}

  std::int64_t size() const { return size_; }

  bool Read(std::int64_t position, void* buffer, std::size_t length) {
    if (position < 0 || position > size_ || static_cast<std::uint64_t>(size_ - position) < length)
      return false;
    if (store_.Seek(position, platform::kSeekBegin) != position) RaiseError(kReadError);
    if (store_.Read(buffer, length) != static_cast<std::int64_t>(length)) RaiseError(kReadError);
    return true;
  }

  bool SignatureAt(std::int64_t position, std::uint32_t signature) {
    unsigned char bytes[4];
    return Read(position, bytes, sizeof bytes) && Read32(bytes) == signature;
  }

 private:
  ArchiveStore& store_;
  std::int64_t size_;
};

// The end record signatures of the source from the last one backwards, read
// in blocks of 4096 bytes; a signature that straddles two blocks is found.
class SignatureScan {
 public:
  explicit SignatureScan(Source& source) : source_(source) {
    const std::int64_t size = source.size();
    start_ = size - size % kSearchBlock;
    length_ = size % kSearchBlock;
    if (length_ == 0) {
      start_ -= kSearchBlock;
      length_ = kSearchBlock;
    }
  }

  // The next signature's position, -1 when there is none.
  std::int64_t Next() {
    for (;;) {
      if (!loaded_) {
        if (start_ < 0) return -1;
        // The first bytes of the block behind this one go behind it.
        std::memmove(block_ + length_, block_, carried_);
        if (!source_.Read(start_, block_, static_cast<std::size_t>(length_))) RaiseError(kReadError);
        const std::size_t filled = static_cast<std::size_t>(length_) + carried_;
        left_ = filled >= 4 ? filled - 3 : 0;
        loaded_ = true;
      }
      while (left_ > 0) {
        --left_;
        if (Read32(block_ + left_) == kEndRecordSignature) return start_ + static_cast<std::int64_t>(left_);
      }
      carried_ = static_cast<std::size_t>(std::min<std::int64_t>(3, length_));
      start_ -= kSearchBlock;
      length_ = kSearchBlock;
      loaded_ = false;
    }
  }

 private:
  Source& source_;
  unsigned char block_[kSearchBlock + 3];
  std::int64_t start_ = 0;
  std::int64_t length_ = 0;
  std::size_t carried_ = 0;
  std::size_t left_ = 0;  // places in the block not yet looked at
  bool loaded_ = false;
};

// What an end record says, with the Zip64 records' values where it holds
// their markers.
struct Claim {
  std::uint64_t disk = 0;
  std::uint64_t directoryDisk = 0;
  std::uint64_t entriesOnDisk = 0;
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  std::uint64_t totalDisks = 1;
  // Where the directory ends: the Zip64 end record, or the end record.
  std::int64_t directoryEnd = 0;
  bool zip64 = false;
  // A Zip64 end record of the second form, which describes a compressed or
  // encrypted central directory.
  bool sealedDirectory = false;
};

// The second form of the Zip64 end record (version 6.2 on) carries the
// compression and encryption of the directory in 28 more bytes.
constexpr std::uint16_t kVersionSealedDirectory = 62;
constexpr std::uint64_t kSealedRecordRest = 44 + 28;

// The Zip64 records in front of the end record at `at`: the locator right
// before it, and the Zip64 end record where the locator says or, when data
// put in front of the archive displaced it, right before the locator.
bool FindZip64Records(Source& source, std::int64_t at, Zip64Locator* locator, Zip64EndRecord* record,
                      std::int64_t* recordAt) {
  const std::int64_t locatorAt = at - static_cast<std::int64_t>(kZip64LocatorSize);
  unsigned char raw[kZip64EndRecordSize];
  if (locatorAt < 0 || !source.Read(locatorAt, raw, kZip64LocatorSize) ||
      !ParseZip64Locator(raw, kZip64LocatorSize, locator)) {
    return false;
  }
  const std::int64_t adjacent = locatorAt - static_cast<std::int64_t>(kZip64EndRecordSize);
  if (adjacent < 0) return false;
  // The record stands before its locator; a displacement only moves it back.
  if (locator->endRecordOffset > static_cast<std::uint64_t>(adjacent)) return false;
  for (const std::int64_t place : {static_cast<std::int64_t>(locator->endRecordOffset), adjacent}) {
    if (source.Read(place, raw, sizeof raw) && ParseZip64EndRecord(raw, sizeof raw, record)) {
      *recordAt = place;
      return true;
    }
  }
  return false;
}

// A value of the end record: the Zip64 value where it holds the marker, else
// its own, which must then be the Zip64 value's low bits.
bool Resolve(std::uint64_t plain, std::uint64_t marker, std::uint64_t wide, std::uint64_t* out) {
  if (plain != marker && plain != (wide & marker)) return false;
  *out = wide;
  return true;
}

// kOk, or the code of a claim whose records are missing or contradict each
// other.
int ReadClaim(Source& source, std::int64_t at, const EndRecord& record, Claim* claim) {
  claim->disk = record.diskNumber;
  claim->directoryDisk = record.directoryDisk;
  claim->entriesOnDisk = record.entriesOnDisk;
  claim->entries = record.totalEntries;
  claim->size = record.directorySize;
  claim->offset = record.directoryOffset;
  claim->directoryEnd = at;
  Zip64Locator locator;
  Zip64EndRecord wide;
  std::int64_t wideAt = 0;
  if (!FindZip64Records(source, at, &locator, &wide, &wideAt)) {
    const bool needed = record.directoryOffset == kZip64Marker || record.directorySize == kZip64Marker;
    return needed ? kBadFormat : kOk;
  }
  const bool agree = Resolve(record.diskNumber, kCountMarker, wide.diskNumber, &claim->disk) &&
                     Resolve(record.directoryDisk, kCountMarker, wide.directoryDisk, &claim->directoryDisk) &&
                     Resolve(record.entriesOnDisk, kCountMarker, wide.entriesOnDisk, &claim->entriesOnDisk) &&
                     Resolve(record.totalEntries, kCountMarker, wide.totalEntries, &claim->entries) &&
                     Resolve(record.directorySize, kZip64Marker, wide.directorySize, &claim->size) &&
                     Resolve(record.directoryOffset, kZip64Marker, wide.directoryOffset, &claim->offset);
  if (!agree) return kBadFormat;
  claim->totalDisks = locator.totalDisks;
  claim->directoryEnd = wideAt;
  claim->zip64 = true;
  claim->sealedDirectory =
      (wide.versionNeeded & 0xFF) >= kVersionSealedDirectory && wide.recordSize >= kSealedRecordRest;
  return kOk;
}

// What one candidate gives: whether it fits its surroundings, and the code
// it raises when taken.
struct Verdict {
  bool fits;
  int code;
};

Verdict Examine(Source& source, std::int64_t at, bool tolerant, EndRecord* record, DirectoryPlace* place) {
  unsigned char raw[kEndRecordSize];
  if (!source.Read(at, raw, sizeof raw) || !ParseEndRecord(raw, sizeof raw, record))
    return {false, kReadError};
  const bool commentReachesEnd = source.size() - at - static_cast<std::int64_t>(kEndRecordSize) ==
                                 static_cast<std::int64_t>(record->commentLength);
  Claim claim;
  const int code = ReadClaim(source, at, *record, &claim);
  if (code != kOk) return {commentReachesEnd, code};
  // The directory ends where the records behind it begin: data in front of
  // the archive shifts both, whatever the offset field says.
  const bool placeable = claim.size <= static_cast<std::uint64_t>(claim.directoryEnd);
  const std::int64_t start = placeable ? claim.directoryEnd - static_cast<std::int64_t>(claim.size) : -1;
  const bool empty = claim.entries == 0 && claim.size == 0;
  const bool headed = placeable && claim.size >= 4 && source.SignatureAt(start, kCentralHeaderSignature);
  const bool fits = commentReachesEnd || headed ||
                    (empty && claim.offset == static_cast<std::uint64_t>(claim.directoryEnd));
  if (!fits) return {false, kBadFormat};
  if (claim.totalDisks > 1 || claim.disk > 1 || claim.directoryDisk > 0 ||
      claim.entriesOnDisk != claim.entries) {
    return {true, kSpanned};
  }
  // Offsets that point behind the directory's real place, or a directory
  // claiming entries that does not start with a central header.
  if (!placeable || claim.offset > static_cast<std::uint64_t>(start)) return {true, kBadFormat};
  // A directory that is not readable as headers because it is encrypted
  // is a scheme the engine does not read, not damage.
  if (!empty && !headed && !tolerant) return {true, claim.sealedDirectory ? kUnsupported : kBadFormat};
  place->start = start;
  place->endRecord = at;
  place->displacement = start - static_cast<std::int64_t>(claim.offset);
  place->entries = claim.entries;
  place->modulo = claim.zip64 ? 0 : 0x10000;
  return {true, kOk};
}

}  // namespace

DirectoryPlace LocateDirectory(ArchiveStore& store, std::int64_t size, bool tolerant) {
  Source source(store, size);
  SignatureScan scan(source);
  // Without a fitting candidate, the last one in the source tells why.
  int firstCode = kBadFormat;
  bool first = true;
  for (std::int64_t at = scan.Next(); at >= 0; at = scan.Next()) {
    EndRecord record;
    DirectoryPlace place;
    const Verdict verdict = Examine(source, at, tolerant, &record, &place);
    if (verdict.fits) {
      if (verdict.code != kOk) RaiseError(verdict.code);
      place.comment.resize(record.commentLength);
      if (record.commentLength > 0 && !source.Read(at + static_cast<std::int64_t>(kEndRecordSize),
                                                   place.comment.data(), place.comment.size())) {
        RaiseError(kReadError);
      }
      return place;
    }
    if (first) firstCode = verdict.code;
    first = false;
  }
  RaiseError(firstCode);
}

}  // namespace korbel
