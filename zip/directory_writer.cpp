// Writing the central directory and the end records behind the entry data.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "zip/directory_writer.h"
#include "zip/format/byte_cursor.h"
#include "zip/format/central_header.h"
#include "zip/format/end_record.h"
#include "zip/format/extra_fields.h"
#include "zip/format/name_codec.h"
#include "zip/format/stored_name.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

// The directory goes out in pieces of about this size.
constexpr std::size_t kFlushSize = 1 << 16;

// Encoding at most doubles a text, and a folder gains a '/': anything shorter
// fits without being encoded first.
constexpr std::size_t kSurelyFits = 0xFFFF / 2 - 1;

// Where the fields the kept header writer looks at sit in a central header.
constexpr std::size_t kVersionNeededAt = 6;
constexpr std::size_t kCompressedAt = 20;
constexpr std::size_t kUncompressedAt = 24;
constexpr std::size_t kNameLengthAt = 28;
constexpr std::size_t kExtraLengthAt = 30;
constexpr std::size_t kOffsetAt = 42;

std::uint64_t GetAt(const std::uint8_t* bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | bytes[at + i - 1];
  return value;
}

void PutAt(std::vector<std::uint8_t>* bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) (*bytes)[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

bool AppendKeptCentralHeader(const ZipEntry& entry, const std::uint8_t* kept,
                             std::vector<std::uint8_t>* out) {
  const std::uint8_t* keptEnd = kept + KeptCentralSize(entry);
  const std::size_t nameLength = static_cast<std::size_t>(GetAt(kept, kNameLengthAt, 2));
  const std::size_t extraLength = static_cast<std::size_t>(GetAt(kept, kExtraLengthAt, 2));
  const std::size_t extraAt = kCentralHeaderSize + nameLength;
  const bool uncompressedIn64 = GetAt(kept, kUncompressedAt, 4) == kZip64Marker;
  const bool compressedIn64 = GetAt(kept, kCompressedAt, 4) == kZip64Marker;
  const bool offsetIn64 = GetAt(kept, kOffsetAt, 4) == kZip64Marker;
  const std::uint64_t offset = entry.localHeaderOffset;
  // In a Zip64 block the offset follows the sizes that are there too.
  const std::size_t offsetSlot = 8 * (static_cast<std::size_t>(uncompressedIn64) + compressedIn64);
  std::size_t blockAt = 0, blockSize = 0;
  const bool hasBlock = FindExtraBlock(kept + extraAt, extraLength, kZip64ExtraId, &blockAt, &blockSize);

  if (offsetIn64 && hasBlock && blockSize >= offsetSlot + 8) {
    const std::size_t start = out->size();
    out->insert(out->end(), kept, keptEnd);
    PutAt(out, start + extraAt + blockAt + offsetSlot, offset, 8);
    return true;
  }
  if (!offsetIn64 && !NeedsZip64(offset)) {
    const std::size_t start = out->size();
    out->insert(out->end(), kept, keptEnd);
    PutAt(out, start + kOffsetAt, offset, 4);
    return true;
  }

  // The offset needs a Zip64 value the block does not have room for: the
  // block is made again with the sizes it held and the offset, in front of
  // the other blocks.
  std::vector<std::uint8_t> extra;
  ByteWriter writer(&extra);
  writer.Put16(kZip64ExtraId);
  writer.Put16(static_cast<std::uint16_t>(offsetSlot + 8));
  if (uncompressedIn64) writer.Put64(entry.uncompressedSize);
  if (compressedIn64) writer.Put64(entry.compressedSize);
  writer.Put64(offset);
  const std::uint8_t* old = kept + extraAt;
  std::size_t at = 0;
  while (at + 4 <= extraLength) {
    const std::size_t size = static_cast<std::size_t>(old[at + 2] | (old[at + 3] << 8));
    const std::size_t end = std::min(extraLength, at + 4 + size);
    const bool zip64 = (old[at] | (old[at + 1] << 8)) == kZip64ExtraId;
    if (!zip64) extra.insert(extra.end(), old + at, old + end);
    at = end;
  }
  if (at < extraLength) extra.insert(extra.end(), old + at, old + extraLength);
  if (extra.size() > 0xFFFF) return false;

  std::vector<std::uint8_t> header(kept, kept + extraAt);
  PutAt(&header, kOffsetAt, kZip64Marker, 4);
  PutAt(&header, kExtraLengthAt, extra.size(), 2);
  if (GetAt(header.data(), kVersionNeededAt, 2) < kVersionZip64)
    PutAt(&header, kVersionNeededAt, kVersionZip64, 2);
  out->insert(out->end(), header.begin(), header.end());
  out->insert(out->end(), extra.begin(), extra.end());
  out->insert(out->end(), kept + extraAt + extraLength, keptEnd);
  return true;
}

bool DirectoryHeadersFit(const std::vector<ZipEntry*>& entries) {
  for (const ZipEntry* owned : entries) {
    const ZipEntry& entry = *owned;
    if (!entry.written || entry.deleted || entry.faulty || entry.keptCentralAt != kNotKept) continue;
    if (entry.name.size() > kSurelyFits) {
      std::string stored;
      std::uint16_t flags = entry.flags;
      EncodeStoredName(entry, &stored, &flags);
      if (stored.size() > 0xFFFF) return false;
    }
    if (entry.comment.size() > kSurelyFits) {
      std::string stored;
      EncodeName(entry.comment.str(), &stored, nullptr);
      if (stored.size() > 0xFFFF) return false;
    }
  }
  return true;
}

void WriteBytes(ArchiveStore& store, const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return;
  if (store.Write(bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size())) {
    RaiseError(kWriteError);
  }
}

void Korbel::WriteDirectory() {
  // Refused before the first byte goes out, so the old directory survives.
  if (!DirectoryHeadersFit(table_.All())) RaiseError(kBadPath);
  tail_.DataEndsAt(store_.Tell());
  std::vector<std::uint8_t> pending;
  pending.reserve(kFlushSize + 1024);
  std::uint64_t headers = 0;
  int files = 0;
  for (ZipEntry* owned : table_.All()) {
    ZipEntry& entry = *owned;
    if (!entry.written || entry.deleted || entry.faulty) continue;
    if (const std::uint8_t* kept = keptDirectory_.CentralOf(entry)) {
      if (!AppendKeptCentralHeader(entry, kept, &pending)) RaiseError(kBadPath);
    } else {
      PrepareExtraFields(&entry);
      if (!AppendEntryCentralHeader(&entry, &pending)) RaiseError(kBadPath);
    }
    ++headers;
    if (!(entry.externalAttributes & kEntryFolder)) ++files;
    if (pending.size() >= kFlushSize) {
      WriteBytes(store_, pending);
      pending.clear();
    }
  }
  WriteBytes(store_, pending);
  pending.clear();

  const std::int64_t directoryEnd = store_.Tell();
  // A loaded archive keeps its own comment as it was stored; only an archive
  // this engine creates gets the identification text.
  const std::string comment = comment_.Stored();
  AppendDirectoryTail(headers, static_cast<std::uint64_t>(tail_.DirectoryStart()),
                      static_cast<std::uint64_t>(directoryEnd), comment, &pending);
  WriteBytes(store_, pending);
  sourceSize_ = store_.Tell();
  if (store_.Truncate() != 0) RaiseError(kWriteError);
  writtenFiles_ = files;
}

}  // namespace korbel
