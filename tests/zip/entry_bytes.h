// Reading an entry back into a byte vector through the archive's sink.
#ifndef PAKKARO_TESTS_ZIP_ENTRY_BYTES_H
#define PAKKARO_TESTS_ZIP_ENTRY_BYTES_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace entry_bytes {

// A sink that appends every block to the Bytes it is given.
inline std::int64_t AppendToBytes(void* context, const void* data, std::size_t length) {
  if (data == nullptr) return 0;
  auto* out = static_cast<testing_support::Bytes*>(context);
  const auto* bytes = static_cast<const unsigned char*>(data);
  out->insert(out->end(), bytes, bytes + length);
  return static_cast<std::int64_t>(length);
}

// The entry's bytes; a failed read is a test failure.
inline testing_support::Bytes ReadAll(korbel::Korbel& archive, int index) {
  testing_support::Bytes out;
  EXPECT_EQ(archive.ReadEntry(index, &out, AppendToBytes, nullptr), korbel::kOk) << archive.EntryName(index);
  return out;
}

}  // namespace entry_bytes

#endif  // PAKKARO_TESTS_ZIP_ENTRY_BYTES_H
