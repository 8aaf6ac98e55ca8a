// An archive file is never written in place. A change (create mode, or the
// first write after switching an opened archive to modify) goes into a new
// file beside the archive (zip/replacement_name.h): for a change to an
// existing archive its bytes are copied there first, and everything after
// works on the copy as it would on the archive. Only a complete file, flushed
// to the disk, takes the archive's name, by one rename; a failure, a kill or a
// crash at any instant leaves the old archive as it was.
//
// While the change runs, the archive is held open for reading with the
// writer's lock: a second writer waits, then fails, and never builds on a
// directory that has been replaced in the meantime. Readers are not stopped.
//
// A memory archive is changed in place; a copy of its bytes taken before the
// first write goes back over it when the change fails.
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "zip/korbel.h"
#include "zip/replacement_name.h"

namespace korbel {
namespace {

// How long a change waits for another writer of the same archive.
constexpr std::uint32_t kWriterWaitMilliseconds = 3000;
constexpr std::uint32_t kShareAll = platform::kShareRead | platform::kShareWrite | platform::kShareDelete;

// The name that keeps the complete new archive while it is copied back into
// a hard-linked archive.
std::string CopyBackName(const char* target) { return std::string(target) + ".new"; }

}  // namespace

bool Korbel::HoldOriginal(const char* target) {
  originalFile_.Reset(platform::OpenFile(target, platform::kAccessRead, kShareAll, platform::kOpenExisting));
  if (originalFile_.Get() == platform::kInvalidHandle) return false;
  if (!platform::LockForWriting(originalFile_.Get(), kWriterWaitMilliseconds)) {
    originalFile_.Reset();
    platform::SetLastError(platform::kErrorSharingViolation);
    return false;
  }
  return true;
}

void Korbel::RemoveStaleReplacements(const char* target) {
  const std::string pattern = ReplacementPattern(target);
  platform::FindData<char> found;
  const platform::SearchHandle search = platform::FindFirst(pattern.c_str(), &found);
  if (search == platform::kInvalidSearch) return;
  const std::string targetText(target);
  const std::size_t separator = targetText.find_last_of("\\/");
  const std::string folder = separator == std::string::npos ? std::string() : targetText.substr(0, separator + 1);
  do {
    const std::string path = folder + found.name;
    if (!IsReplacementOf(path, targetText)) continue;
    // A file still being written is held with its lock (and on Windows
    // shared with nobody); only one that nobody holds is left over.
    platform::FileCloser stale(
        platform::OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kShareDelete, platform::kOpenExisting));
    if (stale.Get() == platform::kInvalidHandle || !platform::LockForWriting(stale.Get(), 0)) continue;
    stale.Reset();
    platform::DeleteFile(path.c_str());
  } while (platform::FindNext(search, &found));
  platform::FindClose(search);
}

bool Korbel::OpenReplacementFile(const char* target) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string candidate = ReplacementNameFor(target);
    if (candidate.empty() || candidate.size() >= sizeof fullPath_) return false;
    const platform::Handle file = platform::OpenFile(candidate.c_str(), platform::kAccessReadWrite,
                                                     platform::kShareDelete, platform::kCreateNew);
    if (file == platform::kInvalidHandle) {
      // Only a name that is taken is worth another try.
      if (platform::LastError() != platform::kErrorFileExists) return false;
      continue;
    }
    platform::LockForWriting(file, 0);
    // The copy holds the archive's bytes from its first write on: it gets
    // the archive's rights before that, so that a private archive never
    // lies readable to others beside itself.
    if (originalFile_.Get() != platform::kInvalidHandle && !platform::CopyFileIdentity(originalFile_.Get(), file)) {
      platform::CloseFile(file);
      platform::DeleteFile(candidate.c_str());
      return false;
    }
    store_.AttachFile(file);
    replacementPath_ = candidate;
    platform::RemoveOnInterrupt(candidate.c_str());
    return true;
  }
  return false;
}

bool Korbel::CreateReplacement(const char* target) {
  if (platform::GetAttributes(target) != platform::kInvalidAttributes) {
    // An existing target must be one the run could replace.
    platform::FileCloser check(platform::OpenFile(target, platform::kAccessReadWrite, platform::kShareNone,
                                                  platform::kOpenExisting));
    if (check.Get() == platform::kInvalidHandle) return false;
    check.Reset();
    if (!HoldOriginal(target)) return false;
  }
  RemoveStaleReplacements(target);
  if (OpenReplacementFile(target)) return true;
  originalFile_.Reset();
  return false;
}

