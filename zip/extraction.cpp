// Reading entries back: into a sink, for a test, into files on disk.
#include <cstring>
#include <string>

#include "fs/file_info.h"
#include "fs/path_kind.h"
#include "fs/path_strings.h"
#include "platform/platform.h"
#include "zip/codec/codec_failure.h"
#include "zip/korbel.h"
#include "zip/local_header.h"

namespace korbel {
namespace {

constexpr int kAesMethod = 99;
constexpr std::size_t kJoinedCapacity = 516;

std::int64_t DiscardBytes(void*, const void*, std::size_t length) { return static_cast<std::int64_t>(length); }

std::int64_t WriteToFile(void* context, const void* data, std::size_t length) {
  if (data == nullptr || length == 0) return 0;
  const std::int64_t written = platform::WriteFile(*static_cast<platform::Handle*>(context), data, length);
  return written < 0 ? -1 : written;
}

// Codes for a codec failure while reading. A test's sink never refuses
// bytes, so a failed write there is just another decompression failure.
int CodeForFailure(const CodecFailure& failure, bool testing) {
  switch (failure.kind) {
    case kCodecInputEnded: return kEndOfData;
    case kCodecReadFailed: return testing ? kFileReadError : kReadError;
    case kCodecWriteFailed: return testing ? kDecompressError : kWriteError;
    default: return kDecompressError;
  }
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Passes at most the entry's declared size on to the real sink: a stream
// that would produce more is refused, not written.
struct BoundedSink {
  void* context;
  SinkFunction sink;
  std::uint64_t left;
  bool overflowed;
};

std::int64_t WriteBounded(void* context, const void* data, std::size_t length) {
  auto* bounded = static_cast<BoundedSink*>(context);
  if (data != nullptr && length > bounded->left) {
    bounded->overflowed = true;
    return -1;
  }
  const std::int64_t taken = bounded->sink(bounded->context, data, length);
  if (data != nullptr && taken > 0) bounded->left -= static_cast<std::uint64_t>(taken);
  return taken;
}

// True when a component of `path` behind its first `keep` characters is a
// symbolic link or junction that exists already: writing through it could
// land outside the target folder. The walk stops at the first missing
// component, since everything below it is created fresh.
bool PassesThroughLink(const std::string& path, std::size_t keep) {
  for (std::size_t at = keep + 1; at <= path.size(); ++at) {
    if (at < path.size() && !IsSeparator(path[at])) continue;
    const std::uint32_t attributes = platform::GetAttributes(path.substr(0, at).c_str());
    if (attributes == platform::kInvalidAttributes) return false;
    if (attributes & platform::kAttrReparsePoint) return true;
  }
  return false;
}

// A name that would leave the target folder: a ".." component, or a path
// that is still absolute after the drive and one leading separator of each
// kind were dropped.
bool EscapesTarget(const char* name) {
  if (IsSeparator(name[0])) return true;
  if (name[0] != '\0' && name[1] == ':') return true;
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p == '\0' || IsSeparator(*p)) {
      if (p - component == 2 && component[0] == '.' && component[1] == '.') return true;
      if (*p == '\0') return false;
      component = p + 1;
    }
  }
}

}  // namespace

int Korbel::ReadEntry(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info) {
  return ReadEntryInto(index, sinkContext, sink, info, false);
}

int Korbel::TestEntry(int index) {
  if (EventEnabled(kEventTest) && Report(kEventTest, index) != 0) return Fail(kUserAbort, index);
  const ZipEntry* entry = EntryAt(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written) {
    return Fail(kBadIndexOrMode, index);
  }
  if (entry->uncompressedSize == 0) return lastError_ = kOk;
  return ReadEntryInto(index, nullptr, DiscardBytes, nullptr, true);
}

