#include "zip/format/local_header.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zip/format/byte_cursor.h"
#include "zip/format/name_codec.h"

namespace korbel {
namespace {

using Bytes = std::vector<std::uint8_t>;

LocalHeader DistinctHeader() {
  LocalHeader header;
  header.versionNeeded = 0x0102;
  header.flags = 0x0304;
  header.method = 0x0506;
  header.dosDateTime = 0x0708090A;
  header.crc32 = 0x0B0C0D0E;
  header.compressedSize = 0x0F101112;
  header.uncompressedSize = 0x13141516;
  header.nameLength = 0x1718;
  header.extraLength = 0x191A;
  return header;
}

TEST(LocalHeaderTest, FixedPartHasTheDocumentedLayout) {
  Bytes out;
  AppendLocalHeader(DistinctHeader(), &out);
  const Bytes expected = {0x50, 0x4B, 0x03, 0x04,  // signature
                          0x02, 0x01,              // version needed
                          0x04, 0x03,              // flags
                          0x06, 0x05,              // method
                          0x0A, 0x09, 0x08, 0x07,  // DOS time, then date
                          0x0E, 0x0D, 0x0C, 0x0B,  // CRC-32
                          0x12, 0x11, 0x10, 0x0F,  // compressed size
                          0x16, 0x15, 0x14, 0x13,  // uncompressed size
                          0x18, 0x17,              // name length
                          0x1A, 0x19};             // extra length
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out.size(), kLocalHeaderSize);

