// Shared pieces of the fuzz targets: a sink that refuses output past a cap,
// so that a decompression bomb ends quickly instead of timing out, and the
// reader's way of running one codec over a block of bytes.
#ifndef PAKKARO_FUZZ_FUZZ_SUPPORT_H
#define PAKKARO_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/codec/codec.h"
#include "zip/codec/codec_failure.h"
#include "zip/codec/codec_selection.h"
#include "zip/korbel.h"

namespace fuzzing {

// Output taken per entry or per stream before the sink refuses.
constexpr std::uint64_t kOutputCap = 4u << 20;

struct CappedSink {
  std::uint64_t taken = 0;
};

// The shape of the engine's sinks and of a codec's function output: a
// refusal (-1) past the cap is a write failure the caller must survive.
inline std::int64_t TakeCapped(void* context, const void* data, std::size_t length) {
  auto* sink = static_cast<CappedSink*>(context);
  if (data == nullptr) return 0;
  if (length > kOutputCap - sink->taken) return -1;
  sink->taken += length;
  return static_cast<std::int64_t>(length);
}

// Selects the codec of zip `method` as the reader does and decompresses the
// bytes once, the input from memory, the output into a capped sink; with a
// stated size (`expected`), as the reader states the directory's.
inline void DecompressOnce(int method, std::uint64_t uncompressedSize, const std::uint8_t* data,
                           std::size_t size, std::uint64_t expected = korbel::kUnknownSize) {
  korbel::CodecSelection selection;
  if (korbel::SelectCodec(selection, method, uncompressedSize, 0) != korbel::kSelectOk) return;
  korbel::Codec& codec = *selection.codec;
  CappedSink sink;
  codec.InputFromMemory(size, data, korbel::kNoCrc);
  codec.OutputToFunction(&sink, TakeCapped, 0);
  codec.ExpectSize(expected);
  try {
    codec.Decompress(korbel::kOwnMode);
  } catch (const korbel::CodecFailure&) {
    // Refusing the input is the expected answer to most inputs.
  }
  codec.Disconnect();
}

// The next little-endian value of `count` bytes from the front of the input.
inline std::uint64_t TakeLittleEndian(const std::uint8_t*& data, std::size_t& size, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count && size > 0; ++i, ++data, --size) {
    value |= static_cast<std::uint64_t>(*data) << (8 * i);
  }
  return value;
}

// Opens the input as an archive in memory: its first byte chooses the loader
// (bit 0: tolerant), the rest is the archive, copied into `block`, which must
// outlive the archive. False when there is nothing to open or it is refused.
inline bool OpenArchiveInput(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>* block,
                             korbel::Korbel* archive) {
  if (size < 2) return false;
  const auto choice = static_cast<unsigned>(TakeLittleEndian(data, size, 1));
  const std::uint32_t options = (choice & 1) ? std::uint32_t{korbel::kTolerant} : 0u;
  block->assign(data, data + size);
  return archive->OpenMemory(block->data(), static_cast<std::int64_t>(block->size()), -1, options) ==
         korbel::kOk;
}

}  // namespace fuzzing

#endif  // PAKKARO_FUZZ_FUZZ_SUPPORT_H
