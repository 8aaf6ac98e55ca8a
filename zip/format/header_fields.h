// The fields the local and the central header both hold, in the same order:
// the local header's whole fixed part after its signature, and the central
// header's from its second field on.
#ifndef PAKKARO_ZIP_HEADER_FIELDS_H
#define PAKKARO_ZIP_HEADER_FIELDS_H

#include <cstdint>

#include "zip/format/byte_cursor.h"
#include "zip/format/zip_entry.h"

namespace korbel {

// As stored: the sizes are the raw 32-bit fields.
struct HeaderFields {
  std::uint16_t versionNeeded = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t dosDateTime = 0;
  std::uint32_t crc32 = 0;
  std::uint32_t compressedSize = 0;    // 0xFFFFFFFF: the value is in the Zip64 block
  std::uint32_t uncompressedSize = 0;  // same
  std::uint16_t nameLength = 0;
  std::uint16_t extraLength = 0;
};

// Reads the shared run at the cursor; the caller checks in.ok() once the
// whole record is read.
void ReadHeaderFields(ByteCursor& in, HeaderFields* fields);
// Writes the shared run.
void WriteHeaderFields(const HeaderFields& fields, ByteWriter& writer);
// The shared run for an entry: its fields, the sizes as 32-bit fields
// (0xFFFFFFFF where they need Zip64) and its name length. The extra length
// is left to the caller: each header has its own extra field.
void FillHeaderFields(const ZipEntry& entry, HeaderFields* fields);

}  // namespace korbel

#endif  // PAKKARO_ZIP_HEADER_FIELDS_H
