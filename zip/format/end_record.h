// The end of central directory record, and the tail of an archive written
// behind the central directory (Zip64 records when needed, end record,
// archive comment).
#ifndef PAKKARO_ZIP_END_RECORD_H
#define PAKKARO_ZIP_END_RECORD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korbel {

constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
constexpr std::size_t kEndRecordSize = 22;  // before the comment
// A directory ending above this position gets the Zip64 records.
constexpr std::uint64_t kZip64DirectoryLimit = 0xFFFFF000u;
// Bytes of the archive comment that are encoded and written.
constexpr std::size_t kArchiveCommentLimit = 512;

struct EndRecord {
  std::uint16_t diskNumber = 0;
  std::uint16_t directoryDisk = 0;
  std::uint16_t entriesOnDisk = 0;
  std::uint16_t totalEntries = 0;
  std::uint32_t directorySize = 0;
  std::uint32_t directoryOffset = 0;  // 0xFFFFFFFF when Zip64 records precede
  std::uint16_t commentLength = 0;
};

// The record as the engine writes it: counts 0xFFFF from 65536 entries on,
// the low 32 bits of the directory size, and the offset or 0xFFFFFFFF.
EndRecord MakeEndRecord(std::uint64_t entries, std::uint64_t directorySize, std::uint64_t directoryOffset,
                        bool zip64, std::uint16_t commentLength);

// Reads the 22-byte fixed part; false when fewer bytes are given or the
// signature is not there.
bool ParseEndRecord(const std::uint8_t* data, std::size_t size, EndRecord* record);
void AppendEndRecord(const EndRecord& record, std::vector<std::uint8_t>* out);

// Whether a directory ending at `directoryEnd` needs the Zip64 records.
constexpr bool NeedsZip64EndRecords(std::uint64_t directoryEnd) {
  return directoryEnd > kZip64DirectoryLimit;
}

// The stored form of an archive comment: its first 512 bytes, encoded like a
// name (the UTF-8 flag is not recorded anywhere).
std::string EncodeArchiveComment(const std::string& comment);

// Appends everything behind a directory of `entries` headers that spans
// [directoryStart, directoryEnd): the Zip64 end record and locator when
// needed, then the end record and the stored comment (cut to 65535 bytes).
void AppendDirectoryTail(std::uint64_t entries, std::uint64_t directoryStart, std::uint64_t directoryEnd,
                         const std::string& storedComment, std::vector<std::uint8_t>* out);

}  // namespace korbel

#endif  // PAKKARO_ZIP_END_RECORD_H
