// Zip archives built byte by byte for tests that read, damage or extract
// them: every header field is set by the test (sizes and CRC are what the
// headers claim, whatever the data holds), and the result says where each
// record starts so that a test can change one field by its name.
#ifndef PAKKARO_TESTS_SUPPORT_ARCHIVE_BUILDER_H
#define PAKKARO_TESTS_SUPPORT_ARCHIVE_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip/format/zip_constants.h"

namespace archive_builder {

using testing_support::Bytes;

// Field offsets from the start of each record.
struct LocalHeader {
  static constexpr std::size_t kVersionNeeded = 4;
  static constexpr std::size_t kFlags = 6;
  static constexpr std::size_t kMethod = 8;
  static constexpr std::size_t kDosDateTime = 10;
  static constexpr std::size_t kCrc = 14;
  static constexpr std::size_t kCompressedSize = 18;
  static constexpr std::size_t kUncompressedSize = 22;
  static constexpr std::size_t kNameLength = 26;
  static constexpr std::size_t kExtraLength = 28;
  static constexpr std::size_t kSize = 30;  // the name follows
};

struct CentralHeader {
  static constexpr std::size_t kVersionMadeBy = 4;
  static constexpr std::size_t kVersionNeeded = 6;
  static constexpr std::size_t kFlags = 8;
  static constexpr std::size_t kMethod = 10;
  static constexpr std::size_t kDosDateTime = 12;
  static constexpr std::size_t kCrc = 16;
  static constexpr std::size_t kCompressedSize = 20;
  static constexpr std::size_t kUncompressedSize = 24;
  static constexpr std::size_t kNameLength = 28;
  static constexpr std::size_t kExtraLength = 30;
  static constexpr std::size_t kCommentLength = 32;
  static constexpr std::size_t kStartDisk = 34;
  static constexpr std::size_t kInternalAttributes = 36;
  static constexpr std::size_t kExternalAttributes = 38;
  static constexpr std::size_t kLocalHeaderOffset = 42;
  static constexpr std::size_t kSize = 46;  // the name follows
};

struct DataDescriptor {
  static constexpr std::size_t kCrc = 4;
  static constexpr std::size_t kCompressedSize = 8;
  static constexpr std::size_t kUncompressedSize = 12;
  static constexpr std::size_t kSize = 16;  // with 32-bit sizes
};

struct Zip64EndRecord {
  static constexpr std::size_t kRecordSize = 4;  // of the rest of the record
  static constexpr std::size_t kVersionMadeBy = 12;
  static constexpr std::size_t kVersionNeeded = 14;
  static constexpr std::size_t kDisk = 16;
  static constexpr std::size_t kDirectoryDisk = 20;
  static constexpr std::size_t kEntriesOnDisk = 24;
  static constexpr std::size_t kEntries = 32;
  static constexpr std::size_t kDirectorySize = 40;
  static constexpr std::size_t kDirectoryOffset = 48;
  static constexpr std::size_t kSize = 56;
};

struct Zip64Locator {
  static constexpr std::size_t kRecordDisk = 4;
  static constexpr std::size_t kRecordOffset = 8;
  static constexpr std::size_t kDiskCount = 16;
  static constexpr std::size_t kSize = 20;
};

struct EndRecord {
  static constexpr std::size_t kDisk = 4;
  static constexpr std::size_t kDirectoryDisk = 6;
  static constexpr std::size_t kEntriesOnDisk = 8;
  static constexpr std::size_t kEntries = 10;
  static constexpr std::size_t kDirectorySize = 12;
  static constexpr std::size_t kDirectoryOffset = 16;
  static constexpr std::size_t kCommentLength = 20;
  static constexpr std::size_t kSize = 22;  // the comment follows
};

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kDescriptorSignature = 0x08074B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kSomeDosDateTime = 0x5A210000;

// Little-endian writes: Put appends, Set overwrites at `at`; Get reads.
void Put16(Bytes* out, std::uint32_t value);
void Put32(Bytes* out, std::uint32_t value);
void Put64(Bytes* out, std::uint64_t value);
void Set16(Bytes* out, std::size_t at, std::uint32_t value);
void Set32(Bytes* out, std::size_t at, std::uint32_t value);
void Set64(Bytes* out, std::size_t at, std::uint64_t value);
std::uint64_t Get(const Bytes& in, std::size_t at, int width);

// One entry as both of its headers state it.
struct Entry {
  std::string name;
  Bytes data;  // the bytes behind the local header, as they are
  std::uint16_t versionMadeBy = korbel::kVersionDeflate;
  std::uint16_t versionNeeded = korbel::kVersionDeflate;
  std::uint16_t flags =
      0;  // with kFlagDataDescriptor the local CRC and sizes are 0 and a descriptor follows the data
  std::uint16_t method = korbel::kMethodStored;
  std::uint32_t dosDateTime = kSomeDosDateTime;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  bool zip64Sizes = false;  // sizes in a leading Zip64 extra field, 0xFFFFFFFF in the headers
  Bytes extra;              // in both headers
  std::uint32_t externalAttributes = 0x20;
};

// A stored entry whose headers tell the truth about `data`.
Entry Stored(const std::string& name, const Bytes& data, bool descriptor = false, std::uint16_t flags = 0);
Entry Stored(const std::string& name, const std::string& data, bool descriptor = false,
             std::uint16_t flags = 0);
// A Deflate entry: `plain` through the reference compressor at level 9.
Entry Deflated(const std::string& name, const Bytes& plain);

struct Options {
  // A Zip64 end record and locator before the end record, whose directory
  // offset then reads 0xFFFFFFFF and whose directory size runs up to it.
  bool zip64Records = false;
  std::string comment;
};

// The archive and where its records start.
struct Archive {
  Bytes bytes;
  std::vector<std::size_t> local;
  std::vector<std::size_t> central;
  std::vector<std::size_t> descriptor;  // just behind each entry's data, descriptor or not
  std::size_t directoryStart = 0;
  std::size_t zip64Record = 0;  // 0: none
  std::size_t locator = 0;
  std::size_t end = 0;
};

// Local headers with their data (and descriptors), the central directory,
// the Zip64 records when asked, and the end record.
Archive Build(const std::vector<Entry>& entries, const Options& options = {});

// The start of the last end record signature in the bytes (0 when none).
std::size_t EndRecordAt(const Bytes& bytes);

// Where the records of an archive without Zip64 records start, found from
// its end record (the last one in the bytes) and its directory; an archive
// without an end record gives an empty `local`.
Archive Survey(const Bytes& bytes);

}  // namespace archive_builder

#endif  // PAKKARO_TESTS_SUPPORT_ARCHIVE_BUILDER_H
