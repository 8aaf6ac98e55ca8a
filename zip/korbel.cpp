#include "zip/korbel.h"

#include <cstring>
#include <new>

#include "fs/path_strings.h"
#include "zip/directory_writer.h"
#include "zip/format/zip_constants.h"
#include "zip/io/memory_blocks.h"
#include "zip/io/pseudo_path.h"

namespace korbel {
namespace {

// A stop answer of the callback leaves a consistent state that the close
// goes on with; any other failure, an interruption too, ends the change.
bool EndsTheChange(int code) { return code != kOk && (code != kUserAbort || platform::InterruptRequested()); }

// A store prepared by OpenResource or OpenMemory comes back to Open with
// this marker in the high half of the mode word and 9, 10 or 11 below it.
constexpr std::uint32_t kPreparedMarker = 0x1234u << 16;
constexpr std::uint32_t kPreparedBase = 8;
constexpr std::uint32_t kReaderShare = platform::kShareRead | platform::kShareDelete;

}  // namespace

Korbel::Korbel() {
  storeOnGrowthRetry_ = true;
  queuedAdding_ = true;
  SelectCodec(codec_, 8, 0, 0);
}

Korbel::~Korbel() {
  errorText_.reset();
  if (openMode_ != kClosed) Close();
  codec_.codec.reset();
  ClearTable();
  store_.Release();
}

std::uint32_t Korbel::Options(std::int64_t value) {
  if (value == -2) return options_;
  const std::uint32_t word = static_cast<std::uint32_t>(value);
  if (word & kAutomaticMethod) {
    method_ = -1;
  } else if (word & kStoredMethod) {
    method_ = kMethodStored;
  }
  const std::uint32_t previous = options_;
  options_ = word & ~static_cast<std::uint32_t>(kAutomaticMethod | kStoredMethod);
  if ((previous ^ options_) & (kSortKeyBits | kKeepSorted)) {
    SortEntries(static_cast<int>(options_ & kSortKeyBits));
  }
  return options_;
}

int Korbel::SetLevel(int value) {
  if (value == -2) return level_;
  if (value == 0) {
    level_ = 0;
    method_ = kMethodStored;
  } else if (value < 0) {
    level_ = 0;
  } else {
    level_ = value > 9 ? 9 : value;
  }
  return level_;
}

int Korbel::SetMethod(int value) {
  if (value == -2) return method_;
  method_ = (value == 0 || value == -1) ? value : 8;
  return method_;
}

void Korbel::SetArchiveComment(const char* comment) {
  comment_.Set(comment);
  if (openMode_ >= kModify) tail_.MarkChanged();
}

int Korbel::RefuseOpen(int code) {
  if (EventEnabled(kEventOpen) && Report(kEventOpen, -1) != 0) code = kUserAbort;
  SetLastError(code);
  Report(kEventError, -1);
  return code;
}

int Korbel::Open(const char* name, std::uint32_t modeWord, int loaderArgument) {
  SetLastError(kOk);
  table_.ForgetOrder();
  store_.SetSpillAllowed(false);
  const int mode = static_cast<int>(modeWord & kModeBits);
  if (openMode_ != kClosed) Close();
  if (mode >= kReadOnly && mode <= kCreate) {
    Discard();
    if (!writingAllowed_ && mode != kReadOnly) return RefuseOpen(kUnsupported);
  } else {
    return RefuseOpen(kUnsupported);
  }
  // A refusal from here on names this archive, not the one before it.
  SetFullPath(name);
  if (name == nullptr) return RefuseOpen(mode == kCreate ? kCreateError : kOpenError);

  const PseudoPath pseudo = ParsePseudoPath(name);
  if (pseudo.kind == PseudoKind::kResource) {
    return OpenResource(pseudo.resource.Name(), pseudo.resource.Type(), modeWord & ~kModeBits);
  }
  if (pseudo.kind == PseudoKind::kMemory) {
    // An address from a path is followed only into a block a caller of this
    // process handed over; a request for a new growable block is harmless.
    const void* block = reinterpret_cast<const void*>(pseudo.memory.address);
    if (pseudo.memory.address != kGrowableBlock && !IsKnownMemoryBlock(block, pseudo.memory.capacity)) {
      return RefuseOpen(kNotFound);
    }
    return OpenMemory(reinterpret_cast<void*>(pseudo.memory.address), pseudo.memory.capacity,
                      pseudo.memory.used, modeWord & ~kModeBits);
  }

  char fullPath[sizeof fullPath_];
  const std::uint32_t length = platform::GetFullPath(name, fullPath, sizeof fullPath);
  if (length == 0 || length >= sizeof fullPath)
    return RefuseOpen(mode == kCreate ? kCreateError : kOpenError);
  SetFullPath(fullPath);
  int opened = mode;
  bool ok = false;
  if (mode == kReadOnly) {
    // Shared for deletion too, so that a reader never keeps a writer from
    // replacing the archive.
    ok = store_.OpenFile(fullPath, platform::kAccessRead, kReaderShare, platform::kOpenExisting);
  } else {
    // Modify mode empties an existing file, so both modes make a new
    // archive; it is written beside the old one and replaces it at Close.
    ok = replacement_.Create(fullPath);
    opened = kCreate;
  }
  if (!ok) return RefuseOpen(mode == kCreate ? kCreateError : kOpenError);
  SetFullPath(fullPath);
  return Begin(opened, modeWord, loaderArgument);
}

int Korbel::Begin(int mode, std::uint32_t modeWord, int loaderArgument) {
  sourceSize_ = store_.Size();
  openMode_ = mode;
  reader_.Forget();
  options_ = modeWord & ~static_cast<std::uint32_t>(kModeBits);
  tail_.Forget();
  writtenFiles_ = 0;
  const int result = LoadDirectory(loaderArgument);
  if (result != kOk) Discard();
  SetLastError(result);
  return result;
}

int Korbel::OpenPrepared(std::uint32_t modeWord, int loaderArgument) {
  int mode = static_cast<int>(modeWord & 7);
  if ((modeWord & 0xFFFF0000u) != kPreparedMarker || mode < kReadOnly || mode > kCreate) {
    store_.Release();
    return RefuseOpen(kUnsupported);
  }
  if (mode != kReadOnly && !writingAllowed_) {
    store_.Release();
    return RefuseOpen(kUnsupported);
  }
  if (mode != kReadOnly && store_.Size() < 16) {
    // Too small to hold an archive: start a new one there.
    store_.Clear();
    mode = kCreate;
  }
  return Begin(mode, (modeWord & 0xFFF0u) | kReadOnly, loaderArgument);
}

int Korbel::OpenResource(platform::ResourceId name, platform::ResourceId type, std::uint32_t options) {
  SetLastError(kOk);
  if (openMode_ != kClosed) Close();
  std::string path;
  const int result = OpenResourceStore(store_, type, name, &path);
  if (result != kOk) {
    SetLastError(result);
    Report(kEventError, -1);
    return result;
  }
  SetFullPath(path.c_str());
  return OpenPrepared(kPreparedMarker | (kPreparedBase + kReadOnly) | (options & 0xFFF0u), 0);
}

int Korbel::OpenMemory(void* block, std::int64_t capacity, std::int64_t usedSize, std::uint32_t options) {
  SetLastError(kOk);
  if (openMode_ != kClosed) Close();
  if (capacity > ArchiveStore::kMemoryLimit || usedSize > capacity) {
    SetLastError(kNotFound);
    Report(kEventError, -1);
    return kNotFound;
  }
  std::string path;
  const int result = OpenMemoryStore(store_, block, static_cast<std::int32_t>(capacity),
                                     static_cast<std::int32_t>(usedSize), &path);
  if (result != kOk) {
    SetLastError(result);
    Report(kEventError, -1);
    return result;
  }
  if (reinterpret_cast<std::uintptr_t>(block) != kGrowableBlock) NoteMemoryBlock(block, capacity);
  SetFullPath(path.c_str());
  const int mode = MemoryOpenMode(usedSize);
  return OpenPrepared(
      kPreparedMarker | (kPreparedBase + static_cast<std::uint32_t>(mode)) | (options & 0xFFF0u), 0);
}

int Korbel::Commit() {
  if (openMode_ < kModify) return Fail(kBadIndexOrMode);
  int code = kOk;
  try {
    CommitOrThrow();
  } catch (const EngineFault& fault) {
    code = fault.code;
  } catch (const std::bad_alloc&) {
    code = kNoMemory;
  }
  if (code == kOk) return kOk;
  if (EndsTheChange(code)) replacement_.Abandon();
  return Fail(code);
}

void Korbel::PrepareToWrite(bool copyArchive) {
  if (openMode_ >= kModify) replacement_.Begin(fullPath_, sourceSize_, copyArchive);
}

void Korbel::CommitOrThrow() {
  if (EventEnabled(kEventWriteBack) && Report(kEventWriteBack, -1) != 0) RaiseError(kUserAbort);
  const bool compacting = table_.Live() < EntryCount();
  if (compacting || tail_.Changed()) PrepareToWrite(!compacting);
  if (compacting) CompactDeletedSpace();
  WritePendingEntries();
}

int Korbel::Close() {
  SetLastError(kOk);
  if (openMode_ == kClosed) return Fail(kBadIndexOrMode);
  if (openMode_ == kReadOnly) {
    Discard();
    return kOk;
  }
  if (openMode_ < 0) {
    Discard();
    return Fail(kInternalError);
  }
  if (!DirectoryHeadersFit(table_.All())) {
    // Nothing has been written: the archive stays as it was.
    Discard();
    return Fail(kBadPath);
  }
  const int committed = Commit();
  if (EndsTheChange(committed)) {
    Discard();
    SetLastError(committed);
    return committed;
  }
  const int finished = FinishChange(true);
  Discard();
  return finished == kOk ? kOk : Fail(finished);
}

int Korbel::FinishChange(bool closing) {
  try {
    if (closing && EventEnabled(kEventClose) && Report(kEventClose, -1) != 0) RaiseError(kUserAbort);
    if (tail_.Changed()) {
      PrepareToWrite();
      if (store_.Seek(tail_.DirectoryStart(), platform::kSeekBegin) != tail_.DirectoryStart())
        RaiseError(kWriteError);
      WriteDirectory();
      tail_.Written();
    }
  } catch (const EngineFault& fault) {
    replacement_.Abandon();
    return fault.code;
  } catch (const std::bad_alloc&) {
    replacement_.Abandon();
    return kNoMemory;
  }
  // An interrupted run keeps the old archive, even when nothing was left to write.
  if (platform::InterruptRequested()) {
    replacement_.Abandon();
    return kUserAbort;
  }
  // Only a complete file, flushed, takes the archive's name.
  if (!replacement_.Finish(fullPath_)) {
    replacement_.Abandon();
    return kWriteError;
  }
  return kOk;
}

void Korbel::Discard() {
  reader_.Forget();
  replacement_.Drop();
  store_.Release();
  openMode_ = kClosed;
  ClearTable();
  tail_.Forget();
  progress_.Reset();
}

int Korbel::SwitchMode(int mode) {
  if ((mode != kReadOnly && mode != kModify) || openMode_ == kClosed) {
    SetLastError(kWrongMode);
    return kWrongMode;
  }
  if (mode == openMode_ || (mode == kModify && openMode_ >= kModify)) {
    SetLastError(kOk);
    return kOk;
  }
  reader_.Forget();
  progress_.Reset();
  return mode == kModify ? SwitchToModify() : SwitchToReadOnly();
}

int Korbel::SwitchToModify() {
  if (openMode_ != kReadOnly) return SetLastError(kNotOpen);
  if (!writingAllowed_) return SetLastError(kUnsupported);
  // Untouched entries get their headers back from the directory as it was
  // loaded: it is read while the archive is still only being read. A
  // failure ends the archive, as a failed reopening does.
  int kept = kOk;
  try {
    if (!keptDirectory_.Kept()) {
      keptDirectory_.Keep(store_, tail_.DirectoryStart(),
                          static_cast<std::size_t>(tail_.LoadedDirectorySize()));
    }
  } catch (const EngineFault& fault) {
    kept = fault.code;
  } catch (const std::bad_alloc&) {
    kept = kNoMemory;
  }
  if (kept != kOk) {
    Discard();
    return SetLastError(kept);
  }
  if (store_.IsMemoryMode()) {
    if (store_.UsedSize() < 0) return SetLastError(kFileOpenError);
    store_.Seek(0, platform::kSeekBegin);
  } else if (store_.HasSpilled()) {
    const std::string path = store_.TempName();
    store_.CloseFile();
    if (!store_.OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kShareNone,
                         platform::kOpenExisting)) {
      // The file is closed already: nothing may touch it any more.
      Discard();
      return SetLastError(kOpenError);
    }
  } else {
    // The archive itself is only ever read: the first write of a change
    // copies it (PrepareToWrite). One that could not be replaced is
    // refused now rather than at the end of the work.
    const std::uint32_t attributes = platform::GetAttributes(fullPath_);
    if (attributes == platform::kInvalidAttributes || (attributes & platform::kAttrReadOnly)) {
      Discard();
      return SetLastError(kOpenError);
    }
  }
  openMode_ = kModify;
  return SetLastError(kOk);
}

