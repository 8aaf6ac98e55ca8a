// Checks made before a central directory is written, and the writing of
// header bytes.
#ifndef PAKKARO_ZIP_DIRECTORY_WRITER_H
#define PAKKARO_ZIP_DIRECTORY_WRITER_H

#include <memory>
#include <vector>

#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"

namespace korbel {

// Whether every entry that goes into the directory (written, neither deleted
// nor faulty) has a name and comment whose encoded form fits a 16-bit length.
// A name loaded from another archive can grow when encoded again (code page
// 850 bytes become two-byte UTF-8 sequences), so a 65535-byte name may not.
bool DirectoryHeadersFit(const std::vector<ZipEntry*>& entries);

// Appends the central header of an entry loaded from an archive and not
// changed since (`kept`, KeptCentralSize bytes) exactly as the archive stored it, but for
// its local header offset. An offset that had a Zip64 value keeps it there;
// one that no longer fits 32 bits gains a Zip64 value, the one case in which
// the extra field is rebuilt (its other blocks kept, version needed 45).
// False, with nothing appended, when the rebuilt extra field would pass
// 65535 bytes.
bool AppendKeptCentralHeader(const ZipEntry& entry, const std::uint8_t* kept, std::vector<std::uint8_t>* out);

// Writes `bytes` at the store's position; a short write raises kWriteError.
void WriteBytes(ArchiveStore& store, const std::vector<std::uint8_t>& bytes);

}  // namespace korbel

#endif  // PAKKARO_ZIP_DIRECTORY_WRITER_H
