#include "fs/path_kind.h"

#include <cstdint>

#include "fs/char_rules.h"
#include "platform/platform.h"

namespace fs {
namespace {

// The platform's mask of present drives has bit 0 for A.
template <typename Char>
bool DrivePresent(Char letter) {
  const unsigned upper =
      CodeOf(letter) >= 'a' && CodeOf(letter) <= 'z' ? CodeOf(letter) - ('a' - 'A') : CodeOf(letter);
  if (upper < 'A' || upper > 'Z') return false;
  return ((platform::LogicalDrives() >> (upper - 'A')) & 1u) != 0;
}

// Full form of path in a MaxPath buffer; 0 (and an empty buffer) when the
// platform fails or the result does not fit.
template <typename Char>
int ResolveFull(const Char* path, Char (&full)[MaxPath]) {
  const std::uint32_t length = platform::GetFullPath(path, full, MaxPath);
  if (length == 0 || length >= static_cast<std::uint32_t>(MaxPath)) {
    full[0] = 0;
    return 0;
  }
  return static_cast<int>(length);
}

template <typename Char>
bool IsFileSystemRoot(const Char* path) {
  Char full[MaxPath];
  const int length = ResolveFull(path, full);
  return length == 1 && IsSeparator(full[0]);
}

}  // namespace

template <typename Char>
PathKind GetPathKind(const Char* path) {
  if (!path || !path[0]) return PathMissing;
  if (path[1] == Char(':')) {
    if (!DrivePresent(path[0])) return PathMissing;
    if (IsSeparator(path[2]) && path[3] == 0) return PathDriveRoot;
    if (path[2] == 0) {
      // A bare drive names its current folder, which may be the root.
      Char full[MaxPath];
      const int length = ResolveFull(path, full);
      if (length == 0) return PathMissing;
      return length == 3 ? PathDriveRoot : PathFolder;
    }
  }
  const std::uint32_t attributes = platform::GetAttributes(path);
  if (attributes == platform::kInvalidAttributes) return PathMissing;
  if ((attributes & platform::kAttrDirectory) == 0) return PathFile;
  return IsFileSystemRoot(path) ? PathDriveRoot : PathFolder;
}

template <typename Char>
int EnsureFolder(const Char* path, int keepLength) {
  if (!path || !path[0]) return 0;
  if (path[1] == Char(':') && !DrivePresent(path[0])) return 0;

  Char full[MaxPath];
  int length = ResolveFull(path, full);
  if (length == 0) return 0;
  if (length > 2 && IsSeparator(full[length - 1]) && full[length - 2] == Char(':')) return 2;
  if (length == 1 && IsSeparator(full[0])) return 2;  // the POSIX root

  if (keepLength > 0) {
    const int given = TextLength(path);
    int keep = keepLength;
    if (keepLength == KeepToLastSeparator) {
      keep = given;
      while (keep > 0 && !IsNameEnd(path[keep - 1])) --keep;
    }
    // The full form may differ from the given text in front, never behind:
    // what the given path has beyond the kept prefix is cut from the end.
    const int cut = keep < given ? given - keep : 0;
    if (cut >= length) return 0;
    length -= cut;
    full[length] = 0;
  }
  if (length > 0 && IsSeparator(full[length - 1])) full[--length] = 0;
  if (length == 0) return 2;  // only the POSIX root was left

  int start = 0;
  if (length >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) {
    // A network path: the server cannot be created, the walk starts at its share.
    int server = 2;
    while (server < length && !IsSeparator(full[server])) ++server;
    if (server >= length) return 2;
    start = server + 1;
  }

  const std::uint32_t attributes = platform::GetAttributes(full);
  if (attributes != platform::kInvalidAttributes) {
    return (attributes & platform::kAttrDirectory) ? 2 : 0;
  }

  // The first component (the drive, the share, or the empty name in front of
  // a POSIX root) is taken as existing.
  int pos = start;
  while (pos < length && !IsSeparator(full[pos])) ++pos;
  bool missing = false;
  while (pos < length) {
    const int begin = pos + 1;
    int end = begin;
    while (end < length && !IsSeparator(full[end])) ++end;
    if (end == begin) return 0;
    const Char saved = full[end];
    full[end] = 0;
    if (!missing && platform::GetAttributes(full) == platform::kInvalidAttributes) missing = true;
    if (missing && !platform::CreateDirectory(full) &&
        platform::LastError() != platform::kErrorAlreadyExists) {
      return 0;
    }
    full[end] = saved;
    pos = end;
  }
  return 1;
}

template PathKind GetPathKind<char>(const char*);
template PathKind GetPathKind<platform::WideChar>(const platform::WideChar*);
template int EnsureFolder<char>(const char*, int);
template int EnsureFolder<platform::WideChar>(const platform::WideChar*, int);

}  // namespace fs
