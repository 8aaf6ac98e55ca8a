// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/xz_codec.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::XzCodec;

TEST(XzCodecTest, LevelIsKeptButTheDefaultSettingsAreUsed) {
  const Bytes data = testing_support::TextBytes(100000);
  testing_support::TempDir dir;
  XzCodec codec;
  const auto fast = codec_testing::RunCodec(codec, Direction::kCompress, 1, SideType::kMemory,
                                            SideType::kFunction, data, 0, dir);
  EXPECT_EQ(codec.Level(), 1);
  const auto clamped = codec_testing::RunCodec(codec, Direction::kCompress, 40, SideType::kMemory,
                                               SideType::kFunction, data, 0, dir);
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
  Bytes packed(lzma_stream_buffer_bound(data.size()));
  std::size_t size = 0;
  ASSERT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_SHA256, nullptr, data.data(), data.size(),
                                    packed.data(), &size, packed.size()),
            LZMA_OK);
  packed.resize(size);
  packed.insert(packed.end(), 100, 0x77);
  testing_support::TempDir dir;
  XzCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                           SideType::kFunction, packed, 0, dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(codec.CompressedCount(), size);
}

}  // namespace
