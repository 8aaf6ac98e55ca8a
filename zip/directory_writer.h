// Checks made before a central directory is written.
#ifndef PAKKARO_ZIP_DIRECTORY_WRITER_H
#define PAKKARO_ZIP_DIRECTORY_WRITER_H

#include <memory>
#include <vector>

#include "zip/zip_entry.h"

namespace korbel {

// Whether every entry that goes into the directory (written, neither deleted
// nor faulty) has a name and comment whose encoded form fits a 16-bit length.
// A name loaded from another archive can grow when encoded again (code page
// 850 bytes become two-byte UTF-8 sequences), so a 65535-byte name may not.
bool DirectoryHeadersFit(const std::vector<std::unique_ptr<ZipEntry>>& entries);

}  // namespace korbel

#endif  // PAKKARO_ZIP_DIRECTORY_WRITER_H