void Korbel::PrepareToWrite(bool copyArchive) {
  if (changeBegun_ || openMode_ < kModify) return;
  if (store_.IsMemoryMode()) {
    const std::int64_t size = store_.Size();
    memorySnapshot_.assign(store_.Data(), store_.Data() + (size > 0 ? size : 0));
    changeBegun_ = true;
    return;
  }
  // A spilled memory archive and a new archive are written where they are.
  if (store_.HasSpilled() || !replacementPath_.empty()) {
    changeBegun_ = true;
    return;
  }
  // The archive must still be the file that was loaded, as long as it was:
  // a writer that replaced it meanwhile made a change this one knows nothing of.
  if (!HoldOriginal(fullPath_)) RaiseError(kOpenError);
  if (!platform::IsSameFile(fullPath_, store_.FileHandle()) ||
      platform::FileSize(originalFile_.Get()) != sourceSize_ || !platform::IsSameFile(fullPath_, originalFile_.Get())) {
    originalFile_.Reset();
    platform::SetLastError(platform::kErrorSharingViolation);
    RaiseError(kOpenError);
  }
  RemoveStaleReplacements(fullPath_);
  // Until the copy is whole the archive stays the store's file, so that a
  // failure here leaves the object as it was.
  platform::FileCloser loaded(store_.DetachFile());
  if (!OpenReplacementFile(fullPath_)) {
    store_.AttachFile(loaded.Release());
    originalFile_.Reset();
    RaiseError(kCreateError);
  }
  // A compaction copies what stays straight to its new place instead.
  if (copyArchive && sourceSize_ > 0 &&
      !platform::CopyFileData(loaded.Get(), 0, store_.FileHandle(), 0, static_cast<std::uint64_t>(sourceSize_))) {
    DropReplacement();
    store_.AttachFile(loaded.Release());
    RaiseError(kWriteError);
  }
  store_.RefreshFileSize();
  copyPending_ = !copyArchive;
  changeBegun_ = true;
}

bool Korbel::CopyBack() {
  // The complete new archive keeps a name of its own until it has been
  // copied over the archive's bytes, so that a kill in between loses neither.
  const std::string keeper = CopyBackName(fullPath_);
  if (!platform::MoveFileNew(replacementPath_.c_str(), keeper.c_str())) return false;
  replacementPath_ = keeper;
  platform::RemoveOnInterrupt("");
  platform::FileCloser source(platform::OpenFile(keeper.c_str(), platform::kAccessRead, kShareAll,
                                                 platform::kOpenExisting));
  platform::FileCloser target(platform::OpenFile(fullPath_, platform::kAccessReadWrite, kShareAll,
                                                 platform::kOpenExisting));
  const std::int64_t size = platform::FileSize(source.Get());
  const bool copied = source.Get() != platform::kInvalidHandle && target.Get() != platform::kInvalidHandle &&
                      size >= 0 && platform::CopyFileData(source.Get(), 0, target.Get(), 0, static_cast<std::uint64_t>(size)) &&
                      platform::SeekFile(target.Get(), size, platform::kSeekBegin) == size &&
                      platform::TruncateFile(target.Get()) && platform::FlushFile(target.Get()) &&
                      platform::CloseFile(target.Release());
  if (!copied) {
    // The archive may be cut short now: the new one stays under its own name.
    replacementPath_.clear();
    return false;
  }
  source.Reset();
  platform::DeleteFile(keeper.c_str());
  replacementPath_.clear();
  return true;
}

bool Korbel::FinishReplacement() {
  if (replacementPath_.empty()) {
    DropReplacement();
    return true;
  }
  // The new file's data reaches the disk before its name does: a crash
  // after the rename finds the whole archive, never an empty one.
  bool done = store_.FlushFile();
  done = store_.CloseFile() && done;
  if (done && platform::LinkCount(originalFile_.Get()) > 1) {
    done = CopyBack();
  } else if (done) {
    done = platform::MoveFileOver(replacementPath_.c_str(), fullPath_);
    // Windows replaces no file that is open, ours included: the archive is
    // let go, and with it the writer's lock, for one more try. Any writer
    // that came in between holds the old archive open, so that this try
    // fails rather than replace what that writer is building on.
    if (!done && platform::LastError() == platform::kErrorAccessDenied &&
        originalFile_.Get() != platform::kInvalidHandle) {
      originalFile_.Reset();
      done = platform::MoveFileOver(replacementPath_.c_str(), fullPath_);
    }
    if (done) {
      replacementPath_.clear();
      platform::RemoveOnInterrupt("");
      platform::FlushFolderOf(fullPath_);
    }
  }
  DropReplacement();
  return done;
}

void Korbel::DropReplacement() {
  originalFile_.Reset();
  changeBegun_ = false;
  copyPending_ = false;
  memorySnapshot_.clear();
  memorySnapshot_.shrink_to_fit();
  if (replacementPath_.empty()) return;
  store_.CloseFile();
  platform::DeleteFile(replacementPath_.c_str());
  replacementPath_.clear();
  platform::RemoveOnInterrupt("");
}

void Korbel::RestoreMemorySnapshot() {
  if (!changeBegun_ || !store_.IsMemoryMode() || store_.IsEmpty()) return;
  try {
    if (store_.Seek(0, platform::kSeekBegin) == 0 &&
        (memorySnapshot_.empty() || store_.Write(memorySnapshot_.data(), memorySnapshot_.size()) ==
                                        static_cast<std::int64_t>(memorySnapshot_.size()))) {
      store_.Truncate();
    }
  } catch (const EngineFault&) {
  }
}

bool Korbel::IsWritingFile(const char* path) const {
  return store_.IsFileMode() && platform::IsSameFile(path, store_.FileHandle());
}

}  // namespace korbel
