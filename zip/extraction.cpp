// Reading entries back: into a sink, for a test, into files on disk.
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "fs/char_rules.h"
#include "fs/file_info.h"
#include "fs/path_kind.h"
#include "fs/path_strings.h"
#include "platform/platform.h"
#include "zip/extract_path.h"
#include "zip/format/local_header.h"
#include "zip/format/zip_constants.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

std::int64_t WriteToFile(void* context, const void* data, std::size_t length) {
  if (data == nullptr || length == 0) return 0;
  const std::int64_t written = platform::WriteFile(*static_cast<platform::Handle*>(context), data, length);
  return written < 0 ? -1 : written;
}

// The file record of an entry that tested good.
void FillFileInfo(const ZipEntry& entry, fs::FileInfo* info) {
  const std::uint64_t size = entry.uncompressedSize;
  info->attributes = ((entry.externalAttributes & kEntryReadOnly) ? 3u : 1u) | fs::InfoSizeBits(size);
  info->size = static_cast<std::uint32_t>(size);
  info->created = entry.created;
  info->accessed = entry.accessed;
  info->modified = entry.modified;
}

int PlaceExtractedEntry(const ZipEntry& entry, const char* target, ExtractPlace* place) {
  if (target == nullptr || *target == '\0') target = "./";
  const std::size_t targetLength = std::strlen(target);
  if (!fs::IsSeparator(target[targetLength - 1])) return PlaceAtPath(target, place);
  char folder[fs::MaxPath];
  const std::uint32_t length = platform::GetFullPath(target, folder, fs::MaxPath);
  if (targetLength >= 256 || length == 0 || length >= static_cast<std::uint32_t>(fs::MaxPath))
    return kBadPath;
  const int placed = PlaceInFolder(std::string_view(folder, length), entry.name.view(), place);
  // A name the file system would change could land on another entry's file.
  if (placed == kOk && platform::NamesFollowWindowsRules() && WindowsChangesName(place->relative))
    return kBadPath;
  return placed;
}

// kOk with *skip set when an existing file or folder keeps the entry from
// being extracted, as the options ask.
int CheckExistingTarget(std::uint32_t options, const ZipEntry& entry, const ExtractPlace& place, bool* skip) {
  if (!(options & (kKeepExisting | kKeepDrive | kFreshen))) return kOk;
  fs::FileRecord<char> existing;
  if (fs::GetFileInfo(place.path.c_str(), &existing) != fs::InfoOk) return kOk;
  const bool readOnly = !(existing.info.attributes & fs::InfoWritable);
  if (((options & kKeepDrive) && readOnly) || (options & kKeepExisting)) {
    *skip = true;
    return kOk;
  }
  if (existing.info.attributes & fs::InfoFolder) {
    if (!(entry.externalAttributes & kEntryFolder)) return kFileCreateError;
    *skip = true;
    return kOk;
  }
  *skip = (options & kFreshen) && entry.modified <= existing.info.modified;
  return kOk;
}

// A time the entry lacks, or one no file time can hold, stays as the system
// set it. The times go through the open handle, before its close.
void SetExtractedTimes(platform::Handle handle, const fs::FileInfo& info) {
  bool created = false;
  bool accessed = false;
  bool modified = false;
  const platform::FileTime createdTime = fs::SecondsToFileTime(info.created, &created);
  const platform::FileTime accessedTime = fs::SecondsToFileTime(info.accessed, &accessed);
  const platform::FileTime modifiedTime = fs::SecondsToFileTime(info.modified, &modified);
  if (info.attributes & 0x02) modified = false;
  platform::SetFileTimes(handle, created ? &createdTime : nullptr, accessed ? &accessedTime : nullptr,
                         modified ? &modifiedTime : nullptr);
}

}  // namespace

void Korbel::PlanReads(std::vector<int> indices, bool testing) {
  reader_.EndPlan();
  if (openMode_ == kReadOnly) reader_.Plan(std::move(indices), testing);
}

int Korbel::ReadEntry(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info) {
  return ReadEntryInto(index, sinkContext, sink, info, false);
}

int Korbel::TestEntry(int index) {
  if (EventEnabled(kEventTest) && Report(kEventTest, index) != 0) return Fail(kUserAbort, index);
  const ZipEntry* entry = table_.At(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written) {
    return Fail(kBadIndexOrMode, index);
  }
  if (entry->uncompressedSize == 0) return SetLastError(kOk);
  return ReadEntryInto(index, nullptr, DiscardBytes, nullptr, true);
}

int Korbel::ReadEntryInto(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info, bool testing) {
  progress_.BeginRead();
  SetLastError(kOk);
  ZipEntry* entry = table_.At(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written || sink == nullptr) {
    return Fail(kBadIndexOrMode, index);
  }
  detailText_ = entry->name.c_str();
  // Strong encryption is not read: its data would come out as garbage.
  if (entry->flags & kFlagStrongEncryption) return Fail(kUnsupported, index);
  progress_.SetEntrySize(entry->uncompressedSize);
  const int code =
      reader_.Read(table_, index, testing, openMode_ == kReadOnly, password_.get(), sinkContext, sink);
  if (code != kOk) {
    if (testing) entry->faulty = 1;
    return Fail(code, index);
  }
  progress_.EntryRead();
  if (info != nullptr) FillFileInfo(*entry, info);
  if (EventEnabled(kEventExtracted) && Report(kEventExtracted, index) != 0) return Fail(kUserAbort, index);
  return SetLastError(kOk);
}

