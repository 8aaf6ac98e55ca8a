// Loading the central directory: finding the end records, reading every
// central header and checking every local header.
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "zip/directory_locator.h"
#include "zip/format/byte_cursor.h"
#include "zip/format/central_header.h"
#include "zip/format/extra_fields.h"
#include "zip/format/local_header.h"
#include "zip/format/name_codec.h"
#include "zip/format/stored_name.h"
#include "zip/io/read_window.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

constexpr std::uint16_t kLocalFlagsKept = 0x1FFF;  // bits 13 to 15 are cleared
constexpr std::size_t kReadAheadSize = 65536;
// Larger than the longest central header (46 bytes and three 16-bit lengths).
constexpr std::size_t kDirectoryWindowSize = 256 * 1024;

std::uint32_t Read32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A check of the structure: code 3 when it fails.
void Require(bool condition) {
  if (!condition) RaiseError(kBadFormat);
}

// The bytes of the central directory, by their place in it: from the copy
// kept in memory, or read through a window.
class DirectoryBytes {
 public:
  DirectoryBytes(ArchiveStore& store, std::int64_t start, const std::vector<std::uint8_t>* kept)
      : store_(store), start_(start), kept_(kept) {}

  const std::uint8_t* At(std::size_t at, std::size_t length) {
    if (kept_ != nullptr) return kept_->data() + at;
    const unsigned char* bytes = window_.Get(store_, start_ + static_cast<std::int64_t>(at), length);
    if (bytes == nullptr) RaiseError(kReadError);
    return bytes;
  }
  bool SignatureAt(std::size_t at) { return Read32(At(at, 4)) == kCentralHeaderSignature; }
  // The place of the first central header signature from `at` on, or a
  // place too close to `end` for one.
  std::size_t NextSignature(std::size_t at, std::size_t end) {
    while (at + 4 <= end && !SignatureAt(at)) ++at;
    return at;
  }

 private:
  ArchiveStore& store_;
  std::int64_t start_;
  const std::vector<std::uint8_t>* kept_;
  ReadWindow window_{kDirectoryWindowSize};
};

// Reads the name, extra field and comment behind the fixed part of the
// central header at `at` into `entry`; false when they do not all end
// before `end`. `*next` is then where the next header starts.
bool ApplyVariableFields(DirectoryBytes& bytes, const CentralHeader& header, std::size_t at, std::size_t end,
                         ZipEntry* entry, StringArena* strings, std::size_t* next) {
  std::size_t cursor = at + kCentralHeaderSize;
  if (header.nameLength == 0 || header.nameLength > end - cursor) return false;
  // The name and the extra field, read together: the extra field may hold
  // the name in Unicode.
  const bool extraFits = header.extraLength <= end - cursor - header.nameLength;
  const std::size_t extraLength = extraFits ? header.extraLength : 0;
  const std::uint8_t* name = bytes.At(cursor, header.nameLength + extraLength);
  ApplyStoredName(name, header.nameLength, entry, strings, name + header.nameLength, extraLength);
  cursor += header.nameLength;
  if (!extraFits) return false;
  if (header.extraLength > 0) {
    entry->centralExtra.View(
        reinterpret_cast<const std::uint8_t*>(strings->Share(name + header.nameLength, header.extraLength)),
        header.extraLength);
  }
  entry->centralExtraLength = header.extraLength;
  cursor += header.extraLength;
  if (header.commentLength > end - cursor) return false;
  if (header.commentLength > 0) {
    std::string comment;
    DecodeName(bytes.At(cursor, header.commentLength), header.commentLength, header.flags, &comment);
    entry->comment.View(strings->Copy(comment.data(), comment.size()), comment.size());
  }
  entry->commentLength = header.commentLength;
  cursor += header.commentLength;
  ParseExtraField(entry->centralExtra.data(), entry->centralExtra.size(), entry);
  entry->keptCentralAt = at;
  *next = cursor;
  return true;
}

// Where the bytes of an entry whose local header passed the check end: its
// local header, then its data.
std::uint64_t RegionEnd(const ZipEntry& entry) {
  return entry.localHeaderOffset + kLocalHeaderSize + entry.nameLength + entry.localExtraLength +
         entry.compressedSize;
}

