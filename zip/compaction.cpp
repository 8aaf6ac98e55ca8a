// Reclaiming the space of deleted entries: the data behind each gap moves
// down, in the order of the local header offsets. A file archive is moved
// inside its replacement (zip/replacement.cpp), a memory archive in place
// with its bytes kept; a failure anywhere drops the whole change.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "zip/format/local_header.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

// Files below this size are moved inside a mapping of the whole file.
constexpr std::int64_t kMappingLimit = 0x10000000;
constexpr std::size_t kPieceSize = 16384;

// Moves `length` bytes from `from` down to `to`: copied from the original
// while the replacement still lacks them, else inside the mapping, the
// memory block or the file.
void MoveData(ArchiveReplacement& replacement, ArchiveStore& store, std::int64_t from, std::int64_t to,
              std::uint64_t length, unsigned char* mapped) {
  if (replacement.CopyPending()) {
    replacement.CopyFromOriginal(from, to, length);
    return;
  }
  if (from == to || length == 0) return;
  if (mapped != nullptr) {
    std::memmove(mapped + to, mapped + from, static_cast<std::size_t>(length));
    return;
  }
  if (store.IsMemoryMode()) {
    std::memmove(store.Data() + to, store.Data() + from, static_cast<std::size_t>(length));
    return;
  }
  // The target lies below the source, so piece by piece from the front never
  // overwrites bytes still to be moved.
  std::vector<unsigned char> piece(kPieceSize);
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, kPieceSize));
    const auto offset = static_cast<std::int64_t>(done);
    store.ReadAt(from + offset, piece.data(), now);
    if (store.Seek(to + offset, platform::kSeekBegin) != to + offset) RaiseError(kWriteError);
    if (store.Write(piece.data(), now) != static_cast<std::int64_t>(now)) RaiseError(kWriteError);
    done += now;
  }
}

}  // namespace

void Korbel::CompactDeletedSpace() {
  table_.SortByOffset();
  const int count = EntryCount();

  // Every span is checked first: an entry whose span reaches into the next
  // entry's data or past the data end stops the compaction before anything
  // has moved, tolerant load or not.
  std::vector<std::uint64_t> spans(static_cast<std::size_t>(count), 0);
  for (int i = 0; i < count; ++i) {
    const ZipEntry& entry = *table_.At(i);
    if (entry.queued) break;
    if (entry.deleted) continue;
    const std::uint64_t span = EntrySpan(entry);
    std::uint64_t limit = static_cast<std::uint64_t>(tail_.DirectoryStart());
    for (int j = i + 1; j < count; ++j) {
      const ZipEntry& next = *table_.At(j);
      if (next.queued) break;
      if (next.localHeaderOffset > entry.localHeaderOffset) {
        limit = std::min(limit, next.localHeaderOffset);
        break;
      }
    }
    if (span == UINT64_MAX || entry.localHeaderOffset > limit || span > limit - entry.localHeaderOffset) {
      RaiseError(kInternalError);
    }
    spans[static_cast<std::size_t>(i)] = span;
  }

  platform::FileMapping mapping;
  unsigned char* mapped = nullptr;
  if (!replacement_.CopyPending() && store_.IsFileMode() && tail_.DirectoryStart() > 0 &&
      tail_.DirectoryStart() < kMappingLimit && store_.Size() < kMappingLimit) {
    if (mapping.Map(store_.FileHandle(), static_cast<std::uint64_t>(store_.Size()))) mapped = mapping.Data();
  }

  // Data in front of the first entry (a self-extractor stub, say) stays.
  std::int64_t target = -1;
  for (int i = 0; i < count; ++i) {
    ZipEntry& entry = *table_.At(i);
    if (entry.queued) break;
    const auto from = static_cast<std::int64_t>(entry.localHeaderOffset);
    if (target < 0) {
      target = from;
      if (replacement_.CopyPending()) replacement_.CopyFromOriginal(0, 0, static_cast<std::uint64_t>(from));
    }
    if (entry.deleted) continue;
    const std::uint64_t span = spans[static_cast<std::size_t>(i)];
    if (EventEnabled(kEventCompress) && Report(kEventCompress, i) != 0) {
      // A stop keeps what has moved; the rest stays where the old directory
      // says, and a replacement still being filled gets it there too.
      if (replacement_.CopyPending())
        replacement_.CopyFromOriginal(from, from, static_cast<std::uint64_t>(tail_.DirectoryStart() - from));
      replacement_.CopyDone();
      RaiseError(kUserAbort);
    }
    MoveData(replacement_, store_, from, target, span, mapped);
    entry.localHeaderOffset = static_cast<std::uint64_t>(target);
    target += static_cast<std::int64_t>(span);
  }
  replacement_.CopyDone();
  mapping.Unmap();
  if (target < 0) target = tail_.DirectoryStart();
  // The deleted entries' data is gone now; so are they.
  table_.Remove([](const ZipEntry& entry) { return entry.deleted && !entry.queued; });
  tail_.DataEndsAt(target);
  tail_.MarkChanged();
}

}  // namespace korbel
