// The Zip64 end of central directory record and its locator, written before
// the end record when the directory ends above 0xFFFFF000.
#ifndef PAKKARO_ZIP_ZIP64_END_RECORD_H
#define PAKKARO_ZIP_ZIP64_END_RECORD_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korbel {

constexpr std::uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::size_t kZip64LocatorSize = 20;

struct Zip64EndRecord {
  std::uint64_t recordSize = 44;  // bytes after this field
  std::uint16_t versionMadeBy = 45;
  std::uint16_t versionNeeded = 45;
  std::uint32_t diskNumber = 0;
  std::uint32_t directoryDisk = 0;
  std::uint64_t entriesOnDisk = 0;
  std::uint64_t totalEntries = 0;
  std::uint64_t directorySize = 0;
  std::uint64_t directoryOffset = 0;
};

struct Zip64Locator {
  std::uint32_t endRecordDisk = 0;
  std::uint64_t endRecordOffset = 0;
  // One disk: Info-ZIP's unzip ignores a locator that says anything else.
  std::uint32_t totalDisks = 1;
};

// The record as the engine writes it for a directory of `entries` headers.
Zip64EndRecord MakeZip64EndRecord(std::uint64_t entries, std::uint64_t directorySize,
                                  std::uint64_t directoryOffset);

// Read the fixed records; false when fewer bytes are given or the signature
// is not there.
bool ParseZip64EndRecord(const std::uint8_t* data, std::size_t size, Zip64EndRecord* record);
bool ParseZip64Locator(const std::uint8_t* data, std::size_t size, Zip64Locator* locator);
void AppendZip64EndRecord(const Zip64EndRecord& record, std::vector<std::uint8_t>* out);
void AppendZip64Locator(const Zip64Locator& locator, std::vector<std::uint8_t>* out);

}  // namespace korbel

#endif  // PAKKARO_ZIP_ZIP64_END_RECORD_H
