#include "zip/format/zip64_end_record.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "zip/format/byte_cursor.h"

namespace korbel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Zip64EndRecordTest, RecordAsWrittenHasTheFixedValues) {
  Bytes out;
  AppendZip64EndRecord(MakeZip64EndRecord(70000, 0x123456789ull, 0xFEDCBA987ull), &out);
  ASSERT_EQ(out.size(), kZip64EndRecordSize);
  ByteCursor in(out.data(), out.size());
  EXPECT_EQ(in.Get32(), 0x06064B50u);
  EXPECT_EQ(in.Get64(), 44u);             // size of the rest
  EXPECT_EQ(in.Get16(), 45);              // made by
  EXPECT_EQ(in.Get16(), 45);              // needed
  EXPECT_EQ(in.Get32(), 0u);              // this disk
  EXPECT_EQ(in.Get32(), 0u);              // directory disk
  EXPECT_EQ(in.Get64(), 70000u);          // entries on this disk
  EXPECT_EQ(in.Get64(), 70000u);          // total entries
  EXPECT_EQ(in.Get64(), 0x123456789ull);  // directory size
  EXPECT_EQ(in.Get64(), 0xFEDCBA987ull);  // directory offset
  EXPECT_TRUE(in.ok());
}

TEST(Zip64EndRecordTest, RecordRoundTripsEveryField) {
  Zip64EndRecord record;
  record.recordSize = 0x0102030405060708ull;
  record.versionMadeBy = 0x090A;
  record.versionNeeded = 0x0B0C;
  record.diskNumber = 0x0D0E0F10;
  record.directoryDisk = 0x11121314;
  record.entriesOnDisk = 0x15161718191A1B1Cull;
  record.totalEntries = 0x1D1E1F2021222324ull;
  record.directorySize = 0x25262728292A2B2Cull;
  record.directoryOffset = 0x2D2E2F3031323334ull;
  Bytes out;
  AppendZip64EndRecord(record, &out);
  Zip64EndRecord back;
  ASSERT_TRUE(ParseZip64EndRecord(out.data(), out.size(), &back));
  EXPECT_EQ(back.recordSize, record.recordSize);
  EXPECT_EQ(back.versionMadeBy, record.versionMadeBy);
  EXPECT_EQ(back.versionNeeded, record.versionNeeded);
  EXPECT_EQ(back.diskNumber, record.diskNumber);
  EXPECT_EQ(back.directoryDisk, record.directoryDisk);
  EXPECT_EQ(back.entriesOnDisk, record.entriesOnDisk);
  EXPECT_EQ(back.totalEntries, record.totalEntries);
  EXPECT_EQ(back.directorySize, record.directorySize);
  EXPECT_EQ(back.directoryOffset, record.directoryOffset);
}

TEST(Zip64EndRecordTest, LocatorHasTheDocumentedLayout) {
  Zip64Locator locator;
  locator.endRecordOffset = 0x1122334455ull;
  Bytes out;
  AppendZip64Locator(locator, &out);
  const Bytes expected = {0x50, 0x4B, 0x06, 0x07,                 // signature
                          0,    0,    0,    0,                    // end record disk
                          0x55, 0x44, 0x33, 0x22, 0x11, 0, 0, 0,  // end record offset
                          1,    0,    0,    0};                   // one disk
  EXPECT_EQ(out, expected);
  Zip64Locator back;
  back.totalDisks = 9;
  ASSERT_TRUE(ParseZip64Locator(out.data(), out.size(), &back));
  EXPECT_EQ(back.endRecordOffset, 0x1122334455ull);
  EXPECT_EQ(back.totalDisks, 1u);
  EXPECT_EQ(back.endRecordDisk, 0u);
}

TEST(Zip64EndRecordTest, ShortOrUnsignedBytesAreRefused) {
  Bytes record;
  AppendZip64EndRecord(MakeZip64EndRecord(1, 2, 3), &record);
  Bytes locator;
  AppendZip64Locator(Zip64Locator{}, &locator);
  Zip64EndRecord parsedRecord;
  Zip64Locator parsedLocator;
  for (std::size_t size = 0; size < kZip64EndRecordSize; ++size) {
    Bytes cut(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ParseZip64EndRecord(cut.data(), cut.size(), &parsedRecord)) << size;
  }
  for (std::size_t size = 0; size < kZip64LocatorSize; ++size) {
    Bytes cut(locator.begin(), locator.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ParseZip64Locator(cut.data(), cut.size(), &parsedLocator)) << size;
  }
  // Each record's signature is refused by the other's parser.
  EXPECT_FALSE(ParseZip64EndRecord(locator.data(), locator.size(), &parsedRecord));
  record.resize(kZip64EndRecordSize);
  EXPECT_FALSE(ParseZip64Locator(record.data(), record.size(), &parsedLocator));
}

}  // namespace
}  // namespace korbel
