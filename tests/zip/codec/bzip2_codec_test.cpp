// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/bzip2_codec.h"

#include <gtest/gtest.h>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;

TEST(BZip2CodecTest, ModeZeroCopiesAndOtherModesFail) {
  const Bytes data = testing_support::TextBytes(20000);
  testing_support::TempDir dir;
  korbel::BZip2Codec codec;
  const auto copied = codec_testing::RunCodec(codec, Direction::kDecompress, 0, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  EXPECT_EQ(copied.output, data);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
  for (const int mode : {5, 9, 1}) {
    codec_testing::ExpectFailure(
        codec,
        [&] {
          codec_testing::RunCodec(codec, Direction::kDecompress, mode, SideType::kMemory, SideType::kFunction,
                                  data, 0, dir);
        },
        5, "Falscher Modus beim Entkomprimieren !");
  }
}

TEST(BZip2CodecTest, CompressionSetsModeEight) {
  testing_support::TempDir dir;
  korbel::BZip2Codec codec;
  codec.SetMode(0);
  codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory, SideType::kFunction,
                          testing_support::TextBytes(1000), 0, dir);
  EXPECT_EQ(codec.Mode(), 8);
}

}  // namespace