// Reads each entry's local header and checks it against the central one,
// noting the bytes each entry takes.
class LocalHeaderCheck {
 public:
  enum Result { kGood, kMissing, kBad };

  LocalHeaderCheck(ArchiveStore& store, StringArena& strings, std::int64_t directoryStart,
                   std::int64_t sourceSize)
      : store_(store), strings_(strings), directoryStart_(directoryStart), sourceSize_(sourceSize) {}

  // kMissing when no local header lies where the entry says, kBad when it
  // does not match or the entry's data does not fit before the directory.
  Result Check(ZipEntry* entry) {
    LocalHeader local;
    if (!ReadFixedPart(*entry, &local)) return kMissing;
    const std::int64_t variable = static_cast<std::int64_t>(local.nameLength) + local.extraLength;
    const std::int64_t nameAt = static_cast<std::int64_t>(entry->localHeaderOffset + kLocalHeaderSize);
    if (variable > sourceSize_ - nameAt) return kBad;
    const std::uint8_t* rest = BytesAt(nameAt, static_cast<std::size_t>(variable));
    // The entry's data is found behind the central name's length.
    const bool named =
        local.nameLength == entry->nameLength && LocalNameMatches(rest, local.nameLength, local.flags, *entry,
                                                                  rest + local.nameLength, local.extraLength);
    if (local.extraLength > 0) {
      entry->localExtra.View(
          reinterpret_cast<const std::uint8_t*>(strings_.Share(rest + local.nameLength, local.extraLength)),
          local.extraLength);
    }
    entry->localExtraLength = local.extraLength;
    // Whether an entry is AES-encrypted is the central header's word alone:
    // an AES block in the local header only must not waive its CRC check.
    const std::uint8_t aesInfo = entry->aesInfo;
    const std::uint8_t aesMethod = entry->aesMethod;
    ParseExtraField(entry->localExtra.data(), entry->localExtra.size(), entry);
    entry->aesInfo = aesInfo;
    entry->aesMethod = aesMethod;
    if (!named || !HeadersAgree(local, *entry)) return kBad;
    const std::uint64_t dataAt = static_cast<std::uint64_t>(nameAt + variable);
    if ((local.flags & kFlagDataDescriptor) && !DescriptorFollows(entry, local, dataAt)) return kBad;
    // The data ends before the directory starts, or its size lies.
    const std::uint64_t limit = static_cast<std::uint64_t>(directoryStart_);
    if (dataAt > limit || entry->compressedSize > limit - dataAt) return kBad;
    if (entry->localHeaderOffset < lastStart_) inOrder_ = false;
    lastStart_ = entry->localHeaderOffset;
    return kGood;
  }

  // Two entries whose bytes overlap (one local header read for several
  // entries, or one entry's data holding the next entries' headers) make an
  // archive whose output can far exceed its size: it is refused, or in a
  // tolerant load the later entry is marked faulty. `entries` are the
  // checked ones, those that failed the check marked faulty already. Their
  // bytes are compared in the order of their local headers, which is mostly
  // the directory's own: only an archive in another order pays for a sorted
  // copy of the table.
  void CheckOverlaps(const EntryTable::Entries& entries, bool tolerant) const {
    if (inOrder_) {
      CheckInOrder(entries, tolerant);
      return;
    }
    EntryTable::Entries sorted;
    sorted.reserve(entries.size());
    for (ZipEntry* entry : entries) {
      if (!entry->faulty) sorted.push_back(entry);
    }
    std::sort(sorted.begin(), sorted.end(), [](const ZipEntry* a, const ZipEntry* b) {
      return a->localHeaderOffset < b->localHeaderOffset;
    });
    CheckInOrder(sorted, tolerant);
  }

 private:
  // The `length` bytes at `position`, valid until the next call. Local
  // headers mostly follow each other closely: reading a window ahead saves
  // two system calls per entry.
  const std::uint8_t* BytesAt(std::int64_t position, std::size_t length) {
    if (const unsigned char* bytes = window_.Get(store_, position, length)) return bytes;
    // Longer than the window, or past the end: read directly (and fail there).
    longer_.resize(length);
    store_.ReadAt(position, longer_.data(), length);
    return longer_.data();
  }

