// Fuzz target: the Deflate decoder on raw input, selected and run as the reader
// runs it for zip method 8.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::DecompressOnce(8, 0, data, size);
  return 0;
}
