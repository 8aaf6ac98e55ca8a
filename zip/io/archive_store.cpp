#include "zip/io/archive_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "zip/error_codes.h"

namespace korbel {

namespace {

// Heap blocks carry this much slack beyond the size asked for.
constexpr std::size_t kSlack = 16;
// Files are read and written in calls of at most this size, so that no
// system call sees a length beyond what its 32-bit forms accept.
constexpr std::size_t kFileChunk = 0x40000000;
// From this length on, a file input span is counted by the store itself:
// a handle side's limit is only trusted below it.
constexpr std::int64_t kHandleSpanLimit = 0x7FFFFFF1;
constexpr char kTempPrefix[] = "AF_";

void CopyName(char* target, const char* source) {
  std::snprintf(target, ArchiveStore::kNameCapacity, "%s", source != nullptr ? source : "");
}

// Whole-length file transfers in calls of at most kFileChunk bytes. As with
// the system's own calls, a short count ends the transfer: the end of the
// file for reads, a full device for writes. -1 when the first call fails.
template <typename Byte, typename Call>
std::int64_t InChunks(Byte* bytes, std::size_t length, Call call) {
  std::size_t done = 0;
  while (done < length) {
    const std::size_t ask = std::min(length - done, kFileChunk);
    const std::int64_t moved = call(bytes + done, ask);
    if (moved < 0) return done == 0 ? -1 : static_cast<std::int64_t>(done);
    done += static_cast<std::size_t>(moved);
    if (static_cast<std::size_t>(moved) < ask) break;
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t ReadAll(platform::Handle file, unsigned char* buffer, std::size_t length) {
  return InChunks(buffer, length,
                  [file](unsigned char* at, std::size_t ask) { return platform::ReadFile(file, at, ask); });
}

std::int64_t WriteAll(platform::Handle file, const unsigned char* data, std::size_t length) {
  return InChunks(data, length, [file](const unsigned char* at, std::size_t ask) {
    return platform::WriteFile(file, at, ask);
  });
}

}  // namespace

ArchiveStore::ArchiveStore() = default;

ArchiveStore::~ArchiveStore() { Release(); }

void ArchiveStore::SetTempFolder(const char* folder) { CopyName(tempFolder_, folder); }

// ---- Attaching the bytes --------------------------------------------------------

bool ArchiveStore::OpenFile(const char* path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition) {
  const platform::Handle file = platform::OpenFile(path, access, share, disposition);
  if (file == platform::kInvalidHandle) return false;
  AttachFile(file);
  return true;
}

void ArchiveStore::AttachFile(platform::Handle file) {
  // Opening the temporary file again keeps the store marked as spilled.
  const bool spilled = bytes_.spilled;
  CloseFile();
  bytes_ = Bytes();
  bytes_.spilled = spilled;
  bytes_.file = file;
  RefreshFileSize();
}

bool ArchiveStore::CloseFile() {
  if (bytes_.file == platform::kInvalidHandle) return true;
  const bool closed = platform::CloseFile(bytes_.file);
  bytes_.file = platform::kInvalidHandle;
  return closed;
}

bool ArchiveStore::FlushFile() {
  return bytes_.file == platform::kInvalidHandle || platform::FlushFile(bytes_.file);
}

platform::Handle ArchiveStore::DetachFile() {
  const platform::Handle file = bytes_.file;
  bytes_.file = platform::kInvalidHandle;
  return file;
}

bool ArchiveStore::CreateGrowable(std::int64_t initial, std::int64_t maximum) {
  CloseFile();
  bytes_ = Bytes();
  const std::int64_t capacity = std::min(std::max<std::int64_t>(initial, kStartCapacity), kMemoryLimit);
  std::unique_ptr<unsigned char[]> block(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(capacity) + kSlack]());
  if (!block) return false;
  bytes_.owned = std::move(block);
  bytes_.data = bytes_.owned.get();
  bytes_.capacity = static_cast<std::int32_t>(capacity);
  bytes_.maximum = static_cast<std::int32_t>(std::clamp<std::int64_t>(maximum, 0, kMemoryLimit));
  return true;
}

void ArchiveStore::UseBlock(unsigned char* block, std::int32_t capacity, std::int32_t used) {
  CloseFile();
  bytes_ = Bytes();
  bytes_.data = block;
  bytes_.capacity = block != nullptr ? std::max<std::int32_t>(capacity, 0) : 0;
  bytes_.used = used < 0 ? -1 : std::min(used, bytes_.capacity);
}

void ArchiveStore::UseResource(const unsigned char* data, std::int32_t size) {
  UseBlock(const_cast<unsigned char*>(data), size, -1);
  bytes_.readOnly = true;
}

void ArchiveStore::Release() {
  CloseFile();
  bytes_ = Bytes();
  tempName_[0] = '\0';
  inputRemainder_ = 0;
  if (second_) {
    second_->Release();
    second_.reset();
  }
}

void ArchiveStore::RefreshFileSize() {
  if (!IsFileMode()) return;
  const std::int64_t size = platform::FileSize(bytes_.file);
  bytes_.fileSize = size < 0 ? 0 : size;
}

// ---- Access ----------------------------------------------------------------------

std::int64_t ArchiveStore::Available() const {
  const std::int64_t end = bytes_.used < 0 ? bytes_.capacity : bytes_.used;
  return end - bytes_.position;
}

std::int64_t ArchiveStore::Read(void* buffer, std::size_t length) {
  if (length == 0) return 0;
  if (platform::InterruptRequested()) {
    if (raiseOnShortRead_) RaiseError(kUserAbort);
    return -1;
  }
  auto* target = static_cast<unsigned char*>(buffer);
  std::int64_t got = 0;
  if (IsFileMode()) {
    got = ReadAll(bytes_.file, target, length);
  } else {
    const std::int64_t available = std::max<std::int64_t>(Available(), 0);
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(available), length));
    if (take > 0) std::memcpy(target, bytes_.data + bytes_.position, take);
    bytes_.position += static_cast<std::int64_t>(take);
    // A short read leaves the position at the end, also when it stood beyond.
    if (take < length) bytes_.position = bytes_.used < 0 ? bytes_.capacity : bytes_.used;
    got = static_cast<std::int64_t>(take);
  }
  if (got != static_cast<std::int64_t>(length) && raiseOnShortRead_) RaiseError(kReadError);
  return got;
}

