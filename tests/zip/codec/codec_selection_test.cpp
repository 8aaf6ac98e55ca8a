#include "zip/codec/codec_selection.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"
#include "zip/codec/bzip2_codec.h"
#include "zip/codec/deflate_codec.h"
#include "zip/codec/lzma_codec.h"
#include "zip/codec/ppmd_codec.h"
#include "zip/codec/xz_codec.h"

namespace {

using korbel::CodecSelection;
using korbel::SelectCodec;

enum class Kind { kNone, kDeflate, kBZip2, kLzma, kXz, kPpmd };

Kind KindOf(const korbel::Codec* codec) {
  if (codec == nullptr) return Kind::kNone;
  if (dynamic_cast<const korbel::DeflateCodec*>(codec)) return Kind::kDeflate;
  if (dynamic_cast<const korbel::BZip2Codec*>(codec)) return Kind::kBZip2;
  if (dynamic_cast<const korbel::LzmaCodec*>(codec)) return Kind::kLzma;
  if (dynamic_cast<const korbel::XzCodec*>(codec)) return Kind::kXz;
  if (dynamic_cast<const korbel::PpmdCodec*>(codec)) return Kind::kPpmd;
  return Kind::kNone;
}

// One selection after another on the same archive state.
TEST(CodecSelectionTest, FamiliesAndModesFollowTheMethod) {
  const struct {
    int method;
    int flag;
    int result;
    Kind kind;
    int family;
    int mode;
    bool sameObject;  // the codec of the step before stays
  } steps[] = {
      {8, 0, 0, Kind::kDeflate, 0, 8, false},
      {0, 0, 0, Kind::kDeflate, 0, 0, true},
      {3, 0, 1, Kind::kDeflate, 0, 0, true},  // Reduce is not read: the current codec stays
      {9, 1, 1, Kind::kDeflate, 0, 0, true},  // Deflate64 refused by the flag
      {9, 0, 0, Kind::kDeflate, 0, 9, true},
      {6, 0, 1, Kind::kDeflate, 0, 9, true},  // nor Implode
      {12, 0, 0, Kind::kBZip2, 12, 8, false},
      {12, 0, 0, Kind::kBZip2, 12, 8, true},
      {13, 0, 1, Kind::kBZip2, 12, 8, true},  // no codec: the current one stays
      {14, 0, 0, Kind::kLzma, 14, 3, false},
      {95, 0, 0, Kind::kXz, 95, 8, false},
      {98, 0, 0, Kind::kPpmd, 98, 1, false},
      {99, 0, 1, Kind::kPpmd, 98, 1, true},
      {-3, 0, 1, Kind::kPpmd, 98, 1, true},
      {9, 1, 0, Kind::kDeflate, 0, 9, false},  // a new Deflate codec ignores the flag
      {7, 0, 1, Kind::kDeflate, 0, 9, true},
  };
  CodecSelection selection;
  EXPECT_EQ(selection.family, -1);
  const korbel::Codec* before = nullptr;
  for (const auto& step : steps) {
    const std::string label = "method " + std::to_string(step.method);
    EXPECT_EQ(SelectCodec(selection, step.method, 1000, step.flag), step.result) << label;
    EXPECT_EQ(KindOf(selection.codec.get()), step.kind) << label;
    EXPECT_EQ(selection.family, step.family) << label;
    EXPECT_EQ(selection.codec->Mode(), step.mode) << label;
    EXPECT_EQ(selection.codec.get() == before, step.sameObject) << label;
    before = selection.codec.get();
  }
}

TEST(CodecSelectionTest, NewDeflateCodecTakesTheMethodAsMode) {
  const struct {
    int method;
    int mode;
  } cases[] = {{0, 0}, {8, 8}, {9, 9}};
  for (const auto& c : cases) {
    CodecSelection selection;
    ASSERT_EQ(SelectCodec(selection, c.method, 0, 0), 0);
    EXPECT_EQ(selection.codec->Mode(), c.mode) << c.method;
  }
}

// Shrink, Reduce and Implode are answered as unsupported, not handed to the
// Deflate decoder to fail as damaged data.
TEST(CodecSelectionTest, MethodsOneToSevenAreUnsupported) {
  for (int method = 1; method <= 7; ++method) {
    CodecSelection selection;
    EXPECT_EQ(SelectCodec(selection, method, 0, 0), korbel::kSelectUnsupported) << method;
    EXPECT_EQ(selection.codec, nullptr) << method;
  }
}

TEST(CodecSelectionTest, LzmaKeepsTheEntrySize) {
  CodecSelection selection;
  ASSERT_EQ(SelectCodec(selection, 14, 123456, 0), 0);
  EXPECT_EQ(selection.lzmaSize, 123456u);
  auto* lzma = dynamic_cast<korbel::LzmaCodec*>(selection.codec.get());
  ASSERT_NE(lzma, nullptr);
  EXPECT_EQ(lzma->UncompressedSize(), 123456);
  ASSERT_EQ(SelectCodec(selection, 14, 77, 0), 0);
  EXPECT_EQ(selection.codec.get(), lzma);
  EXPECT_EQ(selection.lzmaSize, 77u);
  EXPECT_EQ(lzma->UncompressedSize(), 77);
}

TEST(CodecSelectionTest, ASelectedCodecStartsWithClearCounts) {
  CodecSelection selection;
  ASSERT_EQ(SelectCodec(selection, 8, 0, 0), 0);
  codec_testing::Pack(*selection.codec, 6, testing_support::TextBytes(5000));
  ASSERT_GT(selection.codec->CompressedCount(), 0u);
  ASSERT_EQ(SelectCodec(selection, 12, 0, 0), 0);
  EXPECT_EQ(selection.codec->CompressedCount(), 0u);
  EXPECT_EQ(selection.codec->UncompressedCount(), 0u);
  EXPECT_EQ(selection.codec->BytesRead(), 0u);
  EXPECT_EQ(selection.codec->BytesWritten(), 0u);
}

}  // namespace
