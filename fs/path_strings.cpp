#include "fs/path_strings.h"

#include <string>

#include "fs/char_rules.h"
#include "platform/platform.h"

namespace fs {
namespace {

template <typename Char>
const Char* EmptyText() {
  static const Char kEmpty[1] = {Char(0)};
  return kEmpty;
}

template <typename Char>
int Measured(int length, const Char* path) {
  return length < 0 ? TextLength(path) : length;
}

}  // namespace

template <typename Char>
const Char* GetNamePart(int length, const Char* path, int* outLength) {
  if (!path) {
    if (outLength) *outLength = 0;
    return EmptyText<Char>();
  }
  length = Measured(length, path);
  int pos = length - 1;
  while (pos >= 0 && !IsNameEnd(path[pos])) --pos;
  if (outLength) *outLength = length - pos - 1;
  return path + pos + 1;
}

template <typename Char>
int CopyNamePart(Char* target, int length, const Char* path, int capacity) {
  if (!target || capacity <= 0) return 0;
  int nameLength = 0;
  const Char* name = GetNamePart(length, path, &nameLength);
  if (nameLength >= capacity) {
    target[0] = 0;
    return 0;
  }
  // The name may already lie in target (an in-place call).
  std::char_traits<Char>::move(target, name, static_cast<std::size_t>(nameLength));
  target[nameLength] = 0;
  return nameLength;
}

template <typename Char>
int CutToFolder(int length, Char* path) {
  if (!path) return 0;
  length = Measured(length, path);
  int pos = length - 1;
  while (pos >= 0 && !IsNameEnd(path[pos])) --pos;
  if (pos < 0) {
    path[0] = 0;
    return 0;
  }
  if (pos > 0 && !IsNameEnd(path[pos - 1])) {
    path[pos] = 0;
    return pos;
  }
  path[pos + 1] = 0;
  return pos + 1;
}

template <typename Char>
int AppendSeparator(Char* path, int length) {
  if (!path) return 0;
  length = Measured(length, path);
  if (length > 0 && IsSeparator(path[length - 1])) return length;
  path[length] = Char('\\');
  path[length + 1] = 0;
  return length + 1;
}

template <typename Char>
void StripSeparator(Char* path, int length) {
  if (!path) return;
  length = Measured(length, path);
  if (length > 0 && IsSeparator(path[length - 1])) path[length - 1] = 0;
}

template <typename Char>
const Char* FindExtension(int length, const Char* path, int* outLength) {
  if (outLength) *outLength = 0;
  if (!path) return EmptyText<Char>();
  length = Measured(length, path);
  for (int pos = length - 1; pos >= 0; --pos) {
    const Char c = path[pos];
    if (IsSeparator(c)) break;
    if (c == Char('.')) {
      if (pos == 0 || IsNameEnd(path[pos - 1])) break;
      if (outLength) *outLength = length - pos - 1;
      return path + pos + 1;
    }
  }
  return path + length;
}

template <typename Char>
int ReplaceExtension(int length, Char* target, const Char* source, const Char* extension, int capacity) {
  if (!target || capacity < 1) return 0;
  if (!source) {
    target[0] = 0;
    return 0;
  }
  length = Measured(length, source);
  const Char* ext = extension ? extension : EmptyText<Char>();
  if (*ext == Char('*')) ++ext;
  if (*ext == Char('.')) ++ext;

  // Unlike FindExtension, a drive colon ends the name here as well.
  int stem = length;
  for (int pos = length - 1; pos >= 0; --pos) {
    const Char c = source[pos];
    if (IsNameEnd(c)) break;
    if (c == Char('.')) {
      if (pos > 0 && !IsNameEnd(source[pos - 1])) stem = pos;
      break;
    }
  }

  const int limit = capacity - 1;
  if (stem + 1 >= limit) {
    // No room for a dot and one character: the name stays as it is.
    if (target == source) return length;
    const int copied = length < limit ? length : limit;
    std::char_traits<Char>::move(target, source, static_cast<std::size_t>(copied));
    target[copied] = 0;
    return copied;
  }
  if (target != source) {
    std::char_traits<Char>::move(target, source, static_cast<std::size_t>(stem));
  }
  int out = stem;
  if (*ext) {
    target[out++] = Char('.');
    while (*ext && out < limit) target[out++] = *ext++;
  }
  target[out] = 0;
  return out;
}

template <typename Char>
int ConvertSeparators(Char* path, Char target) {
  if (!path) return 0;
  const bool toSlash = target == Char('/') || target == Char(0);
  const Char from = toSlash ? Char('\\') : Char('/');
  const Char to = toSlash ? Char('/') : Char('\\');
  int length = 0;
  for (; path[length]; ++length) {
    if (path[length] == from) path[length] = to;
  }
  return length;
}

template <typename Char>
int CopyBounded(Char* target, const Char* source, int capacity) {
  if (!target || capacity <= 0) return 0;
  int copied = 0;
  if (source) {
    while (copied < capacity - 1 && source[copied]) {
      target[copied] = source[copied];
      ++copied;
    }
  }
  target[copied] = 0;
  return copied;
}

template <typename Char>
int AppendBounded(Char* target, const Char* source, int capacity) {
  if (!target || capacity <= 0) return 0;
  int length = 0;
  while (length < capacity && target[length]) ++length;
  if (length == capacity) return capacity;
  return length + CopyBounded(target + length, source, capacity - length);
}

#define PAKKARO_FS_PATH_STRINGS(Char)                                             \
  template const Char* GetNamePart<Char>(int, const Char*, int*);                 \
  template int CopyNamePart<Char>(Char*, int, const Char*, int);                  \
  template int CutToFolder<Char>(int, Char*);                                     \
  template int AppendSeparator<Char>(Char*, int);                                 \
  template void StripSeparator<Char>(Char*, int);                                 \
  template const Char* FindExtension<Char>(int, const Char*, int*);               \
  template int ReplaceExtension<Char>(int, Char*, const Char*, const Char*, int); \
  template int ConvertSeparators<Char>(Char*, Char);                              \
  template int CopyBounded<Char>(Char*, const Char*, int);                        \
  template int AppendBounded<Char>(Char*, const Char*, int);

PAKKARO_FS_PATH_STRINGS(char)
PAKKARO_FS_PATH_STRINGS(platform::WideChar)
#undef PAKKARO_FS_PATH_STRINGS

}  // namespace fs
