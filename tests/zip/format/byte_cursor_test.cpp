#include "zip/format/byte_cursor.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace korbel {
namespace {

TEST(ByteCursorTest, ReadsLittleEndianValuesInOrder) {
  const std::uint8_t bytes[] = {0x7F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xAA, 0xBB};
  ByteCursor in(bytes, sizeof bytes);
  EXPECT_EQ(in.Get8(), 0x7F);
  EXPECT_EQ(in.Get16(), 0x0201);
  EXPECT_EQ(in.Get32(), 0x06050403u);
  EXPECT_EQ(in.Get64(), 0x0E0D0C0B0A090807ull);
  EXPECT_EQ(in.position(), 15u);
  EXPECT_EQ(in.remaining(), 2u);
  const std::uint8_t* tail = in.GetBytes(2);
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail, bytes + 15);
  EXPECT_TRUE(in.ok());
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(ByteCursorTest, HighBitsDoNotSignExtend) {
  const std::uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ByteCursor in(bytes, sizeof bytes);
  EXPECT_EQ(in.Get16(), 0xFFFFu);
  EXPECT_EQ(in.Get32(), 0xFFFFFFFFu);
  ByteCursor again(bytes, sizeof bytes);
  EXPECT_EQ(again.Get64(), UINT64_MAX);
}

TEST(ByteCursorTest, ReadPastTheEndFailsAndStaysFailed) {
  const std::uint8_t bytes[] = {1, 2, 3};
  ByteCursor in(bytes, sizeof bytes);
  EXPECT_EQ(in.Get16(), 0x0201);
  EXPECT_EQ(in.Get16(), 0);  // one byte left: fails
  EXPECT_FALSE(in.ok());
  EXPECT_EQ(in.position(), 2u);  // the failed read took nothing
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_EQ(in.Get8(), 0);  // would fit, but the cursor has failed
  EXPECT_FALSE(in.Skip(0));
  EXPECT_FALSE(in.ok());
}

TEST(ByteCursorTest, EveryWidthFailsOnASpanOneByteShort) {
  const std::uint8_t bytes[8] = {};
  for (std::size_t size = 0; size < 8; ++size) {
    ByteCursor in(bytes, size);
    if (size < 2)
      in.Get16();
    else if (size < 4)
      in.Get32();
    else
      in.Get64();
    EXPECT_FALSE(in.ok()) << "span of " << size << " bytes";
  }
}

TEST(ByteCursorTest, HugeCountsCannotWrapTheBoundsCheck) {
  const std::uint8_t bytes[16] = {};
  ByteCursor in(bytes, sizeof bytes);
  in.Get32();
  EXPECT_EQ(in.GetBytes(SIZE_MAX), nullptr);
  EXPECT_FALSE(in.ok());
  ByteCursor skip(bytes, sizeof bytes);
  skip.Get8();
  EXPECT_FALSE(skip.Skip(SIZE_MAX - 1));
}

TEST(ByteCursorTest, NullDataIsAnEmptySpan) {
  ByteCursor in(nullptr, 100);
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_EQ(in.Get8(), 0);
  EXPECT_FALSE(in.ok());
}

TEST(ByteWriterTest, AppendsLittleEndianToAVector) {
  std::vector<std::uint8_t> out = {0xEE};
  ByteWriter writer(&out);
  writer.Put8(0x11);
  writer.Put16(0x2233);
  writer.Put32(0x44556677);
  writer.Put64(0x8899AABBCCDDEEFFull);
  const char text[] = "ab";
  writer.PutBytes(text, 2);
  const std::vector<std::uint8_t> expected = {0xEE, 0x11, 0x33, 0x22, 0x77, 0x66, 0x55, 0x44, 0xFF,
                                              0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 'a',  'b'};
  EXPECT_EQ(out, expected);
  EXPECT_EQ(writer.size(), 17u);
  EXPECT_TRUE(writer.ok());
}

TEST(ByteWriterTest, FixedBufferRefusesAWriteThatDoesNotFitAndStaysFailed) {
  std::uint8_t buffer[8];
  std::fill(buffer, buffer + 8, 0xCD);
  ByteWriter writer(buffer, 5);
  writer.Put16(0x0102);
  writer.Put32(0x03040506);  // needs 4, 3 left
  EXPECT_FALSE(writer.ok());
  EXPECT_EQ(writer.size(), 2u);
  writer.Put8(0x07);  // would fit, but the writer has failed
  EXPECT_EQ(writer.size(), 2u);
  EXPECT_EQ(buffer[0], 0x02);
  EXPECT_EQ(buffer[1], 0x01);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(buffer[i], 0xCD) << "byte " << i;
}

TEST(ByteWriterTest, WhatTheWriterWritesTheCursorReadsBack) {
  std::uint8_t buffer[14];
  ByteWriter writer(buffer, sizeof buffer);
  writer.Put16(0xBEEF);
  writer.Put32(0xDEADBEEF);
  writer.Put64(0x0123456789ABCDEFull);
  ASSERT_TRUE(writer.ok());
  ByteCursor in(buffer, writer.size());
  EXPECT_EQ(in.Get16(), 0xBEEF);
  EXPECT_EQ(in.Get32(), 0xDEADBEEFu);
  EXPECT_EQ(in.Get64(), 0x0123456789ABCDEFull);
  EXPECT_TRUE(in.ok());
  EXPECT_EQ(in.remaining(), 0u);
}

}  // namespace
}  // namespace korbel
