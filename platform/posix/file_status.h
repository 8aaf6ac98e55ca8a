// What the POSIX backend knows about a file, in the shape of FileData.
#ifndef PAKKARO_PLATFORM_POSIX_FILE_STATUS_H
#define PAKKARO_PLATFORM_POSIX_FILE_STATUS_H

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

// Fills `data` for `name`, relative to the folder `folder` (an open folder
// descriptor, or AT_FDCWD). `shownName` is the name whose leading dot makes the
// file hidden. On failure sets the last error and returns false.
bool QueryFileData(int folder, const std::string& name, const std::string& shownName, FileData* data);

// The read-only attribute of a file: not writable by us. The write bit of the
// owner counts also for root, who could write anyway, so that the attribute
// behaves as on Windows whoever runs the program. Folders are never read-only.
bool IsReadOnly(int folder, const std::string& name, const struct stat& status);

FileTime FileTimeFromTimespec(std::int64_t seconds, long nanoseconds);
struct timespec TimespecFromFileTime(FileTime time);

}  // namespace posix
}  // namespace platform

#endif  // PAKKARO_PLATFORM_POSIX_FILE_STATUS_H
