// Fuzz target: loading an archive from memory (bit 0 of the first byte: the
// tolerant loader), then testing and reading every entry, once without a
// password and once with the password "fuzz" that the encrypted seeds use.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "zip/format/zip_constants.h"
#include "zip/korbel.h"

namespace {

// A test has no sink to cap, so it runs only where the output is bounded
// anyway: stored and Deflate data cannot grow far past their input, LZMA
// and PPMd stop at the entry's size. Reading covers the other methods.
bool BoundedForTest(const korbel::ZipEntry& entry) {
  const int method = korbel::DataMethodOf(entry);
  if (method == korbel::kMethodStored || method == korbel::kMethodDeflate) return true;
  return (method == korbel::kMethodLzma || method == korbel::kMethodPpmd) &&
         entry.uncompressedSize <= fuzzing::kOutputCap;
}

void ReadEverything(korbel::Korbel& archive) {
  for (int i = 0; i < archive.EntryCount(); ++i) {
    const korbel::ZipEntry* entry = archive.Table().At(i);
    if (entry != nullptr && BoundedForTest(*entry)) archive.TestEntry(i);
    fuzzing::CappedSink sink;
    archive.ReadEntry(i, &sink, fuzzing::TakeCapped, nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> block;
  korbel::Korbel archive;
  if (!fuzzing::OpenArchiveInput(data, size, &block, &archive)) return 0;
  ReadEverything(archive);
  archive.SetPassword("fuzz");
  ReadEverything(archive);
  archive.Close();
  return 0;
}
