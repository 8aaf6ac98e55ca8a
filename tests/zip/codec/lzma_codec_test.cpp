// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/lzma_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::LzmaCodec;

TEST(LzmaCodecTest, ModeBitsChooseTheHeaderParts) {
  const Bytes data = testing_support::TextBytes(5000);
  const struct {
    int mode;
    std::size_t headerSize;
  } cases[] = {{1, 9}, {2, 5}, {3, 9}, {6, 13}, {7, 17}};
  for (const auto& c : cases) {
    LzmaCodec codec;
    codec.SetMode(c.mode);
    codec.SetUncompressedSize(static_cast<std::int64_t>(data.size()));
    const auto packed = codec_testing::Pack(codec, 5, data);
    LzmaCodec raw;
    raw.SetMode(0);
    raw.SetUncompressedSize(static_cast<std::int64_t>(data.size()));
    const auto bare = codec_testing::Pack(raw, 5, data);
    ASSERT_EQ(packed.output.size(), bare.output.size() + c.headerSize) << c.mode;
    EXPECT_TRUE(std::equal(bare.output.begin(), bare.output.end(),
                           packed.output.begin() + static_cast<std::ptrdiff_t>(c.headerSize)));
    if (c.mode & LzmaCodec::kSizeField) {
      EXPECT_EQ(archive_builder::Get(packed.output, c.headerSize - 8, 4), data.size());
      EXPECT_EQ(archive_builder::Get(packed.output, c.headerSize - 4, 4), 0u);
    }
    // With the size field a decoder told nothing about the size reads it there.
    LzmaCodec reader;
    reader.SetUncompressedSize((c.mode & LzmaCodec::kSizeField) ? -1
                                                                : static_cast<std::int64_t>(data.size()));
    const auto back = codec_testing::Unpack(reader, c.mode, packed.output);
    EXPECT_EQ(back.output, data) << c.mode;
    EXPECT_EQ(reader.CompressedCount(), packed.output.size()) << c.mode;
  }
}

TEST(LzmaCodecTest, UnknownSizeWritesTheSizeFieldAsAllOnes) {
  const Bytes data = testing_support::TextBytes(3000);
  LzmaCodec codec;
  codec.SetMode(7);
  const auto packed = codec_testing::Pack(codec, 3, data);
  EXPECT_EQ(archive_builder::Get(packed.output, 9, 4), 0xFFFFFFFFu);
  EXPECT_EQ(archive_builder::Get(packed.output, 13, 4), 0xFFFFFFFFu);
  LzmaCodec reader;
  reader.SetUncompressedSize(123);  // the field overrides it
  const auto back = codec_testing::Unpack(reader, 7, packed.output);
  EXPECT_EQ(back.output, data);
}

TEST(LzmaCodecTest, AKnownSizeStopsTheDecoderThere) {
  const Bytes data = testing_support::TextBytes(80000);
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(3);
  const auto packed = codec_testing::Pack(codec, 6, data);
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{50000}, data.size()}) {
    LzmaCodec reader;
    reader.SetUncompressedSize(static_cast<std::int64_t>(size));
    const auto back = codec_testing::RunCodec(reader, Direction::kDecompress, 3, SideType::kMemory,
                                              SideType::kMemory, packed.output, size, dir);
    EXPECT_EQ(back.output, Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_TRUE(back.guardIntact);
  }
}

TEST(LzmaCodecTest, ExtraPropertyBytesAreSkipped) {
  const Bytes data = testing_support::TextBytes(10000);
  LzmaCodec codec;
  codec.SetMode(3);
  Bytes packed = codec_testing::Pack(codec, 5, data).output;
  // Property size 8: three bytes follow the five real ones.
  packed[2] = 8;
  packed.insert(packed.begin() + 9, {0xEE, 0xEE, 0xEE});
  const auto back = codec_testing::Unpack(codec, 3, packed);
  EXPECT_EQ(back.output, data);
  EXPECT_EQ(codec.CompressedCount(), packed.size());
}

TEST(LzmaCodecTest, AHeaderThatDoesNotFitIsAWriteFailure) {
  const Bytes data = testing_support::TextBytes(6000);
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(3);
  codec_testing::Sides sides(dir, "header");
  sides.ConnectInput(codec, SideType::kMemory, data);
  sides.ConnectOutput(codec, SideType::kMemory, 6);
  codec_testing::ExpectFailure(
      codec, [&] { codec.Compress(5); }, 2, "Fehler beim Speichern");
  EXPECT_TRUE(sides.GuardIntact());
}

}  // namespace

// The dictionary a hostile header can make the decoder allocate: bounded by
// the output size when known and by a fixed ceiling always, never below the
// smallest useful size.
TEST(LzmaCodecTest, DecoderDictionaryIsBoundedWhateverTheHeaderClaims) {
  constexpr std::uint64_t kUnknown = ~std::uint64_t{0};
  constexpr std::uint32_t kCeiling = LzmaCodec::kLargestDictionary;
  struct Row {
    std::uint32_t declared;
    std::uint64_t expected;
    std::uint32_t dictionary;
  };
  const Row rows[] = {
      {0xFFFFFFFFu, kUnknown, kCeiling},                // the largest claim, size unknown
      {0xFFFFFFFFu, std::uint64_t{1} << 40, kCeiling},  // a size that lies high
      {0xFFFFFFFFu, 100000, 100000},                    // a small known size
      {1u << 16, kUnknown, 1u << 16},                   // an ordinary dictionary is kept
      {1u << 16, 10, 4096},                             // never below the smallest
      {kCeiling + 1, kCeiling + 100ull, kCeiling},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(LzmaCodec::DecoderDictionary(row.declared, row.expected), row.dictionary)
        << row.declared << " " << row.expected;
  }
}
