#include "zip/codec/ppmd_range_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>
#include "tests/zip/codec/ppmd_test_io.h"

namespace korbel {
namespace {

using ppmd_testing::ByteSource;
using ppmd_testing::ReadBytes;
using ppmd_testing::WriteBytes;

TEST(PpmdRangeCoderTest, IntervalsAndBitsRoundTrip) {
  std::mt19937 rng(7);
  auto next = [&rng](uint32_t bound) { return static_cast<uint32_t>(rng() % bound); };
  struct Step {
    bool bit;
    uint32_t a, b, total;  // bit: a = probability of 0 (of 2^14), b = the bit
  };
  std::vector<Step> steps;
  for (int i = 0; i < 20000; ++i) {
    if (next(2)) {
      steps.push_back({true, 1 + next((1u << 14) - 1), next(2), 0});
    } else {
      const uint32_t total = 1 + next(30000);
      const uint32_t start = next(total);
      steps.push_back({false, start, 1 + next(total - start), total});
    }
  }
  std::vector<uint8_t> stream;
  PpmdRangeEncoder encoder(WriteBytes, &stream, 100);
  for (const Step& s : steps) {
    if (!s.bit) {
      encoder.Encode(s.a, s.b, s.total);
    } else if (s.b == 0) {
      encoder.EncodeBit0(s.a);
    } else {
      encoder.EncodeBit1(s.a);
    }
  }
  encoder.Finish();
  ASSERT_FALSE(encoder.Failed());
  EXPECT_EQ(encoder.BytesWritten(), stream.size());

  ByteSource source{stream, 0};
  PpmdRangeDecoder decoder(ReadBytes, &source, 100);
  ASSERT_TRUE(decoder.Init());
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    if (s.bit) {
      ASSERT_EQ(decoder.DecodeBit(s.a), s.b) << "step " << i;
    } else {
      const uint32_t count = decoder.GetThreshold(s.total);
      ASSERT_GE(count, s.a) << "step " << i;
      ASSERT_LT(count, s.a + s.b) << "step " << i;
      decoder.Decode(s.a, s.b);
    }
  }
  EXPECT_FALSE(decoder.Broken());
  EXPECT_EQ(decoder.BytesConsumed(), stream.size()) << "the flush is exactly what the decoder reads";
}

TEST(PpmdRangeCoderTest, DecoderFlagsInputThatEndsTooEarly) {
  ByteSource source{{0x12, 0x34}, 0};
  PpmdRangeDecoder decoder(ReadBytes, &source, 16);
  EXPECT_FALSE(decoder.Init());
  EXPECT_TRUE(decoder.Broken());
  EXPECT_FALSE(decoder.ReadFailed());
}

TEST(PpmdRangeCoderTest, EncoderStopsWritingAfterAShortWrite) {
  int calls = 0;
  auto refuse = [](void* context, const unsigned char*, unsigned long size) -> long {
    ++*static_cast<int*>(context);
    return static_cast<long>(size) - 1;
  };
  PpmdRangeEncoder encoder(refuse, &calls, 8);
  for (int i = 0; i < 1000; ++i) encoder.Encode(1, 1, 3);
  encoder.Finish();
  EXPECT_TRUE(encoder.Failed());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(encoder.BytesWritten(), 0u);
}

}  // namespace
}  // namespace korbel
