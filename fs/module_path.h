// The program's own executable path, the short (8.3) form of a path, and
// deletion that gets past the read-only attribute.
#ifndef PAKKARO_FS_MODULE_PATH_H
#define PAKKARO_FS_MODULE_PATH_H

namespace fs {

// Full file name of the running program; an empty text when the platform
// fails or the name does not fit the capacity.
template <typename Char>
void GetModulePath(Char* buffer, int capacity);

// The path with each existing component replaced by its short name (or by
// its stored long name, which brings the stored letter case, when it has
// none); components that are not found or hold wildcards stay. target may be
// path. Returns the length, or 0 with an empty target when the result does
// not fit. Where the platform has no short names the result is the full path.
template <typename Char>
int GetShortPath(Char* target, const Char* path, int capacity);

// 1 when the file was deleted, retrying once after clearing its attributes
// when the platform refused with access denied.
template <typename Char>
int DeleteFileForced(const Char* path);

}  // namespace fs

#endif  // PAKKARO_FS_MODULE_PATH_H
