// Fuzz target: the Deflate64 decoder on raw input, selected and run as the reader
// runs it for zip method 9.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::DecompressOnce(9, 0, data, size);
  return 0;
}
