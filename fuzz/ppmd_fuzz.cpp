// Fuzz target: the PPMd decoder. The first byte chooses where the model
// parameters come from: bit 0 clear, the 2-byte zip header in front of the
// data, as the reader has it; bit 0 set, a 5-byte parameter block (order,
// memory in bytes) that follows. Bit 1 set: the next 4 bytes are the size
// limit the reader takes from the entry; clear: up to the end mark.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "zip/codec/ppmd_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto choice = static_cast<unsigned>(fuzzing::TakeLittleEndian(data, size, 1));
  std::int64_t limit = -1;
  if (choice & 2) limit = static_cast<std::int64_t>(fuzzing::TakeLittleEndian(data, size, 4));
  korbel::PpmdCodec codec;
  if (choice & 1) {
    if (size < korbel::PpmdCodec::kParameterBlockSize) return 0;
    codec.SetParameterBlock(data);
    data += korbel::PpmdCodec::kParameterBlockSize;
    size -= korbel::PpmdCodec::kParameterBlockSize;
    codec.SetMode(0);
  } else {
    codec.SetMode(korbel::PpmdCodec::kZipHeader);
  }
  codec.SetSizeLimit(limit);
  fuzzing::CappedSink sink;
  codec.InputFromMemory(size, data, korbel::kNoCrc);
  codec.OutputToFunction(&sink, fuzzing::TakeCapped, 0);
  try {
    codec.Decompress(korbel::kOwnMode);
  } catch (const korbel::CodecFailure&) {
    // Refusing the input is the expected answer to most inputs.
  }
  codec.Disconnect();
  return 0;
}
