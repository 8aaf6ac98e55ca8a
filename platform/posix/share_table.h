// The share modes of open files, kept for this process, so that the POSIX
// build refuses what Windows refuses: a second open that the first one does
// not share, and deleting a file that is open. Opens by other processes are
// not seen.
#ifndef PAKKARO_PLATFORM_POSIX_SHARE_TABLE_H
#define PAKKARO_PLATFORM_POSIX_SHARE_TABLE_H

#include <sys/types.h>

#include <cstdint>

namespace platform {
namespace posix {

// Records the open of descriptor `fd` on the file (device, inode) with the
// given access and share bits; false, recording nothing, when an earlier open
// of that file conflicts.
bool AddOpenFile(int fd, dev_t device, ino_t inode, std::uint32_t access, std::uint32_t share);
void RemoveOpenFile(int fd);
// Whether an open of the file keeps it from being deleted or renamed over:
// one that does not share deletion.
bool IsFileOpen(dev_t device, ino_t inode);

}  // namespace posix
}  // namespace platform

#endif  // PAKKARO_PLATFORM_POSIX_SHARE_TABLE_H