  bool ReadFixedPart(const ZipEntry& entry, LocalHeader* local) {
    const std::uint64_t directoryStart = static_cast<std::uint64_t>(directoryStart_);
    if (entry.localHeaderOffset > directoryStart ||
        directoryStart - entry.localHeaderOffset < kLocalHeaderSize) {
      return false;
    }
    return ParseLocalHeader(BytesAt(static_cast<std::int64_t>(entry.localHeaderOffset), kLocalHeaderSize),
                            kLocalHeaderSize, local);
  }

  // Whether the local header states what the central one does: the same
  // method, encryption and descriptor bits and, unless a descriptor defers
  // them, the same CRC and sizes (or 0 there). Two readers of one archive
  // must not be able to get two different files out of it.
  static bool HeadersAgree(const LocalHeader& local, const ZipEntry& entry) {
    constexpr std::uint16_t kCompared = kFlagEncrypted | kFlagDataDescriptor;
    if (local.method != entry.method || (local.flags & kCompared) != (entry.flags & kCompared)) return false;
    if (local.flags & kFlagDataDescriptor) return true;
    std::uint64_t uncompressed = local.uncompressedSize;
    std::uint64_t compressed = local.compressedSize;
    if (uncompressed == kZip64Marker || compressed == kZip64Marker) {
      std::size_t at = 0, size = 0;
      if (!FindExtraBlock(entry.localExtra.data(), entry.localExtra.size(), kZip64ExtraId, &at, &size))
        return false;
      ByteCursor block(entry.localExtra.data() + at, size);
      if (uncompressed == kZip64Marker) uncompressed = block.Get64();
      if (compressed == kZip64Marker) compressed = block.Get64();
      if (!block.ok()) return false;
    }
    const auto sameOrZero = [](std::uint64_t stated, std::uint64_t central) {
      return stated == 0 || stated == central;
    };
    return sameOrZero(local.crc32, entry.crc32) && sameOrZero(uncompressed, entry.uncompressedSize) &&
           sameOrZero(compressed, entry.compressedSize);
  }

  // Whether a data descriptor follows the data at `dataAt`: with its
  // signature, or without one (an older form every reader accepts), then
  // recognised by the entry's CRC and compressed size.
  bool DescriptorFollows(ZipEntry* entry, const LocalHeader& local, std::uint64_t dataAt) {
    // Behind a local Zip64 block the descriptor holds 64-bit sizes.
    std::size_t zip64At = 0, zip64Size = 0;
    const bool zip64 = FindExtraBlock(entry->localExtra.data(), entry->localExtra.size(), kZip64ExtraId,
                                      &zip64At, &zip64Size);
    std::uint64_t compressed = local.compressedSize;
    if (compressed == 0 || compressed == kZip64Marker) compressed = entry->compressedSize;
    // Compared so that no sum can wrap.
    const std::uint64_t size = static_cast<std::uint64_t>(sourceSize_);
    if (dataAt > size || compressed > size - dataAt) return false;
    const std::uint64_t at = dataAt + compressed;
    const std::size_t sizesLength = zip64 ? 16 : 8;
    const std::size_t available =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - at, 4 + 4 + sizesLength));
    if (available < 4) return false;
    const std::uint8_t* bytes = BytesAt(static_cast<std::int64_t>(at), available);
    const bool withSignature = Read32(bytes) == kDataDescriptorSignature;
    if (!withSignature) {
      // Without its signature only the entry's own values make it one.
      if (available < 4 + sizesLength) return false;
      ByteCursor values(bytes, 4 + sizesLength);
      const std::uint32_t crc = values.Get32();
      const std::uint64_t stated = zip64 ? values.Get64() : values.Get32();
      if (crc != entry->crc32 || stated != entry->compressedSize) return false;
    }
    const std::size_t length =
        (zip64 ? kZip64DataDescriptorSize : kDataDescriptorSize) - (withSignature ? 0 : 4);
    entry->descriptorLength = static_cast<std::uint8_t>(length);
    return true;
  }

  ArchiveStore& store_;
  StringArena& strings_;
  std::int64_t directoryStart_;
  std::int64_t sourceSize_;
  ReadWindow window_{kReadAheadSize};
  // The entries ordered by their local headers: an entry starting before
  // the end of any entry in front of it overlaps. A faulty entry is not
  // compared; one marked here still bounds the ones behind it.
  static void CheckInOrder(const EntryTable::Entries& ordered, bool tolerant) {
    std::uint64_t reach = 0;
    for (ZipEntry* entry : ordered) {
      if (entry->faulty) continue;
      if (entry->localHeaderOffset < reach) {
        Require(tolerant);
        entry->faulty = 1;
      }
      reach = std::max(reach, RegionEnd(*entry));
    }
  }

  std::vector<std::uint8_t> longer_;
  // Whether the entries that passed came in the order of their local headers.
  std::uint64_t lastStart_ = 0;
  bool inOrder_ = true;
};

