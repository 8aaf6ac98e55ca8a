// Fuzz target: the LZMA decoder of zip method 14. The reader passes the
// entry's uncompressed size, which bounds the output and the dictionary;
// here it is the first 8 input bytes (little-endian, all ones: unknown),
// the rest is the entry's data with its 4-byte zip header and properties.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  const std::uint64_t declared = fuzzing::TakeLittleEndian(data, size, 8);
  fuzzing::DecompressOnce(14, declared, data, size);
  return 0;
}
