// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/xz_codec.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::SideType;
using korbel::XzCodec;

TEST(XzCodecTest, LevelIsKeptButTheDefaultSettingsAreUsed) {
  const Bytes data = testing_support::TextBytes(100000);
  XzCodec codec;
  const auto fast = codec_testing::Pack(codec, 1, data);
  EXPECT_EQ(codec.Level(), 1);
  const auto clamped = codec_testing::Pack(codec, 40, data);
  EXPECT_EQ(codec.Level(), 9);
  EXPECT_EQ(fast.output, clamped.output);
  // Behind the 12-byte stream header, the block header (size byte, flags)
  // names the LZMA2 filter (0x21) with one property byte: the dictionary
  // size, 22 for the default 8 MiB (level 1 would give 1 MiB, 9 64 MiB).
  ASSERT_GT(fast.output.size(), 17u);
  EXPECT_EQ(fast.output[14], 0x21);
  EXPECT_EQ(fast.output[15], 0x01);
  EXPECT_EQ(fast.output[16], 22);
}

TEST(XzCodecTest, DataBehindTheStreamIsLeftAlone) {
  const Bytes data = testing_support::TextBytes(30000);
  Bytes packed = codec_testing::ReferenceXz(data, 6, LZMA_CHECK_SHA256);
  const std::size_t size = packed.size();
  packed.insert(packed.end(), 100, 0x77);
  XzCodec codec;
  const auto run = codec_testing::Unpack(codec, 8, packed);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(codec.CompressedCount(), size);
}

// A stream whose block asks for a 4 GiB dictionary is refused as too
// little memory before anything is allocated or written.
TEST(XzCodecTest, DictionaryPastTheMemoryLimitIsRefused) {
  const Bytes data = testing_support::TextBytes(3000);
  Bytes packed = codec_testing::ReferenceXz(data, 0, LZMA_CHECK_CRC32);
  ASSERT_GT(packed.size(), 16u);  // the stream header and a block header at least
  // The block header follows the 12-byte stream header; its LZMA2 filter
  // (id 0x21, one property byte) holds the dictionary code, 40 the largest.
  const std::size_t headerSize = (packed[12] + 1u) * 4u;
  const Bytes header(packed.begin() + 12, packed.begin() + 12 + static_cast<std::ptrdiff_t>(headerSize));
  std::size_t filter = 0;
  while (filter + 2 < headerSize && !(header[filter] == 0x21 && header[filter + 1] == 0x01)) ++filter;
  ASSERT_LT(filter + 2, headerSize - 4);
  packed[12 + filter + 2] = 40;
  const std::uint32_t crc = lzma_crc32(packed.data() + 12, headerSize - 4, 0);
  for (std::size_t i = 0; i < 4; ++i) {
    packed[12 + headerSize - 4 + i] = static_cast<unsigned char>(crc >> (8 * i));
  }

  testing_support::TempDir dir;
  XzCodec codec;
  codec_testing::Sides sides(dir, "huge");
  sides.ConnectInput(codec, SideType::kMemory, packed);
  sides.ConnectOutput(codec, SideType::kFunction, 0);
  try {
    codec.Decompress(8);
    ADD_FAILURE() << "the run succeeded";
  } catch (const korbel::CodecFailure& failure) {
    EXPECT_EQ(failure.kind, korbel::kCodecNoMemory);
  }
  EXPECT_TRUE(sides.Output().empty());
}

}  // namespace