  LocalHeader back;
  ASSERT_TRUE(ParseLocalHeader(out.data(), out.size(), &back));
  EXPECT_EQ(back.versionNeeded, 0x0102);
  EXPECT_EQ(back.flags, 0x0304);
  EXPECT_EQ(back.method, 0x0506);
  EXPECT_EQ(back.dosDateTime, 0x0708090Au);
  EXPECT_EQ(back.crc32, 0x0B0C0D0Eu);
  EXPECT_EQ(back.compressedSize, 0x0F101112u);
  EXPECT_EQ(back.uncompressedSize, 0x13141516u);
  EXPECT_EQ(back.nameLength, 0x1718);
  EXPECT_EQ(back.extraLength, 0x191A);
}

TEST(LocalHeaderTest, ShortOrUnsignedBytesAreRefused) {
  Bytes out;
  AppendLocalHeader(DistinctHeader(), &out);
  LocalHeader header;
  header.method = 99;
  for (std::size_t size = 0; size < kLocalHeaderSize; ++size) {
    Bytes cut(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ParseLocalHeader(cut.data(), cut.size(), &header)) << size;
  }
  Bytes central = out;
  central[2] = 0x01;
  central[3] = 0x02;
  EXPECT_FALSE(ParseLocalHeader(central.data(), central.size(), &header));
  EXPECT_EQ(header.method, 99);  // untouched by a failed parse
}

ZipEntry FileEntry(const std::string& name) {
  ZipEntry entry;
  entry.name = name;
  entry.versionNeeded = 20;
  entry.flags = kFlagUtf8Name;  // stale: cleared for an ASCII name
  entry.method = 8;
  entry.dosDateTime = 0x582F6DAF;
  entry.crc32 = 0xCAFEBABE;
  entry.compressedSize = 1234;
  entry.uncompressedSize = 5678;
  return entry;
}

TEST(LocalHeaderTest, EntryHeaderCarriesNameAndLocalExtra) {
  ZipEntry entry = FileEntry("src/a.c");
  entry.localExtra = std::vector<std::uint8_t>{0xAA, 0xBB, 0x00, 0x00};
  Bytes out = {0xEE};  // appended behind what is there
  ASSERT_TRUE(AppendEntryLocalHeader(&entry, &out));
  ASSERT_EQ(out.size(), 1 + 30 + 7 + 4u);
  LocalHeader header;
  ASSERT_TRUE(ParseLocalHeader(out.data() + 1, out.size() - 1, &header));
  EXPECT_EQ(header.flags, 0);
  EXPECT_EQ(entry.flags, 0);
  EXPECT_EQ(header.versionNeeded, 20);
  EXPECT_EQ(header.method, 8);
  EXPECT_EQ(header.dosDateTime, 0x582F6DAFu);
  EXPECT_EQ(header.crc32, 0xCAFEBABEu);
  EXPECT_EQ(header.compressedSize, 1234u);
  EXPECT_EQ(header.uncompressedSize, 5678u);
  EXPECT_EQ(header.nameLength, 7);
  EXPECT_EQ(header.extraLength, 4);
  EXPECT_EQ(std::string(out.begin() + 31, out.begin() + 38), "src/a.c");
  EXPECT_EQ(Bytes(out.begin() + 38, out.end()), entry.localExtra);
  EXPECT_EQ(entry.nameLength, 7);
  EXPECT_EQ(entry.localExtraLength, 4);
}

TEST(LocalHeaderTest, FolderNameGetsItsSlash) {
  ZipEntry entry = FileEntry("docs");
  entry.externalAttributes = kEntryFolder;
  Bytes out;
  ASSERT_TRUE(AppendEntryLocalHeader(&entry, &out));
  EXPECT_EQ(std::string(out.begin() + 30, out.end()), "docs/");
  EXPECT_EQ(entry.nameLength, 5);
}

TEST(LocalHeaderTest, SizesFrom0xFFFFFFFFOnAreMarked) {
  struct Case {
    std::uint64_t value;
    std::uint32_t field;
  };
  const Case cases[] = {{0xFFFFFFFEu, 0xFFFFFFFEu}, {0xFFFFFFFFu, 0xFFFFFFFFu}, {5ull << 30, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    ZipEntry entry = FileEntry("x");
    entry.compressedSize = c.value;
    entry.uncompressedSize = c.value;
    Bytes out;
    ASSERT_TRUE(AppendEntryLocalHeader(&entry, &out));
    LocalHeader header;
    ASSERT_TRUE(ParseLocalHeader(out.data(), out.size(), &header));
    EXPECT_EQ(header.compressedSize, c.field) << c.value;
    EXPECT_EQ(header.uncompressedSize, c.field) << c.value;
  }
}

TEST(LocalHeaderTest, LongestNameFitsAndLongerIsRefused) {
  ZipEntry entry = FileEntry(std::string(65535, 'n'));
  Bytes out;
  ASSERT_TRUE(AppendEntryLocalHeader(&entry, &out));
  EXPECT_EQ(out.size(), 30 + 65535u);
  EXPECT_EQ(entry.nameLength, 65535);

  ZipEntry tooLong = FileEntry(std::string(65536, 'n'));
  tooLong.nameLength = 3;
  Bytes untouched = {1, 2, 3};
  EXPECT_FALSE(AppendEntryLocalHeader(&tooLong, &untouched));
  EXPECT_EQ(untouched, (Bytes{1, 2, 3}));
  EXPECT_EQ(tooLong.nameLength, 3);
  EXPECT_EQ(tooLong.flags, kFlagUtf8Name);

  // A folder's slash can be the byte too many.
  ZipEntry folder = FileEntry(std::string(65535, 'd'));
  folder.externalAttributes = kEntryFolder;
  EXPECT_FALSE(AppendEntryLocalHeader(&folder, &untouched));
}

TEST(LocalHeaderTest, SpanCoversHeaderNameExtraDataAndDescriptor) {
  ZipEntry entry;
  entry.nameLength = 7;
  entry.localExtraLength = 20;
  entry.compressedSize = 1000;
  EXPECT_EQ(EntrySpan(entry), 30u + 7 + 20 + 1000);
  entry.flags = kFlagDataDescriptor;
  EXPECT_EQ(EntrySpan(entry), 46u + 7 + 20 + 1000);
  entry.compressedSize = UINT64_MAX - 10;  // from a hostile Zip64 block
  EXPECT_EQ(EntrySpan(entry), UINT64_MAX);
}

TEST(LocalHeaderTest, DataDescriptorIsKnownByItsSignature) {
  const std::uint8_t descriptor[] = {0x50, 0x4B, 0x07, 0x08, 1, 2, 3, 4};
  EXPECT_TRUE(IsDataDescriptor(descriptor, sizeof descriptor));
  EXPECT_FALSE(IsDataDescriptor(descriptor, 3));
  const std::uint8_t other[] = {0x50, 0x4B, 0x03, 0x04};
  EXPECT_FALSE(IsDataDescriptor(other, sizeof other));
}

}  // namespace
}  // namespace korbel