int Korbel::ReadEntryInto(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info, bool testing) {
  if (runState_ < 2) {
    bytesProcessed_ = 0;
    bytesTotal_ = 0;
  }
  lastError_ = kOk;
  ZipEntry* entry = EntryAt(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written || sink == nullptr) {
    return Fail(kBadIndexOrMode, index);
  }
  const int method = entry->method == kAesMethod ? entry->aesMethod : entry->method;
  const int selected = SelectCodec(codec_, method, entry->uncompressedSize, 0);
  if (selected == kSelectUnsupported) return Fail(kUnsupported, index);
  if (selected != kSelectOk) return Fail(kNoMemory, index);
  Codec& codec = *codec_.codec;
  codec.ClearCounts();
  bytesTotal_ = entry->uncompressedSize;
  detailText_ = entry->name.c_str();

  int code = kOk;
  try {
    const std::uint64_t dataAt =
        entry->localHeaderOffset + kLocalHeaderSize + entry->nameLength + entry->localExtraLength;
    if (dataAt > static_cast<std::uint64_t>(INT64_MAX)) RaiseError(kReadError);
    // A read-only archive file cannot change under us, so small entries come
    // from a window read ahead over their neighbours.
    const unsigned char* window = nullptr;
    if (openMode_ == kReadOnly && store_.IsFileMode() && entry->compressedSize <= kEntryWindowSize) {
      window = entryWindow_.Get(store_, static_cast<std::int64_t>(dataAt),
                                static_cast<std::size_t>(entry->compressedSize));
    }
    if (window != nullptr) {
      codec.InputFromMemory(static_cast<std::size_t>(entry->compressedSize), window, kNoCrc);
    } else {
      const auto at = static_cast<std::int64_t>(dataAt);
      if (store_.Seek(at, platform::kSeekBegin) != at) RaiseError(kReadError);
      store_.ConnectInput(codec, static_cast<std::int64_t>(entry->compressedSize), kNoCrc);
    }
    if (entry->flags & 0x0001) SetUpDecryption(*entry);
    BoundedSink bounded{sinkContext, sink, entry->uncompressedSize, false};
    codec.OutputToFunction(&bounded, WriteBounded, 0);
    codec.ExpectSize(entry->uncompressedSize);
    try {
      codec.Decompress(kOwnMode);
    } catch (const CodecFailure& failure) {
      RaiseError(bounded.overflowed ? kDecompressError : CodeForFailure(failure, testing));
    }
    const std::uint32_t crc = codec.OutputCrc();
    if (crc != entry->crc32 && !(entry->crc32 == 0 && entry->aesInfo != 0)) {
      RaiseError(testing ? kCrcError : kDecompressError);
    }
    // Less data than the directory declares is as wrong as more.
    if (bounded.left != 0) RaiseError(kDecompressError);
    if (sink(sinkContext, nullptr, 0) != 0) RaiseError(kFileWriteError);
  } catch (const EngineFault& fault) {
    code = fault.code;
  } catch (const std::bad_alloc&) {
    code = kNoMemory;
  }
  codec.Disconnect();
  if (code != kOk) {
    if (testing) entry->faulty = 1;
    return Fail(code, index);
  }
  bytesProcessed_ = bytesTotal_;
  if (info != nullptr) {
    const std::uint64_t size = entry->uncompressedSize;
    info->attributes = ((entry->externalAttributes & kEntryReadOnly) ? 3u : 1u) |
                       (static_cast<std::uint32_t>((size >> 32) & 0x3F) << 10);
    info->size = static_cast<std::uint32_t>(size);
    info->created = entry->created > 0 ? static_cast<std::uint32_t>(entry->created) : 0;
    info->accessed = entry->accessed > 0 ? static_cast<std::uint32_t>(entry->accessed) : 0;
    info->modified = entry->modified > 0 ? static_cast<std::uint32_t>(entry->modified) : 0;
  }
  if (EventEnabled(kEventExtracted) && Report(kEventExtracted, index) != 0) return Fail(kUserAbort, index);
  return lastError_ = kOk;
}

