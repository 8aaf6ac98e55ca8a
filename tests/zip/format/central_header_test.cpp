#include "zip/format/central_header.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zip/format/dos_time.h"
#include "zip/format/extra_fields.h"
#include "zip/format/name_codec.h"

namespace korbel {
namespace {

using Bytes = std::vector<std::uint8_t>;

CentralHeader DistinctHeader() {
  CentralHeader header;
  header.versionMadeBy = 0x0102;
  header.versionNeeded = 0x0304;
  header.flags = 0x0506;
  header.method = 0x0708;
  header.dosDateTime = 0x090A0B0C;
  header.crc32 = 0x0D0E0F10;
  header.compressedSize = 0x11121314;
  header.uncompressedSize = 0x15161718;
  header.nameLength = 0x191A;
  header.extraLength = 0x1B1C;
  header.commentLength = 0x1D1E;
  header.diskNumberStart = 0x1F20;
  header.internalAttributes = 0x2122;
  header.externalAttributes = 0x23242526;
  header.localHeaderOffset = 0x2728292A;
  return header;
}

TEST(CentralHeaderTest, FixedPartHasTheDocumentedLayout) {
  Bytes out;
  AppendCentralHeader(DistinctHeader(), &out);
  const Bytes expected = {0x50, 0x4B, 0x01, 0x02,   // signature
                          0x02, 0x01,               // version made by
                          0x04, 0x03,               // version needed
                          0x06, 0x05,               // flags
                          0x08, 0x07,               // method
                          0x0C, 0x0B, 0x0A, 0x09,   // DOS date-time
                          0x10, 0x0F, 0x0E, 0x0D,   // CRC-32
                          0x14, 0x13, 0x12, 0x11,   // compressed size
                          0x18, 0x17, 0x16, 0x15,   // uncompressed size
                          0x1A, 0x19,               // name length
                          0x1C, 0x1B,               // extra length
                          0x1E, 0x1D,               // comment length
                          0x20, 0x1F,               // disk number start
                          0x22, 0x21,               // internal attributes
                          0x26, 0x25, 0x24, 0x23,   // external attributes
                          0x2A, 0x29, 0x28, 0x27};  // local header offset
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out.size(), kCentralHeaderSize);

