// The local file header in front of each entry's data, and the data
// descriptor that may follow the data.
#ifndef PAKKARO_ZIP_LOCAL_HEADER_H
#define PAKKARO_ZIP_LOCAL_HEADER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/format/header_fields.h"
#include "zip/format/zip_constants.h"
#include "zip/format/zip_entry.h"

namespace korbel {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr std::size_t kLocalHeaderSize = 30;  // fixed part, before name and extra
constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr std::size_t kDataDescriptorSize = 16;       // signature, CRC-32, two 32-bit sizes
constexpr std::size_t kZip64DataDescriptorSize = 24;  // signature, CRC-32, two 64-bit sizes

// The fixed part as stored: the fields shared with the central header.
struct LocalHeader : HeaderFields {};

// Reads the 30-byte fixed part; false when fewer bytes are given or the
// signature is not there.
bool ParseLocalHeader(const std::uint8_t* data, std::size_t size, LocalHeader* header);
// Appends the 30-byte fixed part.
void AppendLocalHeader(const LocalHeader& header, std::vector<std::uint8_t>* out);

// Appends an entry's whole local header: the fixed part, the encoded name (a
// folder's with a trailing '/') and the local extra field. Sets or clears
// bit 11 of the entry's flags and stores the encoded name length and the
// extra length in the entry. False, with nothing appended, when the encoded
// name or the extra field is longer than 65535 bytes.
bool AppendEntryLocalHeader(ZipEntry* entry, std::vector<std::uint8_t>* out);

// Bytes from an entry's local header to the end of its data and data
// descriptor, from the on-disk lengths in the entry: the descriptor length
// found when the archive was loaded, else 16 when flag bit 3 is set;
// UINT64_MAX when the sum does not fit.
std::uint64_t EntrySpan(const ZipEntry& entry);

// True when the bytes start with the data descriptor signature.
bool IsDataDescriptor(const std::uint8_t* data, std::size_t size);

}  // namespace korbel

#endif  // PAKKARO_ZIP_LOCAL_HEADER_H
