// KeptDirectory: the central directory of an archive that may be changed, as
// it was loaded. The headers of entries a change does not touch are written
// back from it byte for byte.
#ifndef PAKKARO_ZIP_KEPT_DIRECTORY_H
#define PAKKARO_ZIP_KEPT_DIRECTORY_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"

namespace korbel {

class KeptDirectory {
 public:
  // Reads the `size` bytes of the directory at `start`; raises kReadError
  // when they cannot be read.
  void Keep(ArchiveStore& store, std::int64_t start, std::size_t size);
  void Forget();
  bool Kept() const { return kept_; }
  // The directory's bytes, or nullptr when none are kept.
  const std::vector<std::uint8_t>* Bytes() const { return kept_ ? &bytes_ : nullptr; }
  // The central header kept for a loaded entry, or nullptr.
  const std::uint8_t* CentralOf(const ZipEntry& entry) const;

 private:
  std::vector<std::uint8_t> bytes_;
  bool kept_ = false;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_KEPT_DIRECTORY_H
