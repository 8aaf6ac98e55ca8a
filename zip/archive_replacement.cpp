#include <cstring>
#include <string>

#include "platform/platform.h"
#include "zip/archive_replacement.h"
#include "zip/error_codes.h"
#include "zip/io/archive_store.h"
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

bool ArchiveReplacement::HoldOriginal(const char* target) {
  original_.Reset(platform::OpenFile(target, platform::kAccessRead, kShareAll, platform::kOpenExisting));
  if (original_.Get() == platform::kInvalidHandle) return false;
  if (!platform::LockForWriting(original_.Get(), kWriterWaitMilliseconds)) {
    original_.Reset();
    platform::SetLastError(platform::kErrorSharingViolation);
    return false;
  }
  return true;
}

void ArchiveReplacement::RemoveStale(const char* target) {
  const std::string pattern = ReplacementPattern(target);
  platform::FindData<char> found;
  const platform::SearchHandle search = platform::FindFirst(pattern.c_str(), &found);
  if (search == platform::kInvalidSearch) return;
  const std::string targetText(target);
  const std::size_t separator = targetText.find_last_of("\\/");
  const std::string folder =
      separator == std::string::npos ? std::string() : targetText.substr(0, separator + 1);
  do {
    const std::string path = folder + found.name;
    if (!IsReplacementOf(path, targetText)) continue;
    // A file still being written is held with its lock (and on Windows
    // shared with nobody); only one that nobody holds is left over.
    platform::FileCloser stale(platform::OpenFile(path.c_str(), platform::kAccessReadWrite,
                                                  platform::kShareDelete, platform::kOpenExisting));
    if (stale.Get() == platform::kInvalidHandle || !platform::LockForWriting(stale.Get(), 0)) continue;
    stale.Reset();
    platform::DeleteFile(path.c_str());
  } while (platform::FindNext(search, &found));
  platform::FindClose(search);
}

bool ArchiveReplacement::OpenFile(const char* target) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string candidate = ReplacementNameFor(target);
    if (candidate.empty() || candidate.size() >= pathRoom_) return false;
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
    if (original_.Get() != platform::kInvalidHandle && !platform::CopyFileIdentity(original_.Get(), file)) {
      platform::CloseFile(file);
      platform::DeleteFile(candidate.c_str());
      return false;
    }
    store_->AttachFile(file);
    path_ = candidate;
    platform::RemoveOnInterrupt(candidate.c_str());
    return true;
  }
  return false;
}

bool ArchiveReplacement::Create(const char* target) {
  if (platform::GetAttributes(target) != platform::kInvalidAttributes) {
    // An existing target must be one the run could replace.
    platform::FileCloser check(platform::OpenFile(target, platform::kAccessReadWrite, platform::kShareNone,
                                                  platform::kOpenExisting));
    if (check.Get() == platform::kInvalidHandle) return false;
    check.Reset();
    if (!HoldOriginal(target)) return false;
  }
  RemoveStale(target);
  if (OpenFile(target)) return true;
  original_.Reset();
  return false;
}

void ArchiveReplacement::Begin(const char* target, std::int64_t loadedSize, bool copyArchive) {
  if (begun_) return;
  if (store_->IsMemoryMode()) {
    const std::int64_t size = store_->Size();
    memorySnapshot_.assign(store_->Data(), store_->Data() + (size > 0 ? size : 0));
    begun_ = true;
    return;
  }
  // A spilled memory archive and a new archive are written where they are.
  if (store_->HasSpilled() || !path_.empty()) {
    begun_ = true;
    return;
  }
  // The archive must still be the file that was loaded, as long as it was:
  // a writer that replaced it meanwhile made a change this one knows nothing of.
  if (!HoldOriginal(target)) RaiseError(kOpenError);
  if (!platform::IsSameFile(target, store_->FileHandle()) ||
      platform::FileSize(original_.Get()) != loadedSize || !platform::IsSameFile(target, original_.Get())) {
    original_.Reset();
    platform::SetLastError(platform::kErrorSharingViolation);
    RaiseError(kOpenError);
  }
  RemoveStale(target);
  // Until the copy is whole the archive stays the store's file, so that a
  // failure here leaves the object as it was.
  platform::FileCloser loaded(store_->DetachFile());
  if (!OpenFile(target)) {
    store_->AttachFile(loaded.Release());
    original_.Reset();
    RaiseError(kCreateError);
  }
  // A compaction copies what stays straight to its new place instead.
  if (copyArchive && loadedSize > 0 &&
      !platform::CopyFileData(loaded.Get(), 0, store_->FileHandle(), 0,
                              static_cast<std::uint64_t>(loadedSize))) {
    Drop();
    store_->AttachFile(loaded.Release());
    RaiseError(kWriteError);
  }
  store_->RefreshFileSize();
  copyPending_ = !copyArchive;
  begun_ = true;
}