std::int64_t ArchiveStore::FailWrite(int code) {
  if (raiseOnWriteFailure_) RaiseError(code);
  return -1;
}

void ArchiveStore::ReadAt(std::int64_t position, void* buffer, std::size_t length) {
  if (Seek(position, platform::kSeekBegin) != position) RaiseError(kReadError);
  if (Read(buffer, length) != static_cast<std::int64_t>(length)) RaiseError(kReadError);
}

std::int64_t ArchiveStore::Write(const void* buffer, std::size_t length) {
  if (length == 0) return 0;
  // An interrupted run stops at its next write and ends through the failure
  // path, which keeps the old archive.
  if (platform::InterruptRequested()) return FailWrite(kUserAbort);
  if (IsFileMode()) return WriteFileBytes(buffer, length);
  return WriteMemory(static_cast<const unsigned char*>(buffer), length);
}

std::int64_t ArchiveStore::WriteFileBytes(const void* data, std::size_t length) {
  const std::int64_t put = WriteAll(bytes_.file, static_cast<const unsigned char*>(data), length);
  if (put != static_cast<std::int64_t>(length)) return FailWrite(kWriteError);
  return put;
}

std::int64_t ArchiveStore::WriteMemory(const unsigned char* data, std::size_t length) {
  if (bytes_.readOnly || bytes_.data == nullptr) return FailWrite(kWriteError);
  // Nothing longer than twice the memory limit can matter to the checks
  // below; saturating keeps the arithmetic in range.
  const std::int64_t span = length > static_cast<std::uint64_t>(2 * kMemoryLimit)
                                ? 2 * kMemoryLimit
                                : static_cast<std::int64_t>(length);
  const std::int64_t end = bytes_.position + span;
  if (end > bytes_.capacity) {
    if (!bytes_.owned) {
      // A caller's block takes what fits and is then full.
      const std::int64_t fit = std::max<std::int64_t>(bytes_.capacity - bytes_.position, 0);
      if (fit > 0) std::memcpy(bytes_.data + bytes_.position, data, static_cast<std::size_t>(fit));
      bytes_.position = bytes_.capacity;
      if (bytes_.used >= 0) bytes_.used = bytes_.capacity;
      return FailWrite(kWriteError);
    }
    const int code = Reserve(end, std::max(span, end - bytes_.capacity));
    if (code != kOk) return FailWrite(code);
    if (IsFileMode()) return WriteFileBytes(data, length);
  }
  std::memcpy(bytes_.data + bytes_.position, data, length);
  bytes_.position = end;
  if (bytes_.used >= 0 && end > bytes_.used) bytes_.used = end;
  return static_cast<std::int64_t>(length);
}

int ArchiveStore::Reserve(std::int64_t end, std::int64_t needed) {
  if (end <= bytes_.capacity) return kOk;
  if (!bytes_.owned) return kWriteError;
  if (Grow(needed)) return kOk;
  if (!spillAllowed_) return kWriteError;
  return Spill();
}

