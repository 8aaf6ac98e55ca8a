// Reference results the tests compare the engine against, made with zlib:
// raw Deflate both ways, CRC-32, and the first entry of a zip file as its
// local header describes it.
#ifndef PAKKARO_TESTS_SUPPORT_REFERENCE_CODECS_H
#define PAKKARO_TESTS_SUPPORT_REFERENCE_CODECS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/test_support.h"

namespace testing_support {

std::uint32_t Crc32(const Bytes& data);
std::uint32_t Crc32(const std::string& data);
std::uint32_t Crc32(const void* data, std::size_t size);

// zlib's raw Deflate stream of `plain` at `level`.
Bytes RawDeflate(const Bytes& plain, int level = 9);

// zlib's raw inflate of `packed`, expected to give `size` bytes; one more is
// room to show a stream that runs longer. A stream that does not end where
// its data ends is a test failure.
Bytes RawInflate(const Bytes& packed, std::size_t size);

// The first entry of a zip file as its local header describes it; the sizes
// must be in the header (no data descriptor).
struct FirstEntry {
  bool ok = false;  // a local header whose name, extra field and data fit in the file
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dosTime = 0;
  std::uint32_t crc = 0;
  std::uint32_t uncompressedSize = 0;
  std::string name;
  Bytes extra;
  Bytes data;  // compressed size bytes behind the header
};
FirstEntry ParseFirstEntry(const Bytes& zip);

}  // namespace testing_support

#endif  // PAKKARO_TESTS_SUPPORT_REFERENCE_CODECS_H