bool ArchiveReplacement::CopyBack(const char* target) {
  // The complete new archive keeps a name of its own until it has been
  // copied over the archive's bytes, so that a kill in between loses neither.
  const std::string keeper = CopyBackName(target);
  if (!platform::MoveFileNew(path_.c_str(), keeper.c_str())) return false;
  path_ = keeper;
  platform::RemoveOnInterrupt("");
  platform::FileCloser source(
      platform::OpenFile(keeper.c_str(), platform::kAccessRead, kShareAll, platform::kOpenExisting));
  platform::FileCloser archive(
      platform::OpenFile(target, platform::kAccessReadWrite, kShareAll, platform::kOpenExisting));
  const std::int64_t size = platform::FileSize(source.Get());
  const bool copied =
      source.Get() != platform::kInvalidHandle && archive.Get() != platform::kInvalidHandle && size >= 0 &&
      platform::CopyFileData(source.Get(), 0, archive.Get(), 0, static_cast<std::uint64_t>(size)) &&
      platform::SeekFile(archive.Get(), size, platform::kSeekBegin) == size &&
      platform::TruncateFile(archive.Get()) && platform::FlushFile(archive.Get()) &&
      platform::CloseFile(archive.Release());
  if (!copied) {
    // The archive may be cut short now: the new one stays under its own name.
    path_.clear();
    return false;
  }
  source.Reset();
  platform::DeleteFile(keeper.c_str());
  path_.clear();
  return true;
}

bool ArchiveReplacement::Finish(const char* target) {
  if (path_.empty()) {
    Drop();
    return true;
  }
  // The new file's data reaches the disk before its name does: a crash
  // after the rename finds the whole archive, never an empty one.
  bool done = store_->FlushFile();
  done = store_->CloseFile() && done;
  if (done && platform::LinkCount(original_.Get()) > 1) {
    done = CopyBack(target);
  } else if (done) {
    done = platform::MoveFileOver(path_.c_str(), target);
    // Windows replaces no file that is open, ours included: the archive is
    // let go, and with it the writer's lock, for one more try. Any writer
    // that came in between holds the old archive open, so that this try
    // fails rather than replace what that writer is building on.
    if (!done && platform::LastError() == platform::kErrorAccessDenied &&
        original_.Get() != platform::kInvalidHandle) {
      original_.Reset();
      done = platform::MoveFileOver(path_.c_str(), target);
    }
    if (done) {
      path_.clear();
      platform::RemoveOnInterrupt("");
      platform::FlushFolderOf(target);
    }
  }
  Drop();
  return done;
}

void ArchiveReplacement::Drop() {
  original_.Reset();
  begun_ = false;
  copyPending_ = false;
  memorySnapshot_.clear();
  memorySnapshot_.shrink_to_fit();
  if (path_.empty()) return;
  store_->CloseFile();
  platform::DeleteFile(path_.c_str());
  path_.clear();
  platform::RemoveOnInterrupt("");
}

void ArchiveReplacement::Abandon() {
  if (begun_ && store_->IsMemoryMode() && !store_->IsEmpty()) {
    try {
      if (store_->Seek(0, platform::kSeekBegin) == 0 &&
          (memorySnapshot_.empty() || store_->Write(memorySnapshot_.data(), memorySnapshot_.size()) ==
                                          static_cast<std::int64_t>(memorySnapshot_.size()))) {
        store_->Truncate();
      }
    } catch (const EngineFault&) {
    }
  }
  Drop();
}

void ArchiveReplacement::CopyFromOriginal(std::int64_t from, std::int64_t to, std::uint64_t length) {
  if (length != 0 && !platform::CopyFileData(original_.Get(), from, store_->FileHandle(), to, length)) {
    RaiseError(kWriteError);
  }
}

}  // namespace korbel
