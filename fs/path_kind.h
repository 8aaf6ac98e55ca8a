// What a path names (file, folder, drive root, nothing), and creation of
// missing folders along a path.
#ifndef PAKKARO_FS_PATH_KIND_H
#define PAKKARO_FS_PATH_KIND_H

namespace fs {

// Capacity of every path buffer of the program, terminator included.
constexpr int MaxPath = 260;

enum PathKind : int {
  PathMissing = 0,
  PathFile = 1,
  PathFolder = 2,
  PathDriveRoot = 3,
};

// Keep length for EnsureFolder: the folder ends at the path's last '\', '/'
// or ':' (what an extraction target needs before its file is written).
constexpr int KeepToLastSeparator = 0xFFFF;

// Drive letters are checked against the present drives; C:\ is a drive root
// without asking the file system. A path that resolves to the file-system
// root "/" is a drive root too: it is the POSIX counterpart of C:\ and the
// front end must refuse it the same way.
template <typename Char>
PathKind GetPathKind(const Char* path);

// Makes sure the folder exists, creating every missing folder on the way:
// 0 failed, 1 created, 2 already there. keepLength > 0 takes only that many
// characters of path as the folder (KeepToLastSeparator: up to the last
// separator); 0 or less takes the whole path.
template <typename Char>
int EnsureFolder(const Char* path, int keepLength);

}  // namespace fs

#endif  // PAKKARO_FS_PATH_KIND_H