bool ArchiveStore::Grow(std::int64_t needed) {
  const std::int64_t current = bytes_.capacity;
  const std::int64_t maximum = bytes_.maximum;
  if (maximum - current < needed) return false;
  // Half again plus 64 KiB keeps appending amortised constant.
  std::int64_t capacity = current + current / 2 + 65536;
  if (capacity < current + needed) capacity = current + needed + 4096;
  if (capacity > maximum) {
    if (current >= maximum) return false;
    capacity = maximum;
  }
  std::unique_ptr<unsigned char[]> block(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(capacity) + kSlack]());
  if (!block) return false;
  std::memcpy(block.get(), bytes_.data, static_cast<std::size_t>(current));
  bytes_.owned = std::move(block);
  bytes_.data = bytes_.owned.get();
  bytes_.capacity = static_cast<std::int32_t>(capacity);
  return true;
}

platform::Handle ArchiveStore::CreateTempFile() {
  char folder[kNameCapacity];
  if (tempFolder_[0] != '\0') {
    CopyName(folder, tempFolder_);
  } else if (platform::TempFolder(folder, kNameCapacity) == 0) {
    return platform::kInvalidHandle;
  }
  if (!platform::TempFileName(folder, kTempPrefix, tempName_)) {
    tempName_[0] = '\0';
    return platform::kInvalidHandle;
  }
  const platform::Handle file = platform::OpenFile(tempName_, platform::kAccessReadWrite,
                                                   platform::kShareNone, platform::kCreateAlways);
  if (file == platform::kInvalidHandle) platform::DeleteFile(tempName_);
  return file;
}

int ArchiveStore::Spill() {
  const platform::Handle file = CreateTempFile();
  if (file == platform::kInvalidHandle) return kFileCreateError;
  const std::int64_t content = Size();
  const bool copied = WriteAll(file, bytes_.data, static_cast<std::size_t>(content)) == content &&
                      platform::SeekFile(file, bytes_.position, platform::kSeekBegin) == bytes_.position;
  if (!copied) {
    platform::CloseFile(file);
    platform::DeleteFile(tempName_);
    return kWriteError;
  }
  bytes_ = Bytes();
  bytes_.file = file;
  bytes_.fileSize = content;
  bytes_.spilled = true;
  return kOk;
}

std::int64_t ArchiveStore::Seek(std::int64_t offset, std::uint32_t origin) {
  if (IsFileMode()) return platform::SeekFile(bytes_.file, offset, origin);
  std::int64_t base = 0;
  switch (origin) {
    case platform::kSeekBegin:
      base = 0;
      break;
    case platform::kSeekCurrent:
      base = bytes_.position;
      break;
    case platform::kSeekEnd:
      base = bytes_.capacity;
      break;
    default:
      return -1;
  }
  // base lies within 0 and kMemoryLimit, so neither comparison overflows.
  if (offset < -base) {
    bytes_.position = 0;
  } else if (offset > kMemoryLimit - base) {
    bytes_.position = kMemoryLimit;
  } else {
    bytes_.position = base + offset;
  }
  return bytes_.position;
}

std::int64_t ArchiveStore::Tell() const {
  if (!IsFileMode()) return bytes_.position;
  const std::int64_t position = platform::SeekFile(bytes_.file, 0, platform::kSeekCurrent);
  // The answer becomes the offset of the next record: an unknown position
  // must stop the writer as a failed write would.
  if (position < 0 && raiseOnWriteFailure_) RaiseError(kWriteError);
  return position;
}

std::int64_t ArchiveStore::Size() const {
  if (IsFileMode()) return platform::FileSize(bytes_.file);
  return bytes_.used < 0 ? bytes_.capacity : bytes_.used;
}

int ArchiveStore::Truncate() {
  if (IsMemoryMode()) {
    if (bytes_.readOnly || bytes_.data == nullptr) return static_cast<int>(FailWrite(kWriteError));
    const int code = Reserve(bytes_.position, bytes_.position - bytes_.capacity);
    if (code != kOk) return static_cast<int>(FailWrite(code));
    if (IsMemoryMode()) {
      bytes_.used = bytes_.position;
      return kOk;
    }
  }
  if (!platform::TruncateFile(bytes_.file)) return static_cast<int>(FailWrite(kWriteError));
  return kOk;
}

int ArchiveStore::Clear() {
  if (IsMemoryMode()) {
    if (bytes_.used >= 0) {
      bytes_.position = 0;
      bytes_.used = 0;
    }
    return kOk;
  }
  if (platform::SeekFile(bytes_.file, 0, platform::kSeekBegin) != 0 || !platform::TruncateFile(bytes_.file)) {
    return static_cast<int>(FailWrite(kWriteError));
  }
  return kOk;
}

// ---- Streams ------------------------------------------------------------------------

