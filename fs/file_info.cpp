#include "fs/file_info.h"

#include "fs/path_strings.h"
#include "platform/file_time.h"

namespace fs {
namespace {

constexpr std::uint64_t kUnixEpoch = platform::kFileTimeOf1970;
constexpr std::uint64_t kEpochSeconds = platform::kSecondsFrom1601To1970;
constexpr std::uint64_t kUnitsPerSecond = platform::kFileTimeUnitsPerSecond;
constexpr std::uint64_t kMaxFileTime = ~0ull;

FileInfo InfoFromData(const platform::FileData& data) {
  std::uint32_t attributes = InfoAlways;
  if ((data.attributes & platform::kAttrReadOnly) == 0) attributes |= InfoWritable;
  if (data.attributes & platform::kAttrDirectory) attributes |= InfoFolder;
  if (data.attributes & platform::kAttrHidden) attributes |= InfoHidden;
  if (data.attributes & platform::kAttrArchive) attributes |= InfoArchive;
  if (data.attributes & platform::kAttrSystem) attributes |= InfoSystem;
  attributes |= static_cast<std::uint32_t>(data.size >> 32) << InfoSizeHighShift;
  FileInfo info;
  info.attributes = attributes;
  info.size = static_cast<std::uint32_t>(data.size);
  info.created = FileTimeToSeconds(data.created);
  info.accessed = FileTimeToSeconds(data.accessed);
  info.modified = FileTimeToSeconds(data.modified);
  return info;
}

template <typename Char>
void ClearRecord(FileRecord<Char>* out) {
  out->info.size = 0;
  out->name[0] = 0;
  out->link = false;
  out->special = false;
}

// The top 32 values of the 32-bit range hold the platform's invalid handle,
// whether a handle is seen sign-extended or as an unsigned 32-bit number.
bool IsInvalidSearch(platform::SearchHandle search) {
  const std::int64_t value = static_cast<std::int64_t>(search);
  return (value >= -32 && value <= -1) || (value >= 0xFFFFFFE0ll && value <= 0xFFFFFFFFll);
}

}  // namespace

template <typename Char>
int GetFileInfo(const Char* path, FileRecord<Char>* out) {
  if (!out) return InfoBadArgument;
  platform::FileData data;
  if (!path || !platform::GetAttributesEx(path, &data)) {
    ClearRecord(out);
    if (!path) return InfoBadArgument;
    switch (platform::LastError()) {
      case platform::kErrorFileNotFound:
        return InfoNotFound;
      case platform::kErrorPathNotFound:
        return InfoNoPath;
      default:
        return InfoFailed;
    }
  }
  out->info = InfoFromData(data);
  out->name[0] = 0;
  out->link = (data.attributes & platform::kAttrReparsePoint) != 0;
  out->special = (data.attributes & platform::kAttrDevice) != 0;
  return InfoOk;
}

template <typename Char>
platform::SearchHandle FindFirstInfo(const Char* pattern, FileRecord<Char>* out, int* code) {
  int result = InfoOk;
  platform::SearchHandle search = platform::kInvalidSearch;
  if (!out || !pattern) {
    if (out) ClearRecord(out);
    result = InfoBadArgument;
  } else {
    platform::FindData<Char> found;
    search = platform::FindFirst(pattern, &found);
    if (search == platform::kInvalidSearch) {
      ClearRecord(out);
      switch (platform::LastError()) {
        case platform::kErrorFileNotFound:
        case platform::kErrorNoMoreFiles:
          result = InfoNotFound;
          break;
        case platform::kErrorDirectory:
          result = InfoNoPath;
          break;
        default:
          result = InfoFailed;
          break;
      }
    } else {
      out->info = InfoFromData(found.data);
      out->link = (found.data.attributes & platform::kAttrReparsePoint) != 0;
      out->special = (found.data.attributes & platform::kAttrDevice) != 0;
      CopyBounded(out->name, found.name, static_cast<int>(platform::kFoundNameCapacity<Char>));
    }
  }
  if (code) *code = result;
  return search;
}

template <typename Char>
int FindNextInfo(platform::SearchHandle search, FileRecord<Char>* out) {
  if (!out) return InfoBadArgument;
  if (IsInvalidSearch(search)) {
    ClearRecord(out);
    return InfoBadArgument;
  }
  platform::FindData<Char> found;
  if (!platform::FindNext(search, &found)) return InfoNotFound;
  out->info = InfoFromData(found.data);
  out->link = (found.data.attributes & platform::kAttrReparsePoint) != 0;
  out->special = (found.data.attributes & platform::kAttrDevice) != 0;
  CopyBounded(out->name, found.name, static_cast<int>(platform::kFoundNameCapacity<Char>));
  return InfoOk;
}

int FindCloseInfo(platform::SearchHandle search) {
  if (IsInvalidSearch(search)) return InfoBadArgument;
  return platform::FindClose(search) ? InfoOk : InfoBadArgument;
}

std::int64_t FileTimeToSeconds(platform::FileTime time, bool* ok) {
  if (ok) *ok = time != 0;
  if (time == 0) return platform::kNoTime;
  if (time >= kUnixEpoch) return static_cast<std::int64_t>((time - kUnixEpoch) / kUnitsPerSecond);
  // Rounded down, as after 1970: a part second moves the time to the earlier second.
  return -static_cast<std::int64_t>((kUnixEpoch - time + kUnitsPerSecond - 1) / kUnitsPerSecond);
}

platform::FileTime SecondsToFileTime(std::int64_t seconds, bool* ok) {
  if (ok) *ok = false;
  constexpr std::int64_t kLast = static_cast<std::int64_t>(kMaxFileTime / kUnitsPerSecond - kEpochSeconds);
  if (seconds < -static_cast<std::int64_t>(kEpochSeconds)) return 0;  // before 1601, kNoTime too
  if (seconds > kLast) return 0;
  const std::uint64_t since1601 =
      static_cast<std::uint64_t>(seconds + static_cast<std::int64_t>(kEpochSeconds));
  if (since1601 == 0) return 0;  // the file time 0 means none
  if (ok) *ok = true;
  return since1601 * kUnitsPerSecond;
}

std::int64_t NewestTime(const FileInfo* info) {
  if (!info) return platform::kNoTime;
  if (info->modified != platform::kNoTime) return info->modified;
  if (info->created != platform::kNoTime) return info->created;
  return info->accessed;
}

template int GetFileInfo<char>(const char*, FileRecord<char>*);
template int GetFileInfo<platform::WideChar>(const platform::WideChar*, FileRecord<platform::WideChar>*);
template platform::SearchHandle FindFirstInfo<char>(const char*, FileRecord<char>*, int*);
template platform::SearchHandle FindFirstInfo<platform::WideChar>(const platform::WideChar*,
                                                                  FileRecord<platform::WideChar>*, int*);
template int FindNextInfo<char>(platform::SearchHandle, FileRecord<char>*);
template int FindNextInfo<platform::WideChar>(platform::SearchHandle, FileRecord<platform::WideChar>*);

}  // namespace fs
