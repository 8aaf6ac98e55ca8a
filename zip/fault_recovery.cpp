// Keeping an archive whole when a change fails half-way. The bytes behind
// the entry data (the directory and end records as loaded or last written)
// are read into memory before anything is written over them. A fault then
// puts them back byte for byte, as long as nothing that is to stay has moved
// or been written over them; otherwise the directory of what the archive
// holds at that moment is written behind its data. The file is never cut
// before a directory stands behind the data, so what a recovery writes goes
// into space the file already holds, even on a full disk.
#include <new>

#include "zip/korbel.h"

namespace korbel {

void Korbel::SaveTail() {
  if (tailSaved_ || !tailOnDisk_) return;
  const std::int64_t size = store_.Size();
  savedTail_.assign(size > directoryStart_ ? static_cast<std::size_t>(size - directoryStart_) : 0, 0);
  if (!savedTail_.empty()) ReadAt(directoryStart_, savedTail_.data(), savedTail_.size());
  savedTailAt_ = directoryStart_;
  tailSaved_ = true;
  tailRestorable_ = true;
}

void Korbel::RecoverFromFault() {
  // The fault that brought us here is the one reported; a second one leaves
  // the archive as far as the recovery got.
  try {
    if (tailSaved_ && tailRestorable_) {
      if (store_.Seek(savedTailAt_, platform::kSeekBegin) != savedTailAt_) return;
      WriteBytes(savedTail_);
      if (store_.Truncate() != 0) return;
      sourceSize_ = store_.Tell();
      directoryStart_ = savedTailAt_;
      // Entries written by the failed commit are not in that directory.
      for (ZipEntry* entry : committing_) {
        entry->written = 0;
        MarkDeleted(entry);
      }
      committing_.clear();
      return;
    }
    const std::int64_t end = commitDataEnd_ >= 0 ? commitDataEnd_ : directoryStart_;
    for (ZipEntry* entry : committing_) {
      entry->written = 0;
      MarkDeleted(entry);
    }
    committing_.clear();
    if (store_.Seek(end, platform::kSeekBegin) != end) return;
    WriteDirectory();
  } catch (const EngineFault&) {
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace korbel
