// Numbers the zip format gives meaning to: compression methods, bits of the
// general-purpose flags, and the versions written into headers.
#ifndef PAKKARO_ZIP_ZIP_CONSTANTS_H
#define PAKKARO_ZIP_ZIP_CONSTANTS_H

#include <cstdint>

namespace korbel {

// Compression methods as stored in the headers.
enum ZipMethod : std::uint16_t {
  kMethodStored = 0,
  kMethodDeflate = 8,
  kMethodDeflate64 = 9,
  kMethodBZip2 = 12,
  kMethodLzma = 14,
  kMethodZstd = 93,  // Zstandard
  kMethodXz = 95,
  kMethodPpmd = 98,
  // The entry is AES-encrypted; the real method sits in the AES extra block.
  kMethodAes = 99,
};

// Bits of the general-purpose flags.
enum GeneralFlag : std::uint16_t {
  kFlagEncrypted = 0x0001,
  kFlagDataDescriptor = 0x0008,    // sizes and CRC follow the data
  kFlagStrongEncryption = 0x0040,  // encrypted by a scheme the engine does not read
  kFlagUtf8Name = 0x0800,          // name and comment are UTF-8
};

// Versions (zip format version * 10; the high byte of "made by" is the host).
constexpr std::uint16_t kVersionMadeBy = 0x0B17;  // host 11, version 2.3
constexpr std::uint16_t kVersionStored = 10;      // stored entries and folders
constexpr std::uint16_t kVersionDeflate = 20;
constexpr std::uint16_t kVersionZip64 = 45;

// Version needed for an entry's data: 10 for stored entries and folders, 20
// otherwise (Deflate; Zip64 raises it where the extra fields are built).
constexpr std::uint16_t VersionNeededFor(std::uint16_t method, bool folder) {
  return (method == kMethodStored || folder) ? kVersionStored : kVersionDeflate;
}

// The method that says how an entry's data is compressed, under AES too.
template <typename Entry>
constexpr std::uint16_t DataMethodOf(const Entry& entry) {
  return entry.method == kMethodAes ? entry.aesMethod : entry.method;
}

}  // namespace korbel

#endif  // PAKKARO_ZIP_ZIP_CONSTANTS_H
