#include "zip/format/end_record.h"

#include "zip/format/byte_cursor.h"
#include "zip/format/name_codec.h"
#include "zip/format/zip64_end_record.h"

namespace korbel {

EndRecord MakeEndRecord(std::uint64_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset,
                        bool zip64, std::uint16_t commentLength) {
  EndRecord record;
  std::uint16_t count = entries >= 0x10000 ? 0xFFFF : static_cast<std::uint16_t>(entries);
  record.entriesOnDisk = count;
  record.totalEntries = count;
  record.directorySize = static_cast<std::uint32_t>(directorySize);
  record.directoryOffset = zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(directoryOffset);
  record.commentLength = commentLength;
  return record;
}

bool ParseEndRecord(const std::uint8_t* data, std::size_t size, EndRecord* record) {
  ByteCursor in(data, size);
  if (in.Get32() != kEndRecordSignature) return false;
  EndRecord parsed;
  parsed.diskNumber = in.Get16();
  parsed.directoryDisk = in.Get16();
  parsed.entriesOnDisk = in.Get16();
  parsed.totalEntries = in.Get16();
  parsed.directorySize = in.Get32();
  parsed.directoryOffset = in.Get32();
  parsed.commentLength = in.Get16();
  if (!in.ok()) return false;
  *record = parsed;
  return true;
}

void AppendEndRecord(const EndRecord& record, std::vector<std::uint8_t>* out) {
  ByteWriter writer(out);
  writer.Put32(kEndRecordSignature);
  writer.Put16(record.diskNumber);
  writer.Put16(record.directoryDisk);
  writer.Put16(record.entriesOnDisk);
  writer.Put16(record.totalEntries);
  writer.Put32(record.directorySize);
  writer.Put32(record.directoryOffset);
  writer.Put16(record.commentLength);
}

std::string EncodeArchiveComment(const std::string& comment) {
  std::string stored;
  EncodeName(comment.substr(0, kArchiveCommentLimit), &stored, nullptr);
  return stored;
}

void AppendDirectoryTail(std::uint64_t entries, std::uint64_t directoryStart, std::uint64_t directoryEnd,
                         const std::string& storedComment, std::vector<std::uint8_t>* out) {
  std::uint64_t directorySize = directoryEnd - directoryStart;
  // More entries than the end record can count need the Zip64 records too,
  // or other readers see only 65535 of them.
  const bool zip64 = NeedsZip64EndRecords(directoryEnd) || entries > 0xFFFF;
  if (zip64) {
    AppendZip64EndRecord(MakeZip64EndRecord(entries, directorySize, directoryStart), out);
    Zip64Locator locator;
    locator.endRecordOffset = directoryEnd;
    AppendZip64Locator(locator, out);
  }
  std::size_t commentLength = storedComment.size() > 0xFFFF ? 0xFFFF : storedComment.size();
  AppendEndRecord(
      MakeEndRecord(entries, directorySize, directoryStart, zip64, static_cast<std::uint16_t>(commentLength)),
      out);
  out->insert(out->end(), storedComment.begin(), storedComment.begin() + commentLength);
}

}  // namespace korbel