// Data put in front of an archive without its offsets being adjusted moves
// every local header back by the same length. Writers that adjusted the
// local offsets but not the directory's leave them right: the first entry's
// local header tells which.
void ApplyDisplacement(ArchiveStore& store, const EntryTable::Entries& entries, std::int64_t displacement) {
  if (entries.empty() || displacement <= 0) return;
  const auto shift = static_cast<std::uint64_t>(displacement);
  const auto shifted = [shift](std::uint64_t offset) {
    return offset > UINT64_MAX - shift ? UINT64_MAX : offset + shift;
  };
  const std::uint64_t first = shifted(entries.front()->localHeaderOffset);
  const std::int64_t size = store.Size();
  if (size < 4 || first > static_cast<std::uint64_t>(size - 4)) return;
  unsigned char signature[4];
  store.ReadAt(static_cast<std::int64_t>(first), signature, sizeof signature);
  if (Read32(signature) != kLocalHeaderSignature) return;
  for (ZipEntry* entry : entries) entry->localHeaderOffset = shifted(entry->localHeaderOffset);
}

// What loading the directory reads from and fills.
struct DirectoryLoad {
  ArchiveStore& store;
  EntryTable& table;
  const ArchiveTail& tail;
  KeptDirectory& kept;
  // An archive that may be changed keeps its directory: the headers of the
  // entries it does not touch are written back from it. Read-only, the
  // directory goes through a window, and memory holds only the entries.
  bool keep = false;
  bool tolerant = false;
};

// What the end records say of the directory's entries.
struct DirectoryClaim {
  std::uint64_t entries = 0;
  // The 16-bit count of the plain record wraps when a writer left out the
  // Zip64 records; 0 when the count is exact.
  std::uint64_t modulo = 0x10000;
};

// A directory that yields other entries than counted was cut short or is
// read from the wrong place: its entries cannot be trusted to be all.
void CheckEntryCount(const DirectoryClaim& claim, std::uint64_t found) {
  if (claim.modulo == 0) {
    Require(found == claim.entries);
  } else if (claim.entries == 0xFFFF) {
    // The mark of a count that did not fit.
    Require(found >= claim.entries);
  } else {
    Require(found % claim.modulo == claim.entries);
  }
}