int Korbel::ExtractEntry(int index, const char* target) {
  detailText_.clear();
  if (EventEnabled(kEventExtract) && Report(kEventExtract, index) != 0) return Fail(kUserAbort, index);
  if (EventEnabled(kEventSkip) && Report(kEventSkip, index) != 0) {
    SetLastError(kOk);
    return kSkipped;
  }
  ZipEntry* entry = table_.At(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written) {
    return Fail(kBadIndexOrMode, index);
  }
  detailText_ = entry->name.c_str();
  ExtractPlace place;
  const int placed = PlaceExtractedEntry(*entry, target, &place);
  if (placed != kOk) return Fail(placed, index);

  const bool folderEntry = (entry->externalAttributes & kEntryFolder) != 0;
  // Files of one folder follow each other: the folder checked for the last
  // one serves again while its path still leads to it.
  const bool sameFolder = !folderEntry && !place.leaf.empty() && heldFolder_.Serves(place.base, place.parent);
  if (!sameFolder) {
    heldFolder_.Forget();
    if (fs::EnsureFolder(place.base.c_str(), 0) == 0) return Fail(kFileCreateError, index);
  }
  bool skip = false;
  const int existing = CheckExistingTarget(options_, *entry, place, &skip);
  if (existing != kOk) return Fail(existing, index);
  if (skip) {
    entry->processingState = kSkippedOrPresent;
    return SetLastError(kOk);
  }
  if (folderEntry || place.leaf.empty()) {
    bool created = false;
    // The files of a folder usually follow its entry: it is held for them.
    const int opened = heldFolder_.Open(place.base, place.relative, &created);
    if (opened != kOk) return Fail(opened, index);
    entry->processingState = created ? kProcessed : kSkippedOrPresent;
    return SetLastError(kOk);
  }
  if (!sameFolder) {
    const int held = heldFolder_.Open(place.base, place.parent);
    if (held != kOk) return Fail(held, index);
  }
  return WriteExtractedFile(index, place.leaf);
}

int Korbel::ExtractTargetPath(int index, const char* target, std::string* path) {
  const ZipEntry* entry = table_.At(index);
  if (openMode_ == kClosed || entry == nullptr || entry->deleted || !entry->written) return kBadIndexOrMode;
  ExtractPlace place;
  const int placed = PlaceExtractedEntry(*entry, target, &place);
  if (placed == kOk) *path = place.path;
  return placed;
}

// A name nobody holds yet is created as the file itself, and removed again
// when the entry fails. Over an existing file the entry is written under a
// temporary name and takes the file's place only once it tested good: a
// failure leaves the existing file as it was.
int Korbel::WriteExtractedFile(int index, const std::string& leaf) {
  platform::TargetFolder& folder = heldFolder_.Folder();
  std::string temporary;
  platform::FileCloser file(folder.CreateNew(leaf.c_str()));
  if (file.Get() == platform::kInvalidHandle) {
    if (platform::LastError() != platform::kErrorFileExists) return Fail(kFileCreateError, index);
    const int present = CodeForPresentLeaf(folder.Attributes(leaf.c_str()));
    if (present != kOk) return Fail(present, index);
    file.Reset(folder.CreateTemporary(&temporary));
    if (file.Get() == platform::kInvalidHandle) return Fail(kFileCreateError, index);
  }
  const std::string& written = temporary.empty() ? leaf : temporary;
  auto discard = [&](int code) {
    file.Reset();
    folder.Remove(written.c_str());
    return code;
  };
  platform::Handle handle = file.Get();
  fs::FileInfo info{};
  const int result = ReadEntryInto(index, &handle, WriteToFile, &info, false);
  // A cancel from the report after a good read still gets the file: the
  // info record is filled only when the entry tested good.
  if (result != kOk && !(result == kUserAbort && info.attributes != 0)) return discard(result);
  SetExtractedTimes(handle, info);
  // A close the system refuses may have lost the last bytes written.
  if (!platform::CloseFile(file.Release())) return discard(Fail(kFileWriteError, index));
  if (!temporary.empty() && !folder.Replace(temporary.c_str(), leaf.c_str())) {
    return discard(Fail(kFileCreateError, index));
  }
  table_.At(index)->processingState = kProcessed;
  if (result != kOk) return result;
  return SetLastError(kOk);
}

int Korbel::ExtractAll(const char* folder, int* errorCount) {
  if (openMode_ == kClosed) return Fail(kBadIndexOrMode);
  std::string target;
  if (folder == nullptr) {
    target = "./";
  } else {
    target = folder;
    if (!target.empty() && !fs::IsSeparator(target.back())) target += '/';
  }
  ProgressRun(2);
  std::vector<int> files;
  for (int index = 0; index < EntryCount(); ++index) {
    const int status = EntryStatus(index);
    if (!(status & (kStatusDeleted | kStatusFolder)) && (status & kStatusWritten)) files.push_back(index);
  }
  PlanReads(std::move(files), false);
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
  reader_.EndPlan();
  ProgressRun(0);
  SetLastError(result);
  if (errorCount != nullptr) *errorCount = errors;
  return result;
}

}  // namespace korbel
