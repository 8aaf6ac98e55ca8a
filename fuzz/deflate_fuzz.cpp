// Fuzz target: the Deflate decoder on raw input, selected and run as the reader
// runs it for zip method 8. The first byte chooses between a streamed run
// and a run with a stated size (the next three bytes), which inflates whole.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const bool stated = (data[0] & 1) != 0;
  const std::uint64_t expected = data[1] | (data[2] << 8) | (std::uint64_t{data[3]} << 16);
  fuzzing::DecompressOnce(8, 0, data + 4, size - 4, stated ? expected : korbel::kUnknownSize);
  return 0;
}
