// Finding the central directory from the records behind it. The end record
// is searched backwards through the whole source, and a candidate is taken
// only when it fits what surrounds it: its comment reaches the end of the
// source, or a central header stands where it puts the directory. So a
// signature inside an archive comment or inside a stored archive does not
// pass for the archive's own end record, and data behind an archive does not
// hide it.
#ifndef PAKKARO_ZIP_DIRECTORY_LOCATOR_H
#define PAKKARO_ZIP_DIRECTORY_LOCATOR_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korbel {

class ArchiveStore;

struct DirectoryPlace {
  // The directory spans [start, endRecord); Zip64 records, when present,
  // stand at its end.
  std::int64_t start = 0;
  std::int64_t endRecord = 0;
  // How far the directory stands behind the place the end records state for
  // it: the length of data put in front of an archive (a self-extractor's
  // stub) without its offsets being adjusted. Never negative.
  std::int64_t displacement = 0;
  std::uint64_t entries = 0;
  // The 16-bit count of a plain end record wraps when a writer left out the
  // Zip64 records; 0 when the count is exact.
  std::uint64_t modulo = 0x10000;
  // The archive comment as stored.
  std::vector<std::uint8_t> comment;
};

// Finds the directory of the `size` bytes of `store`. Raises code 3 when no
// end record fits, 19 for an archive spread over several disks, 11 when the
// fitting record or its comment is cut off. The Zip64 records' values
// replace those the end record marks as too large; any other value the two
// state differently is code 3. Unless `tolerant`, a directory that claims
// entries must start with a central header (code 29 instead for one that
// the Zip64 record marks as encrypted).
DirectoryPlace LocateDirectory(ArchiveStore& store, std::int64_t size, bool tolerant);

}  // namespace korbel

#endif  // PAKKARO_ZIP_DIRECTORY_LOCATOR_H
