// Adding files: the bulk walk, single entries queued or written at once, and
// folder entries.
#include <cstring>
#include <new>
#include <string>

#include "fs/char_rules.h"
#include "fs/file_finder.h"
#include "fs/path_order.h"
#include "fs/path_strings.h"
#include "fs/pattern_list.h"
#include "platform/platform.h"
#include "zip/entry_writer.h"
#include "zip/format/dos_time.h"
#include "zip/format/extra_fields.h"
#include "zip/format/local_header.h"
#include "zip/korbel.h"
#include "zip/packing_writer.h"
#include "zip/replacement_name.h"
#include "zip/stored_extensions.h"

namespace korbel {
namespace {

constexpr std::size_t kPrefixLimit = 512;
constexpr std::uint32_t kStoreBit = 0x100;

// What follows a ':' that stands before any separator (a drive), else the
// whole name.
const char* StripDrive(const char* name) {
  for (const char* p = name; *p != '\0' && !fs::IsSeparator(*p); ++p) {
    if (*p == ':') return p + 1;
  }
  return name;
}

// Without KeepDrive, the drive goes; then one leading '\' and one leading '/'.
const char* StripDriveAndRoot(const char* name, bool keepDrive) {
  if (!keepDrive) name = StripDrive(name);
  if (*name == '\\') ++name;
  if (*name == '/') ++name;
  return name;
}

std::string SlashSeparated(const char* name) {
  std::string result(name);
  fs::ConvertSeparators(&result[0], '/');
  return result;
}

// The folder prefix that AddFiles puts before each name: no leading root,
// '/' between its parts and none at its end.
std::string PrefixText(const char* prefix) {
  if (*prefix == '\\') ++prefix;
  if (*prefix == '/') ++prefix;
  std::string text = SlashSeparated(prefix);
  if (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

// The prefix joined to a walked name; a name of the ":" form keeps its mark
// in front.
std::string PrefixedName(const std::string& prefixText, const std::string& name) {
  if (!name.empty() && name[0] == ':') return ":" + prefixText + "/" + name.substr(1);
  return prefixText + "/" + name;
}

std::uint32_t ExternalAttributes(std::uint32_t attributes) {
  std::uint32_t external = 0;
  if (!(attributes & fs::InfoWritable)) external |= 0x01;
  if (attributes & fs::InfoHidden) external |= 0x02;
  if (attributes & fs::InfoSystem) external |= 0x04;
  if (attributes & fs::InfoFolder) external |= 0x10;
  if (attributes & fs::InfoArchive) external |= 0x20;
  return external;
}

bool KnownTime(std::int64_t seconds) { return seconds != platform::kNoTime; }

std::int64_t ReadFromHandle(void* context, void* buffer, std::size_t length) {
  return platform::ReadFile(*static_cast<platform::Handle*>(context), buffer, length);
}

struct MemorySource {
  const unsigned char* data;
  std::size_t size;
  std::size_t position;
};

std::int64_t ReadFromMemory(void* context, void* buffer, std::size_t length) {
  auto* source = static_cast<MemorySource*>(context);
  const std::size_t now = std::min(length, source->size - source->position);
  if (now > 0) std::memcpy(buffer, source->data + source->position, now);
  source->position += now;
  return static_cast<std::int64_t>(now);
}

// Restores the option word on every way out of AddFiles and AddFileByPath.
class OptionsGuard {
 public:
  OptionsGuard(std::uint32_t& options, std::uint32_t set, std::uint32_t clear)
      : options_(options), saved_(options) {
    options_ = (options_ | set) & ~clear;
  }
  ~OptionsGuard() { options_ = saved_; }
  OptionsGuard(const OptionsGuard&) = delete;
  OptionsGuard& operator=(const OptionsGuard&) = delete;
  std::uint32_t Saved() const { return saved_; }

 private:
  std::uint32_t& options_;
  std::uint32_t saved_;
};

// Whether a file the walk found at `fullPath` is the archive at
// `archivePath` (named `archiveName`), or a file a change of an archive is
// written to.
bool IsArchiveFile(const fs::FileFinder::Item& item, const char* fullPath, const char* archivePath,
                   const char* archiveName, const ArchiveStore& store) {
  // The archive never adds itself,
  if (archiveName != nullptr &&
      fs::ComparePaths(item.name.c_str(), archiveName, fs::CompareIgnoreCase) == 0 &&
      fs::ComparePaths(fullPath, archivePath, 7u) == 0) {
    return true;
  }
  // nor the file it is being written to, nor any file that a change of an
  // archive is being (or was, by a killed run) written to.
  return IsReplacementName(fullPath) ||
         (fs::InfoFileSize(item.info) == static_cast<std::uint64_t>(store.Size()) && store.IsFileMode() &&
          platform::IsSameFile(fullPath, store.FileHandle()));
}

}  // namespace

int Korbel::AddFiles(const char* folder, const char* include, const char* exclude, const char* prefix) {
  if (openMode_ < kModify) {
    Fail(kWriteError);
    return -1;
  }
  const std::string prefixText = prefix != nullptr ? PrefixText(prefix) : std::string();
  const bool hasPrefix = prefix != nullptr && *prefix != '\0';
  const std::size_t prefixLength = prefixText.size() + 1;

  OptionsGuard guard(options_, kSkipNameCheck, kKeepSorted);
  const std::uint32_t options = options_;
  fs::FileFinder finder;
  finder.StartWalk(folder, (options & kRecurse) != 0, include, exclude);
  int count = 0;
  bool nameTooLong = false;
  while (const fs::FileFinder::Item* item = finder.NextItem()) {
    if (platform::InterruptRequested()) {
      Fail(kUserAbort);
      return -1;
    }
    const char* fullPath = finder.ItemPath(item, false);
    if (IsArchiveFile(*item, fullPath, fullPath_, namePart_, store_)) continue;
    std::string sourcePath(fullPath);
    const char* itemName = (options & kFullPathNames) ? sourcePath.c_str() : finder.ItemPath(item, true);
    std::string name((options & kKeepDrive) ? itemName : StripDrive(itemName));
    if (hasPrefix) {
      if (prefixLength + name.size() >= kPrefixLimit) {
        nameTooLong = true;
        continue;
      }
      name = PrefixedName(prefixText, name);
    }
    const int existing = FindEntry(name.c_str());
    if (existing >= 0) {
      if (options & kKeepExisting) continue;
      const std::int64_t entryTime = EntryTime(existing);
      if ((options & kFreshen) && entryTime != platform::kNoTime && entryTime < fs::NewestTime(&item->info)) {
        continue;
      }
      DeleteEntry(existing);
    }
    SetPendingName(name);
    if (EventEnabled(kEventSkip) && Report(kEventSkip, EntryCount()) != 0) continue;

    if (AddWalkedFile(name, sourcePath, item->info) == kOk) ++count;
  }
  // A file the walk could not reach must not go missing unnoticed.
  const bool incomplete = finder.PathsTooLong() || nameTooLong;
  finder.ReleaseWalk();
  ClearPendingName();
  const bool keepSorted = (guard.Saved() & kKeepSorted) != 0;
  if (keepSorted && count > 0) {
    options_ = guard.Saved();
    SortEntries(-1);
  }
  if (incomplete) {
    Fail(kBadPath);
    return -1;
  }
  return count;
}

int Korbel::AddWalkedFile(const std::string& name, const std::string& sourcePath, const fs::FileInfo& info) {
  EntrySource source{info, {}};
  if (queuedAdding_) {
    source.path = sourcePath;
    return AddEntry(name.c_str(), nullptr, QueueFromSourcePath, &source);
  }
  platform::FileCloser file(OpenEntrySource(sourcePath.c_str()));
  if (file.Get() == platform::kInvalidHandle) {
    SetLastError(kFileOpenError);
    Report(kEventError, EntryCount());
    return kFileOpenError;
  }
  platform::Handle handle = file.Get();
  int result = AddEntry(name.c_str(), &handle, ReadFromHandle, &source);
  if (result == kCompressError && storeOnGrowthRetry_) {
    source.info.attributes |= kStoreBit;
    // Stored from where a failed rewind left it, the entry would hold
    // only the file's tail.
    result = platform::SeekFile(handle, 0, platform::kSeekBegin) == 0
                 ? AddEntry(name.c_str(), &handle, ReadFromHandle, &source)
                 : Fail(kReadError);
  }
  return result;
}

int Korbel::AddEntry(const char* name, void* sourceContext, ReadFunction read, const EntrySource* source) {
  if (source != nullptr && (source->info.attributes & fs::InfoFolder)) return AddFolderEntry(name);
  SetLastError(kOk);
  if (openMode_ < kModify) return Fail(kWriteError);
  if (name == nullptr || *name == '\0') return Fail(kEmptyName);
  name = StripDriveAndRoot(name, (options_ & kKeepDrive) != 0);
  if (*name == '\0') return Fail(kEmptyName);

  int method = method_;
  int level = level_;
  if (!(options_ & kSkipNameCheck)) {
    const int existing = FindEntry(name);
    if (existing >= 0) {
      if (options_ & kKeepExisting) return kOk;
      DeleteEntry(existing);
    }
  }
  if (IsStoredExtension(name)) method = kMethodStored;

  const bool queue = read == QueueFromSourcePath;
  const std::int64_t now = platform::CurrentTime();
  std::int64_t modified = now;
  std::int64_t created = modified;
  std::int64_t accessed = modified;
  std::uint32_t external = 0;
  std::uint64_t size = 1;
  if (source != nullptr) {
    const fs::FileInfo& info = source->info;
    if (KnownTime(info.modified)) modified = info.modified;
    created = KnownTime(info.created) ? info.created : modified;
    accessed = KnownTime(info.accessed) ? info.accessed : modified;
    external = ExternalAttributes(info.attributes);
    if (info.attributes & kStoreBit) method = kMethodStored;
    size = fs::InfoFileSize(info);
  }

  const int index = table_.New();
  ZipEntry& entry = *table_.At(index);
  entry.externalAttributes = external;
  entry.dosDateTime = DosDateTimeFromSeconds(modified);
  entry.modified = modified;
  entry.created = created;
  entry.accessed = accessed;
  entry.uncompressedSize = size;
  entry.name = SlashSeparated(name);
  table_.IndexName(index);
  if (EventEnabled(kEventCompress)) Report(kEventCompress, index);

  if (queue) {
    entry.sourcePath = source != nullptr ? source->path : "";
    entry.queued = 1;
    tail_.MarkChanged();
    return kOk;
  }
  return WriteEntryNow(index, sourceContext, read, method, level);
}

int Korbel::WriteEntryNow(int index, void* sourceContext, ReadFunction read, int method, int level) {
  ZipEntry& entry = *table_.At(index);
  ChooseMethodAndLevel(entry.uncompressedSize, &method, &level);
  entry.versionMadeBy = kVersionMadeBy;
  entry.flags = kFlagDataDescriptor;
  entry.method = method == kMethodStored ? kMethodStored : kMethodDeflate;
  entry.versionNeeded = VersionNeededFor(entry.method, false);
  entry.compressedSize = method == kMethodStored ? entry.uncompressedSize : 0;
  // Until its final header is written the entry counts as gone, so a failure
  // leaves it to be dropped.
  table_.MarkDeleted(&entry);
  entry.queued = 1;
  tail_.MarkChanged();
  EntryInput input;
  input.kind = EntryInput::kFunction;
  input.context = sourceContext;
  input.read = read;
  int code = kOk;
  try {
    PrepareToWrite();
    entryWriter_.WriteEntryData(entry, input, level, kReadError);
  } catch (const EngineFault& fault) {
    code = fault.code;
  } catch (const std::bad_alloc&) {
    code = kNoMemory;
  }
  if (code != kOk) {
    // The entry stays marked as gone; what it wrote lies behind the data
    // end, where the next entry or the directory goes.
    SetLastError(code);
    Report(kEventError, -1);
    return code;
  }
  table_.UnmarkDeleted(index);
  if (options_ & kKeepSorted) SortEntries(-1);
  if (EventEnabled(kEventAdded) && Report(kEventAdded, index) != 0) return 1;
  return kOk;
}

void Korbel::WritePendingEntries() {
  PackingEvents events;
  events.report = [this](int event, int index) { return EventEnabled(event) && Report(event, index) != 0; };
  events.detail = [this](const char* sourcePath) { detailText_ = sourcePath; };
  events.pendingName = [this](const std::string& name) { SetPendingName(name); };
  events.dropped = [this](int index, int code) {
    SetLastError(code);
    Report(kEventError, index);
  };
  packingWriter_.WriteQueued(method_, level_, events);
  ClearPendingName();
  table_.Remove([](const ZipEntry& entry) { return entry.deleted != 0; });
  if (options_ & kKeepSorted) SortEntries(-1);
}

int Korbel::AddFolderEntry(const char* name) {
  if (name == nullptr || *name == '\0') return Fail(kEmptyName);
  SetLastError(kOk);
  if (openMode_ < kModify) return Fail(kWriteError);
  name = StripDriveAndRoot(name, (options_ & kKeepDrive) != 0);
  if (!(options_ & kSkipNameCheck)) {
    const int existing = FindEntry(name);
    if (existing >= 0) {
      if (options_ & kKeepExisting) return kOk;
      DeleteEntry(existing);
    }
  }
  const int index = table_.New();
  ZipEntry& entry = *table_.At(index);
  const std::int64_t now = platform::CurrentTime();
  entry.externalAttributes = kEntryFolder;
  entry.versionNeeded = VersionNeededFor(kMethodStored, true);
  entry.versionMadeBy = kVersionMadeBy;
  entry.flags = kFlagDataDescriptor;
  entry.modified = entry.created = entry.accessed = now;
  entry.dosDateTime = DosDateTimeFromSeconds(now);
  std::string bare = SlashSeparated(name);
  while (!bare.empty() && bare.back() == '/') bare.pop_back();
  entry.name = bare;
  table_.IndexName(index);
  entry.queued = 1;
  table_.ForgetOrder();
  tail_.MarkChanged();
  if (options_ & kKeepSorted) SortEntries(-1);
  if (EventEnabled(kEventAdded) && Report(kEventAdded, index) != 0) return 1;
  return kOk;
}

int Korbel::AddFileByPath(const char* diskPath, const char* storedName) {
  SetLastError(kOk);
  if (openMode_ < kModify) return Fail(kWrongMode);
  if (storedName == nullptr || *storedName == '\0' || diskPath == nullptr) return Fail(kEmptyName);
  fs::FileRecord<char> record;
  if (fs::GetFileInfo(diskPath, &record) != fs::InfoOk) return Fail(kFileOpenError);
  if (record.info.attributes & fs::InfoFolder) return Fail(kFileOpenError);
  detailText_ = diskPath;
  const int existing = FindEntry(storedName);
  if (existing >= 0) {
    const ZipEntry& entry = *table_.At(existing);
    if (options_ & kKeepExisting) return Fail(kFileExists);
    if ((options_ & kFreshen) && entry.modified != platform::kNoTime &&
        entry.modified >= record.info.modified) {
      return Fail(kFileOlder);
    }
    if (entry.queued) return Fail(kFileExists);
    DeleteEntry(existing);
  }
  if (EventEnabled(kEventSkip) && Report(kEventSkip, EntryCount()) != 0) return Fail(kUserAbort);

  OptionsGuard guard(options_, kSkipNameCheck, 0);
  EntrySource source{record.info, {}};
  if (queuedAdding_) {
    source.path = diskPath;
    return AddEntry(storedName, nullptr, QueueFromSourcePath, &source);
  }
  platform::FileCloser file(OpenEntrySource(diskPath));
  if (file.Get() == platform::kInvalidHandle) return Fail(kFileOpenError);
  platform::Handle handle = file.Get();
  int result = AddEntry(storedName, &handle, ReadFromHandle, &source);
  if (result == kCompressError && storeOnGrowthRetry_) {
    source.info.attributes |= kStoreBit;
    result = platform::SeekFile(handle, 0, platform::kSeekBegin) == 0
                 ? AddEntry(storedName, &handle, ReadFromHandle, &source)
                 : Fail(kReadError);
  }
  return result;
}

int Korbel::AddFromMemory(const char* storedName, const void* data, std::size_t size,
                          const EntrySource* source) {
  EntrySource copy{};
  if (source != nullptr) {
    copy = *source;
    if (!copy.path.empty() && copy.path[0] == '*') copy.path.clear();
  }
  MemorySource memory{static_cast<const unsigned char*>(data), data != nullptr ? size : 0, 0};
  int result = AddEntry(storedName, &memory, ReadFromMemory, source != nullptr ? &copy : nullptr);
  if (result == kCompressError && storeOnGrowthRetry_) {
    if (source == nullptr) {
      copy = EntrySource{};
      copy.info.attributes = 0x103;
      copy.info.size = static_cast<std::uint32_t>(size);
      copy.info.attributes |= fs::InfoSizeBits(static_cast<std::uint64_t>(size));
    }
    copy.info.attributes |= kStoreBit;
    memory.position = 0;
    result = AddEntry(storedName, &memory, ReadFromMemory, &copy);
  }
  return result;
}

}  // namespace korbel
