#include "zip/format/zip64_end_record.h"

#include "zip/format/byte_cursor.h"

namespace korbel {

Zip64EndRecord MakeZip64EndRecord(std::uint64_t entries, std::uint64_t directorySize,
                                  std::uint64_t directoryOffset) {
  Zip64EndRecord record;
  record.entriesOnDisk = entries;
  record.totalEntries = entries;
  record.directorySize = directorySize;
  record.directoryOffset = directoryOffset;
  return record;
}

bool ParseZip64EndRecord(const std::uint8_t* data, std::size_t size, Zip64EndRecord* record) {
  ByteCursor in(data, size);
  if (in.Get32() != kZip64EndRecordSignature) return false;
  Zip64EndRecord parsed;
  parsed.recordSize = in.Get64();
  parsed.versionMadeBy = in.Get16();
  parsed.versionNeeded = in.Get16();
  parsed.diskNumber = in.Get32();
  parsed.directoryDisk = in.Get32();
  parsed.entriesOnDisk = in.Get64();
  parsed.totalEntries = in.Get64();
  parsed.directorySize = in.Get64();
  parsed.directoryOffset = in.Get64();
  if (!in.ok()) return false;
  *record = parsed;
  return true;
}

bool ParseZip64Locator(const std::uint8_t* data, std::size_t size, Zip64Locator* locator) {
  ByteCursor in(data, size);
  if (in.Get32() != kZip64LocatorSignature) return false;
  Zip64Locator parsed;
  parsed.endRecordDisk = in.Get32();
  parsed.endRecordOffset = in.Get64();
  parsed.totalDisks = in.Get32();
  if (!in.ok()) return false;
  *locator = parsed;
  return true;
}

void AppendZip64EndRecord(const Zip64EndRecord& record, std::vector<std::uint8_t>* out) {
  ByteWriter writer(out);
  writer.Put32(kZip64EndRecordSignature);
  writer.Put64(record.recordSize);
  writer.Put16(record.versionMadeBy);
  writer.Put16(record.versionNeeded);
  writer.Put32(record.diskNumber);
  writer.Put32(record.directoryDisk);
  writer.Put64(record.entriesOnDisk);
  writer.Put64(record.totalEntries);
  writer.Put64(record.directorySize);
  writer.Put64(record.directoryOffset);
}

void AppendZip64Locator(const Zip64Locator& locator, std::vector<std::uint8_t>* out) {
  ByteWriter writer(out);
  writer.Put32(kZip64LocatorSignature);
  writer.Put32(locator.endRecordDisk);
  writer.Put64(locator.endRecordOffset);
  writer.Put32(locator.totalDisks);
}

}  // namespace korbel
