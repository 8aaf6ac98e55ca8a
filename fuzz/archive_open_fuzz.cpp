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
  if (size < 2) return 0;
  const unsigned choice = fuzzing::TakeLittleEndian(data, size, 1);
  const std::uint32_t options = (choice & 1) ? std::uint32_t{korbel::kTolerant} : 0u;
  std::vector<std::uint8_t> block(data, data + size);
  korbel::Korbel archive;
  if (archive.OpenMemory(block.data(), static_cast<std::int64_t>(block.size()), -1, options) !=
      korbel::kOk) {
    return 0;
  }
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