// Reads the central headers into the table; `found` hears of each entry and
// stops the load with true.
void ReadCentralHeaders(const DirectoryLoad& load, std::uint64_t claimedEntries,
                        const std::function<bool(int)>& found) {
  const std::size_t end = static_cast<std::size_t>(load.tail.LoadedDirectorySize());
  // An archive that may be changed keeps its directory: the headers of the
  // entries it does not touch are written back from it. Read-only, the
  // directory goes through a window, and memory holds only the entries.
  if (load.keep) load.kept.Keep(load.store, load.tail.DirectoryStart(), end);
  DirectoryBytes bytes(load.store, load.tail.DirectoryStart(), load.kept.Bytes());
  const bool tolerant = load.tolerant;
  // The count the end record claims sizes the table, bounded by how many
  // headers fit in the directory's bytes.
  load.table.Reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(claimedEntries, end / kCentralHeaderSize)));
  DosTimeConverter times;
  std::size_t at = 0;
  while (at + 4 <= end) {
    if (!bytes.SignatureAt(at)) {
      if (!tolerant || end - at < kCentralHeaderSize) break;
      // Look for the next central header behind the damage.
      at = bytes.NextSignature(at + 1, end);
      continue;
    }
    CentralHeader header;
    if (end - at < kCentralHeaderSize ||
        !ParseCentralHeader(bytes.At(at, kCentralHeaderSize), kCentralHeaderSize, &header)) {
      // A fixed part cut off by the end record.
      RaiseError(kReadError);
    }
    const int index = load.table.New();
    ZipEntry* entry = load.table.At(index);
    ApplyCentralHeader(header, entry, &times);
    entry->madeByDos = static_cast<std::uint8_t>((header.versionMadeBy >> 8) == 0);
    // Name, extra field and comment must end before the end record.
    std::size_t next = at;
    const bool intact = ApplyVariableFields(bytes, header, at, end, entry, &load.table.Strings(), &next);
    load.table.IndexName(index);
    if (found(index)) RaiseError(kUserAbort);
    if (!intact) {
      // A tolerant load keeps what was read and looks for the next header.
      Require(tolerant);
      at = bytes.NextSignature(at + 4, end);
      continue;
    }
    at = next;
  }
}

void CheckLocalHeaders(const DirectoryLoad& load, std::int64_t sourceSize) {
  const bool tolerant = load.tolerant;
  LocalHeaderCheck check(load.store, load.table.Strings(), load.tail.DirectoryStart(), sourceSize);
  for (ZipEntry* entry : load.table.All()) {
    entry->written = 1;
    entry->flags &= kLocalFlagsKept;
    const LocalHeaderCheck::Result result = check.Check(entry);
    if (result == LocalHeaderCheck::kGood) continue;
    Require(tolerant);
    entry->faulty = 1;
    if (result == LocalHeaderCheck::kMissing) entry->localExtraLength = 0;
  }
  check.CheckOverlaps(load.table.All(), tolerant);
}

}  // namespace

int Korbel::LoadDirectory(int /*loaderArgument*/) {
  SetLastError(kOk);
  try {
    LoadDirectoryOrThrow();
  } catch (const EngineFault& fault) {
    SetLastError(fault.code);
    if (EventEnabled(kEventError)) Report(kEventError, -1);
    Discard();
    return fault.code;
  } catch (const std::bad_alloc&) {
    SetLastError(kNoMemory);
    if (EventEnabled(kEventError)) Report(kEventError, -1);
    Discard();
    return kNoMemory;
  }
  SetLastError(kOk);
  return kOk;
}

void Korbel::LoadDirectoryOrThrow() {
  ClearTable();
  comment_.Forget();
  const std::int64_t size = store_.Size();
  sourceSize_ = size;
  if (size <= 0) {
    // Only a new archive may start empty; its directory is written at close.
    Require(openMode_ == kCreate);
    tail_.Empty();
    return;
  }

  const bool tolerant = (options_ & kTolerant) != 0;
  DirectoryPlace place = LocateDirectory(store_, size, tolerant);
  tail_.Loaded(place.start, place.endRecord);
  comment_.Loaded(std::move(place.comment));
  DirectoryClaim claim;
  claim.entries = place.entries;
  claim.modulo = place.modulo;
  const DirectoryLoad load{store_, table_, tail_, keptDirectory_, openMode_ >= kModify, tolerant};
  ReadCentralHeaders(load, claim.entries, [this](int index) {
    return EventEnabled(kEventFound) && Report(kEventFound, index) != 0;
  });
  if (!tolerant) CheckEntryCount(claim, static_cast<std::uint64_t>(EntryCount()));
  if (place.displacement != 0) ApplyDisplacement(store_, table_.All(), place.displacement);
  CheckLocalHeaders(load, sourceSize_);
  if (options_ & kKeepSorted) SortEntries(-1);
}

}  // namespace korbel