int Korbel::SwitchToReadOnly() {
  // Everything pending reaches the file first.
  if (!DirectoryHeadersFit(table_.All())) return Fail(kBadPath);
  const int committed = Commit();
  if (committed != kOk) {
    // The failed change is gone; so is the object's view of it.
    if (EndsTheChange(committed)) Discard();
    return SetLastError(committed);
  }
  const bool memory = store_.IsMemoryMode();
  const bool spilled = store_.HasSpilled();
  const std::string reopened = spilled ? std::string(store_.TempName()) : std::string(fullPath_);
  const int finished = FinishChange(false);
  if (finished != kOk) {
    Discard();
    return Fail(finished);
  }
  if (memory) {
    store_.Seek(0, platform::kSeekBegin);
  } else {
    store_.CloseFile();
    if (!store_.OpenFile(reopened.c_str(), platform::kAccessRead, kReaderShare, platform::kOpenExisting)) {
      Discard();
      return SetLastError(kOpenError);
    }
    sourceSize_ = store_.Size();
  }
  openMode_ = kReadOnly;
  reader_.Forget();
  return SetLastError(kOk);
}

std::uint64_t Korbel::ProgressPosition(std::uint64_t* total) const {
  if (total != nullptr) *total = progress_.Total();
  // Entries decoded on the workers leave the codec's counts to others.
  if (!codec_.codec || reader_.DecodedAhead()) return progress_.Position(nullptr);
  const std::uint64_t decoded = codec_.codec->UncompressedCount();
  return progress_.Position(&decoded);
}

int Korbel::ProgressRun(int kind) { return progress_.Run(kind, LastError() == kOk); }

}  // namespace korbel