std::int64_t ArchiveStore::WriteThunk(void* context, const void* buffer, std::size_t length) {
  if (buffer == nullptr) return 0;  // the end of the output: nothing to finish
  auto* store = static_cast<ArchiveStore*>(context);
  // The codec may run inside a C library's callback: the failure travels
  // back as -1 and the codec reports it as a write failure.
  try {
    return store->Write(buffer, length);
  } catch (const EngineFault&) {
    return -1;
  }
}

std::int64_t ArchiveStore::ReadThunk(void* context, void* buffer, std::size_t length) {
  auto* store = static_cast<ArchiveStore*>(context);
  if (!store->IsFileMode()) return -1;
  const std::size_t want = static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(store->inputRemainder_), length));
  if (want == 0) return 0;
  const std::int64_t got = platform::ReadFile(store->bytes_.file, buffer, std::min(want, kFileChunk));
  if (got < 0) return -1;
  store->inputRemainder_ -= got;
  return got;
}

void ArchiveStore::ConnectOutput(DataStream& stream, std::uint32_t seed) {
  if (IsFileMode()) {
    stream.OutputToHandle(bytes_.file, kNoLimit, seed);
  } else if (bytes_.owned) {
    // Through the store's own write, so that the block can grow or spill.
    stream.OutputToFunction(this, &ArchiveStore::WriteThunk, seed);
  } else if (bytes_.data != nullptr && !bytes_.readOnly) {
    const std::int64_t at = std::min<std::int64_t>(bytes_.position, bytes_.capacity);
    stream.OutputToMemory(static_cast<std::size_t>(bytes_.capacity - at), bytes_.data + at, seed,
                          &bytes_.position);
    if (bytes_.used >= 0) stream.SetHighWater(&bytes_.used);
  } else {
    RaiseError(kWriteError);
  }
}

void ArchiveStore::ConnectInput(DataStream& stream, std::int64_t length, std::uint32_t seed) {
  if (IsFileMode()) {
    if (length < kHandleSpanLimit) {
      stream.InputFromHandle(bytes_.file, length < 0 ? kNoLimit : length, seed);
    } else {
      inputRemainder_ = length;
      stream.InputFromFunction(this, &ArchiveStore::ReadThunk, seed);
    }
    return;
  }
  const std::int64_t remaining = std::max<std::int64_t>(Available(), 0);
  const std::int64_t take = length < 0 ? remaining : std::min(length, remaining);
  const unsigned char* start = take > 0 ? bytes_.data + bytes_.position : bytes_.data;
  stream.InputFromMemory(static_cast<std::size_t>(take), start, seed, &bytes_.position);
}

// ---- Rebuilding ------------------------------------------------------------------------

void ArchiveStore::BeginRebuild(std::int64_t expected, std::int64_t maximum) {
  if (second_) RaiseError(kInternalError);
  second_ = std::make_unique<ArchiveStore>();
  second_->bytes_ = std::move(bytes_);
  second_->raiseOnShortRead_ = raiseOnShortRead_;
  second_->raiseOnWriteFailure_ = raiseOnWriteFailure_;
  second_->spillAllowed_ = spillAllowed_;
  CopyName(second_->tempFolder_, tempFolder_);
  CopyName(second_->tempName_, tempName_);
  bytes_ = Bytes();
  tempName_[0] = '\0';

  const std::int64_t start = std::min(std::max<std::int64_t>(expected, kRebuildStartCapacity), kMemoryLimit);
  if (maximum < start) {
    const platform::Handle file = CreateTempFile();
    if (file == platform::kInvalidHandle) {
      CancelRebuild();
      RaiseError(kFileCreateError);
    }
    bytes_.file = file;
    bytes_.spilled = true;
    return;
  }
  std::unique_ptr<unsigned char[]> block(
      new (std::nothrow) unsigned char[static_cast<std::size_t>(start) + kSlack]());
  if (!block) {
    CancelRebuild();
    RaiseError(kNoMemory);
  }
  bytes_.owned = std::move(block);
  bytes_.data = bytes_.owned.get();
  bytes_.capacity = static_cast<std::int32_t>(start);
  bytes_.maximum = static_cast<std::int32_t>(std::min(maximum, kMemoryLimit));
  spillAllowed_ = true;
}

void ArchiveStore::EndRebuild() {
  if (!second_) return;
  second_->Release();
  second_.reset();
  RefreshFileSize();
}

void ArchiveStore::CancelRebuild() {
  if (!second_) return;
  const bool imageInTempFile = bytes_.spilled;
  CloseFile();
  if (imageInTempFile && tempName_[0] != '\0') platform::DeleteFile(tempName_);
  bytes_ = std::move(second_->bytes_);
  spillAllowed_ = second_->spillAllowed_;
  CopyName(tempName_, second_->tempName_);
  second_->bytes_ = Bytes();
  second_.reset();
}

}  // namespace korbel
