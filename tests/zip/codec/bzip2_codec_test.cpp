// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/bzip2_codec.h"

#include <gtest/gtest.h>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;

TEST(BZip2CodecTest, ModeZeroCopiesAndOtherModesFail) {
  const Bytes data = testing_support::TextBytes(20000);
  korbel::BZip2Codec codec;
  const auto copied = codec_testing::Unpack(codec, 0, data);
  EXPECT_EQ(copied.output, data);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
  for (const int mode : {5, 9, 1}) {
    codec_testing::ExpectFailure(
        codec, [&] { codec_testing::Unpack(codec, mode, data); }, 5, "Falscher Modus beim Entkomprimieren !");
  }
}

TEST(BZip2CodecTest, CompressionSetsModeEight) {
  korbel::BZip2Codec codec;
  codec.SetMode(0);
  codec_testing::Pack(codec, 5, testing_support::TextBytes(1000));
  EXPECT_EQ(codec.Mode(), 8);
}

}  // namespace
