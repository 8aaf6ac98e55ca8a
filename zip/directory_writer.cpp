// Writing the central directory and the end records behind the entry data.
#include <memory>
#include <string>
#include <vector>

#include "zip/central_header.h"
#include "zip/directory_writer.h"
#include "zip/end_record.h"
#include "zip/extra_fields.h"
#include "zip/korbel.h"
#include "zip/local_header.h"
#include "zip/name_codec.h"
#include "zip/stored_name.h"

namespace korbel {
namespace {

// Stands as the archive comment when none is set.
constexpr const char* kIdentification = "KB Korbel V5.01 (c) 2026 Pakkaro";
// The directory goes out in pieces of about this size.
constexpr std::size_t kFlushSize = 1 << 16;

// Encoding at most doubles a text, and a folder gains a '/': anything shorter
// fits without being encoded first.
constexpr std::size_t kSurelyFits = 0xFFFF / 2 - 1;

}  // namespace

bool DirectoryHeadersFit(const std::vector<std::unique_ptr<ZipEntry>>& entries) {
  for (const auto& owned : entries) {
    const ZipEntry& entry = *owned;
    if (!entry.written || entry.deleted || entry.faulty) continue;
    if (entry.name.size() > kSurelyFits) {
      std::string stored;
      std::uint16_t flags = entry.flags;
      EncodeStoredName(entry, &stored, &flags);
      if (stored.size() > 0xFFFF) return false;
    }
    if (entry.comment.size() > kSurelyFits) {
      std::string stored;
      EncodeName(entry.comment, &stored, nullptr);
      if (stored.size() > 0xFFFF) return false;
    }
  }
  return true;
}

void Korbel::WriteBytes(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return;
  if (store_.Write(bytes.data(), bytes.size()) != static_cast<std::int64_t>(bytes.size())) {
    RaiseError(kWriteError);
  }
}

void Korbel::WriteLocalHeader(ZipEntry& entry) {
  std::vector<std::uint8_t> bytes;
  if (!AppendEntryLocalHeader(&entry, &bytes)) RaiseError(kBadPath);
  WriteBytes(bytes);
}

void Korbel::WriteDirectory() {
  // Refused before the first byte goes out, so the old directory survives.
  if (!DirectoryHeadersFit(entries_)) RaiseError(kBadPath);
  directoryStart_ = store_.Tell();
  std::vector<std::uint8_t> pending;
  pending.reserve(kFlushSize + 1024);
  std::uint64_t headers = 0;
  int files = 0;
  for (auto& owned : entries_) {
    ZipEntry& entry = *owned;
    if (!entry.written || entry.deleted || entry.faulty) continue;
    PrepareExtraFields(&entry);
    if (!AppendEntryCentralHeader(&entry, &pending)) RaiseError(kBadPath);
    ++headers;
    if (!(entry.externalAttributes & kEntryFolder)) ++files;
    if (pending.size() >= kFlushSize) {
      WriteBytes(pending);
      pending.clear();
    }
  }
  WriteBytes(pending);
  pending.clear();

  const std::int64_t directoryEnd = store_.Tell();
  const std::string comment = EncodeArchiveComment(comment_ ? *comment_ : std::string(kIdentification));
  AppendDirectoryTail(headers, static_cast<std::uint64_t>(directoryStart_),
                      static_cast<std::uint64_t>(directoryEnd), comment, &pending);
  WriteBytes(pending);
  sourceSize_ = store_.Tell();
  if (store_.Truncate() != 0) RaiseError(kWriteError);
  writtenFiles_ = files;
}

}  // namespace korbel
