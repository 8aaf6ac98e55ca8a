// The read and write callbacks the PPMd coder tests feed their coders with:
// a byte vector read from the front, a byte vector appended to.
#ifndef PAKKARO_TESTS_ZIP_CODEC_PPMD_TEST_IO_H
#define PAKKARO_TESTS_ZIP_CODEC_PPMD_TEST_IO_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ppmd_testing {

struct ByteSource {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
};

inline long ReadBytes(void* context, unsigned char* buffer, unsigned long size) {
  auto* source = static_cast<ByteSource*>(context);
  const size_t n = std::min<size_t>(size, source->bytes.size() - source->pos);
  if (n != 0) std::memcpy(buffer, source->bytes.data() + source->pos, n);
  source->pos += n;
  return static_cast<long>(n);
}

inline long WriteBytes(void* context, const unsigned char* buffer, unsigned long size) {
  auto* sink = static_cast<std::vector<uint8_t>*>(context);
  sink->insert(sink->end(), buffer, buffer + size);
  return static_cast<long>(size);
}

}  // namespace ppmd_testing

#endif  // PAKKARO_TESTS_ZIP_CODEC_PPMD_TEST_IO_H
