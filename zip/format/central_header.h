// The central directory header, one per entry in the directory.
#ifndef PAKKARO_ZIP_CENTRAL_HEADER_H
#define PAKKARO_ZIP_CENTRAL_HEADER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/format/dos_time.h"
#include "zip/format/header_fields.h"
#include "zip/format/zip_entry.h"

namespace korbel {

constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr std::size_t kCentralHeaderSize = 46;  // fixed part, before name, extra and comment

// The fixed part as stored: sizes and offset are the raw 32-bit fields. The
// made-by version stands in front of the fields shared with the local
// header, the rest behind them.
struct CentralHeader : HeaderFields {
  std::uint16_t versionMadeBy = 0;
  std::uint16_t commentLength = 0;
  std::uint16_t diskNumberStart = 0;
  std::uint16_t internalAttributes = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t localHeaderOffset = 0;  // same rule as the sizes
};

// Reads the 46-byte fixed part; false when fewer bytes are given or the
// signature is not there.
bool ParseCentralHeader(const std::uint8_t* data, std::size_t size, CentralHeader* header);
// Appends the 46-byte fixed part.
void AppendCentralHeader(const CentralHeader& header, std::vector<std::uint8_t>* out);

// Fills an entry from a parsed header: the fields, the sizes and offset
// widened to 64 bits, the made-by-DOS mark and the modification time from the
// DOS date-time. Name, extra field and comment follow the header and are
// applied separately (ApplyStoredName, ParseExtraField, DecodeName). A
// converter shared by a whole directory saves asking the system per entry.
void ApplyCentralHeader(const CentralHeader& header, ZipEntry* entry, DosTimeConverter* times = nullptr);

// Appends an entry's whole central header: the fixed part, the encoded name
// (a folder's with a trailing '/'), the central extra field and the encoded
// comment. Sets or clears bit 11 of the entry's flags and stores the encoded
// name and comment lengths and the extra length in the entry. False, with
// nothing appended, when one of them is longer than 65535 bytes.
bool AppendEntryCentralHeader(ZipEntry* entry, std::vector<std::uint8_t>* out);

}  // namespace korbel

#endif  // PAKKARO_ZIP_CENTRAL_HEADER_H