int Korbel::ExtractEntry(int index, const char* target) {
  detailText_ = nullptr;
  if (EventEnabled(kEventExtract) && Report(kEventExtract, index) != 0) return Fail(kUserAbort, index);
  if (EventEnabled(kEventSkip) && Report(kEventSkip, index) != 0) {
    lastError_ = kOk;
    return kSkipped;
  }
  ZipEntry* entry = EntryAt(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written) {
    return Fail(kBadIndexOrMode, index);
  }
  if (target == nullptr || *target == '\0') target = "./";

  std::string path;
  const std::size_t targetLength = std::strlen(target);
  if (IsSeparator(target[targetLength - 1])) {
    char folder[fs::MaxPath];
    const std::uint32_t length = platform::GetFullPath(target, folder, fs::MaxPath);
    if (targetLength >= 256 || length == 0 || length >= static_cast<std::uint32_t>(fs::MaxPath)) {
      return Fail(kBadPath, index);
    }
    const char* name = entry->name.c_str();
    if (name[0] != '\0' && name[1] == ':') name += 2;
    if (*name == '\\') ++name;
    if (*name == '/') ++name;
    // A NUL inside the stored name would cut it short on disk.
    if (EscapesTarget(name) || entry->name.find('\0') != std::string::npos) return Fail(kBadPath, index);
    path.assign(folder, length);
    if (!IsSeparator(path.back())) path += '/';
    const std::size_t folderLength = path.size() - 1;
    path += name;
    if (path.size() >= kJoinedCapacity) return Fail(kBadPath, index);
    if (PassesThroughLink(path, folderLength)) return Fail(kBadPath, index);
  } else {
    path = target;
  }

  const bool folderEntry = (entry->externalAttributes & kEntryFolder) != 0;
  if (options_ & (kKeepExisting | kKeepDrive | kFreshen)) {
    fs::FileRecord<char> existing;
    if (fs::GetFileInfo(path.c_str(), &existing) == fs::InfoOk) {
      const bool readOnly = !(existing.info.attributes & fs::InfoWritable);
      if (((options_ & kKeepDrive) && readOnly) || (options_ & kKeepExisting)) {
        entry->processingState = kSkippedOrPresent;
        return lastError_ = kOk;
      }
      if (existing.info.attributes & fs::InfoFolder) {
        if (folderEntry) {
          entry->processingState = kSkippedOrPresent;
          return lastError_ = kOk;
        }
        return Fail(kFileCreateError, index);
      }
      if ((options_ & kFreshen) &&
          static_cast<std::uint32_t>(entry->modified) <= existing.info.modified) {
        entry->processingState = kSkippedOrPresent;
        return lastError_ = kOk;
      }
    }
  }

  if (folderEntry) {
    const int made = fs::EnsureFolder(path.c_str(), 0);
    if (made == 0) return Fail(kFileCreateError, index);
    entry->processingState = made == 2 ? kSkippedOrPresent : kProcessed;
    return lastError_ = kOk;
  }

  auto create = [&path]() {
    return platform::OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kShareNone,
                              platform::kCreateAlways, true);
  };
  platform::FileCloser file(create());
  if (file.Get() == platform::kInvalidHandle) {
    const std::uint32_t error = platform::LastError();
    if (error == platform::kErrorAccessDenied) {
      if (!platform::SetAttributes(path.c_str(), platform::kAttrNormal)) return Fail(kFileCreateError, index);
    } else if (error == platform::kErrorPathNotFound || error == platform::kErrorFileNotFound) {
      if (fs::EnsureFolder(path.c_str(), fs::KeepToLastSeparator) == 0) return Fail(kFileCreateError, index);
    } else {
      return Fail(kFileCreateError, index);
    }
    file.Reset(create());
    if (file.Get() == platform::kInvalidHandle) return Fail(kFileCreateError, index);
  }

  platform::Handle handle = file.Get();
  fs::FileInfo info{};
  const int result = ReadEntryInto(index, &handle, WriteToFile, &info, false);
  if (result != kOk) return result;
  const bool created = info.created != 0;
  const bool accessed = info.accessed != 0;
  const bool modified = info.modified != 0 && !(info.attributes & 0x02);
  const platform::FileTime createdTime = fs::SecondsToFileTime(info.created);
  const platform::FileTime accessedTime = fs::SecondsToFileTime(info.accessed);
  const platform::FileTime modifiedTime = fs::SecondsToFileTime(info.modified);
  platform::SetFileTimes(handle, created ? &createdTime : nullptr, accessed ? &accessedTime : nullptr,
                         modified ? &modifiedTime : nullptr);
  // A close the system refuses may have lost the last bytes written.
  if (!platform::CloseFile(file.Release())) return Fail(kFileWriteError, index);
  entry->processingState = kProcessed;
  return lastError_ = kOk;
}

int Korbel::ExtractAll(const char* folder, int* errorCount) {
  if (openMode_ == kClosed) return Fail(kBadIndexOrMode);
  std::string target;
  if (folder == nullptr) {
    target = "./";
  } else {
    target = folder;
    if (!target.empty() && !IsSeparator(target.back())) target += '/';
  }
  ProgressRun(2);
  int result = kOk;
  int errors = 0;
  for (int index = 0; index < EntryCount(); ++index) {
    const int status = EntryStatus(index);
    if ((status & kStatusDeleted) || !(status & kStatusWritten)) continue;
    const int code = ExtractEntry(index, target.c_str());
    if (code == kUserAbort) break;
    if (code == kOk || code == kSkipped || code == kBadIndexOrMode) continue;
    ++errors;
    result = code;
  }
  ProgressRun(0);
  lastError_ = result;
  if (errorCount != nullptr) *errorCount = errors;
  return result;
}

}  // namespace korbel