  CentralHeader back;
  ASSERT_TRUE(ParseCentralHeader(out.data(), out.size(), &back));
  Bytes again;
  AppendCentralHeader(back, &again);
  EXPECT_EQ(again, out);
}

TEST(CentralHeaderTest, ShortOrUnsignedBytesAreRefused) {
  Bytes out;
  AppendCentralHeader(DistinctHeader(), &out);
  CentralHeader header;
  for (std::size_t size = 0; size < kCentralHeaderSize; ++size) {
    Bytes cut(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ParseCentralHeader(cut.data(), cut.size(), &header)) << size;
  }
  out[3] = 0x04;
  EXPECT_FALSE(ParseCentralHeader(out.data(), out.size(), &header));
}

TEST(CentralHeaderTest, ApplyingFillsAndWidensTheEntry) {
  CentralHeader header = DistinctHeader();
  header.versionMadeBy = 0x0014;  // DOS host
  header.dosDateTime = 0x582F6DAF;
  header.compressedSize = 0xFFFFFFFF;
  header.localHeaderOffset = 0xFFFFFFFE;
  ZipEntry entry;
  ApplyCentralHeader(header, &entry);
  EXPECT_EQ(entry.versionMadeBy, 0x0014);
  EXPECT_EQ(entry.madeByDos, 1);
  EXPECT_EQ(entry.versionNeeded, 0x0304);
  EXPECT_EQ(entry.flags, 0x0506);
  EXPECT_EQ(entry.method, 0x0708);
  EXPECT_EQ(entry.dosDateTime, 0x582F6DAFu);
  EXPECT_EQ(entry.modified, SecondsFromDosDateTime(0x582F6DAF));
  EXPECT_EQ(entry.crc32, 0x0D0E0F10u);
  EXPECT_EQ(entry.compressedSize, 0xFFFFFFFFull);
  EXPECT_EQ(entry.uncompressedSize, 0x15161718ull);
  EXPECT_EQ(entry.localHeaderOffset, 0xFFFFFFFEull);
  EXPECT_EQ(entry.nameLength, 0x191A);
  EXPECT_EQ(entry.centralExtraLength, 0x1B1C);
  EXPECT_EQ(entry.commentLength, 0x1D1E);
  EXPECT_EQ(entry.diskNumberStart, 0x1F20);
  EXPECT_EQ(entry.internalAttributes, 0x2122);
  EXPECT_EQ(entry.externalAttributes, 0x23242526u);

  header.versionMadeBy = 0x0B17;
  ApplyCentralHeader(header, &entry);
  EXPECT_EQ(entry.madeByDos, 0);
}

ZipEntry NewEntry(const std::string& name) {
  ZipEntry entry;
  entry.name = name;
  entry.versionMadeBy = kVersionMadeBy;
  entry.versionNeeded = 20;
  entry.method = 8;
  entry.dosDateTime = 0x582F6DAF;
  entry.crc32 = 0x12345678;
  entry.compressedSize = 100;
  entry.uncompressedSize = 300;
  entry.localHeaderOffset = 4096;
  entry.externalAttributes = 0x20;
  entry.modified = entry.created = entry.accessed = 1700000000;
  return entry;
}

TEST(CentralHeaderTest, EntryHeaderReadsBackIntoAnEqualEntry) {
  ZipEntry written = NewEntry("src/main.c");
  written.comment = "the entry point";
  BuildExtraFields(&written);
  Bytes out;
  ASSERT_TRUE(AppendEntryCentralHeader(&written, &out));
  ASSERT_EQ(out.size(), 46 + 10 + 53 + 15u);

  CentralHeader header;
  ASSERT_TRUE(ParseCentralHeader(out.data(), out.size(), &header));
  EXPECT_EQ(header.versionMadeBy, 0x0B17);
  EXPECT_EQ(header.nameLength, 10);
  EXPECT_EQ(header.extraLength, 53);
  EXPECT_EQ(header.commentLength, 15);
  EXPECT_EQ(header.localHeaderOffset, 4096u);
  EXPECT_EQ(header.externalAttributes, 0x20u);

  ZipEntry read;
  ApplyCentralHeader(header, &read);
  const std::uint8_t* name = out.data() + 46;
  read.name.Assign(reinterpret_cast<const char*>(name), header.nameLength);
  ParseExtraField(name + header.nameLength, header.extraLength, &read);
  std::string comment;
  DecodeName(name + header.nameLength + header.extraLength, header.commentLength, 0, &comment);
  read.comment = comment;
  EXPECT_EQ(read.name, "src/main.c");
  EXPECT_EQ(read.comment, "the entry point");
  EXPECT_EQ(read.compressedSize, 100u);
  EXPECT_EQ(read.uncompressedSize, 300u);
  EXPECT_EQ(read.crc32, 0x12345678u);
  EXPECT_EQ(read.modified, 1700000000);  // from the timestamp block, not the DOS time
  EXPECT_EQ(read.centralExtra.size(), 0u);
}

TEST(CentralHeaderTest, Zip64ValuesReadBackThroughTheExtraField) {
  ZipEntry written = NewEntry("big.bin");
  written.uncompressedSize = 6ull << 30;
  written.compressedSize = 5ull << 30;
  written.localHeaderOffset = 0x1FFFFFFFFull;
  BuildExtraFields(&written);
  Bytes out;
  ASSERT_TRUE(AppendEntryCentralHeader(&written, &out));
  CentralHeader header;
  ASSERT_TRUE(ParseCentralHeader(out.data(), out.size(), &header));
  EXPECT_EQ(header.compressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(header.uncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(header.localHeaderOffset, 0xFFFFFFFFu);
  EXPECT_EQ(header.versionNeeded, 45);
  ZipEntry read;
  ApplyCentralHeader(header, &read);
  ParseExtraField(out.data() + 46 + header.nameLength, header.extraLength, &read);
  EXPECT_EQ(read.uncompressedSize, written.uncompressedSize);
  EXPECT_EQ(read.compressedSize, written.compressedSize);
  EXPECT_EQ(read.localHeaderOffset, written.localHeaderOffset);
}

TEST(CentralHeaderTest, OverlongPartsAreRefusedWithNothingWritten) {
  Bytes out;
  ZipEntry longComment = NewEntry("a");
  longComment.comment = std::string(65536, 'c');
  EXPECT_FALSE(AppendEntryCentralHeader(&longComment, &out));
  ZipEntry longExtra = NewEntry("a");
  longExtra.centralExtra = std::vector<std::uint8_t>(65536, 0);
  EXPECT_FALSE(AppendEntryCentralHeader(&longExtra, &out));
  ZipEntry longName = NewEntry(std::string(65536, 'n'));
  EXPECT_FALSE(AppendEntryCentralHeader(&longName, &out));
  EXPECT_TRUE(out.empty());

  ZipEntry longest = NewEntry(std::string(65535, 'n'));
  longest.comment = std::string(65535, 'c');
  ASSERT_TRUE(AppendEntryCentralHeader(&longest, &out));
  EXPECT_EQ(out.size(), 46 + 2 * 65535u);
  EXPECT_EQ(longest.commentLength, 65535);
}

TEST(CentralHeaderTest, DosDatesPastTheSignedRangeKeepTheirYear) {
  CentralHeader header;
  header.dosDateTime = kDosLast;  // 2107-12-31 23:59:58
  ZipEntry entry;
  ApplyCentralHeader(header, &entry);
  EXPECT_EQ(entry.modified, SecondsFromDosDateTime(kDosLast));
  // Within a day of 2107-12-31 23:59:58 UTC, whatever the zone.
  EXPECT_NEAR(static_cast<double>(entry.modified), 4354819198.0, 86400.0);
}

}  // namespace
}  // namespace korbel
