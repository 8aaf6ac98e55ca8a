// Fuzz target: opening an archive held in memory and loading its directory.
// Bit 0 of the first byte chooses the tolerant loader; the rest is the
// archive, copied into a block of exactly its size so that the sanitizers
// see any read past the source.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "zip/korbel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> block;
  korbel::Korbel archive;
  if (!fuzzing::OpenArchiveInput(data, size, &block, &archive)) return 0;
  // A second load of the same store must find the same directory again.
  const int count = archive.EntryCount();
  if (archive.LoadDirectory(0) == korbel::kOk && archive.EntryCount() != count) __builtin_trap();
  for (int i = 0; i < archive.EntryCount(); ++i) {
    int length = 0;
    archive.EntryNameAndLength(i, &length);
    archive.EntrySize(i, true);
    archive.EntryTime(i);
    archive.FindEntry(archive.EntryName(i));
  }
  archive.Close();
  return 0;
}
