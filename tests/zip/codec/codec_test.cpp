#include "zip/codec/codec.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::Codec;
using korbel::CodecFailure;

const std::string kNotSupported = "Die Funktion wird nicht unterst\xFC" "tzt";
const std::string kAreaFull = "Fehler Speicher\xFC" "berlauf des Ausgabepuffers";

// The base as it stands: both operations left undefined.
class BareCodec : public Codec {};

// The base's stored copy as the whole of a codec.
class CopyCodec : public Codec {
 public:
  std::uint64_t Compress(int level) override {
    BeginCompression(level, 0, 9);
    return StoredCopy();
  }
  std::uint64_t Decompress(int mode) override {
    BeginDecompression(mode);
    return StoredCopy();
  }
};

TEST(CodecTest, BaseOperationsAreNotSupported) {
  BareCodec codec;
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    try {
      if (direction == Direction::kCompress) codec.Compress(5);
      else codec.Decompress(8);
      FAIL() << "the base operation returned";
    } catch (const CodecFailure& failure) {
      EXPECT_EQ(failure.kind, 10);
      EXPECT_EQ(std::string(failure.text), kNotSupported);
    }
    EXPECT_EQ(codec.FailureKind(), 10);
  }
}

TEST(CodecTest, ResetTwoFreesBuffersButKeepsSettings) {
  CopyCodec codec;
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(1000);
  codec.SetMode(0);
  codec_testing::RunCodec(codec, Direction::kCompress, 4, SideType::kMemory, SideType::kFunction,
                          data, 0, dir);
  codec.Reset(2);
  EXPECT_EQ(codec.Level(), 4);
  EXPECT_EQ(codec.Mode(), 0);
  EXPECT_EQ(codec.UncompressedCount(), 1000u);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
  EXPECT_EQ(codec.InputKind(), korbel::SideKind::kMemory);
  EXPECT_EQ(codec.OutputKind(), korbel::SideKind::kFunction);
}

TEST(CodecTest, ResetOtherwiseRestoresDefaultsAndDisconnects) {
  for (const int how : {0, 1, 3}) {
    CopyCodec codec;
    testing_support::TempDir dir;
    codec.SetMode(0);
    codec_testing::RunCodec(codec, Direction::kCompress, 4, SideType::kMemory,
                            SideType::kFunction, testing_support::TextBytes(100), 0, dir);
    codec.Reset(how);
    EXPECT_EQ(codec.Level(), 9) << how;
    EXPECT_EQ(codec.Mode(), 8) << how;
    EXPECT_EQ(codec.UncompressedCount(), 0u) << how;
    EXPECT_EQ(codec.CompressedCount(), 0u) << how;
    EXPECT_EQ(codec.StateFlags(), 0u) << how;
    EXPECT_EQ(codec.FailureKind(), 0) << how;
    EXPECT_EQ(codec.InputKind(), korbel::SideKind::kNone) << how;
    EXPECT_EQ(codec.OutputKind(), korbel::SideKind::kNone) << how;
  }
}

TEST(CodecTest, QueriesAnswerByIndex) {
  CopyCodec codec;
  testing_support::TempDir dir;
  const Bytes data = testing_support::RandomBytes(70000, 3);
  const auto run = codec_testing::RunCodec(codec, Direction::kCompress, 6, SideType::kFunction,
                                           SideType::kFunction, data, 0, dir);
  const std::uint32_t crc = codec_testing::ZlibCrc(data);
  struct Case {
    int index;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {korbel::kQueryLevel, 6},
      {korbel::kQueryStateFlags, korbel::kCodecPlainCopy},
      {korbel::kQueryOutputCrc, crc},
      {korbel::kQueryInputCrc, crc},
      {korbel::kQueryCompressedCount, 70000},
      {korbel::kQueryUncompressedCount, 70000},
      {korbel::kQueryBytesWritten, 70000},
      {korbel::kQueryBytesRead, 70000},
      {8, 0},
      {-1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(codec.QueryCount(c.index), c.expected) << c.index;
    EXPECT_EQ(codec.QueryValue(c.index), static_cast<std::uint32_t>(c.expected)) << c.index;
  }
  EXPECT_EQ(run.output, data);
}

TEST(CodecTest, LevelIsClampedAndMinusOneKeepsIt) {
  CopyCodec codec;
  testing_support::TempDir dir;
  const Bytes data(10, 1);
  const struct {
    int argument;
    int level;
  } cases[] = {{3, 3}, {-1, 3}, {12, 9}, {-1, 9}, {-7, 0}, {-1, 0}};
  for (const auto& c : cases) {
    codec_testing::RunCodec(codec, Direction::kCompress, c.argument, SideType::kMemory,
                            SideType::kMemory, data, 100, dir);
    EXPECT_EQ(codec.Level(), c.level) << c.argument;
  }
}

// The stored copy over every kind of side, in both directions.
class StoredCopyTest : public ::testing::TestWithParam<std::tuple<std::size_t, SideType>> {};

TEST_P(StoredCopyTest, CopiesUnchanged) {
  const auto& data = codec_testing::DataCases()[std::get<0>(GetParam())].data;
  const SideType in = std::get<1>(GetParam());
  const SideType out = codec_testing::NextSide(in);
  testing_support::TempDir dir;
  CopyCodec codec;
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    const auto run = codec_testing::RunCodec(codec, direction, 0, in, out, data, data.size(), dir);
    EXPECT_EQ(run.output, data);
    EXPECT_EQ(run.answer, data.size());
    EXPECT_EQ(codec.CompressedCount(), data.size());
    EXPECT_EQ(codec.UncompressedCount(), data.size());
    EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
    EXPECT_EQ(run.inputCrc, codec_testing::ZlibCrc(data));
    EXPECT_EQ(run.outputCrc, codec_testing::ZlibCrc(data));
    EXPECT_EQ(codec.FailureKind(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllSides, StoredCopyTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, codec_testing::DataCases().size()),
                       ::testing::ValuesIn(codec_testing::kAllSides)),
    [](const auto& info) {
      return std::string(codec_testing::DataCases()[std::get<0>(info.param)].name) + "_" +
             codec_testing::SideName(std::get<1>(info.param));
    });

TEST(CodecTest, StoredCopyIntoTooSmallAreaFailsWithKindThree) {
  const Bytes data = testing_support::TextBytes(50000);
  for (const SideType in : codec_testing::kAllSides) {
    testing_support::TempDir dir;
    CopyCodec codec;
    codec_testing::Sides sides(dir, "small");
    sides.ConnectInput(codec, in, data);
    sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
    try {
      codec.Compress(0);
      FAIL() << "an area one byte short was accepted";
    } catch (const CodecFailure& failure) {
      EXPECT_EQ(failure.kind, 3);
      EXPECT_EQ(std::string(failure.text), kAreaFull);
    }
    EXPECT_EQ(codec.FailureKind(), 3);
    EXPECT_EQ(codec.CompressedCount(), data.size() - 1) << codec_testing::SideName(in);
    EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
    const Bytes kept = sides.Output();
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), data.begin()));
  }
}

TEST(CodecTest, StoredCopyFailuresNameTheirSide) {
  const Bytes data = testing_support::TextBytes(40000);
  testing_support::TempDir dir;
  {
    CopyCodec codec;
    codec_testing::Sides sides(dir, "read");
    sides.ConnectInput(codec, SideType::kFunction, data);
    sides.Source().failAfter = 20000;
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    try {
      codec.Compress(0);
      FAIL();
    } catch (const CodecFailure& failure) {
      EXPECT_EQ(failure.kind, 1);
      EXPECT_EQ(std::string(failure.text), "Fehler beim Lesen");
    }
    EXPECT_EQ(codec.FailureKind(), 1);
    // What had arrived before the failure was passed on and counted.
    EXPECT_GE(codec.UncompressedCount(), 20000u);
    EXPECT_EQ(codec.UncompressedCount(), sides.Source().position);
    EXPECT_EQ(sides.Sink().data.size(), codec.CompressedCount());
    EXPECT_TRUE(std::equal(sides.Sink().data.begin(), sides.Sink().data.end(), data.begin()));
  }
  {
    CopyCodec codec;
    codec_testing::Sides sides(dir, "write");
    sides.ConnectInput(codec, SideType::kMemory, data);
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    sides.Sink().refuse = true;
    try {
      codec.Compress(0);
      FAIL();
    } catch (const CodecFailure& failure) {
      EXPECT_EQ(failure.kind, 2);
      EXPECT_EQ(std::string(failure.text), "Fehler beim Schreiben in die Datei");
    }
  }
}

TEST(CodecTest, FailureKindStaysUntilTheNextRun) {
  const Bytes data = testing_support::TextBytes(1000);
  testing_support::TempDir dir;
  CopyCodec codec;
  {
    codec_testing::Sides sides(dir, "fail");
    sides.ConnectInput(codec, SideType::kFunction, data);
    sides.Source().failAfter = 0;
    sides.ConnectOutput(codec, SideType::kMemory, 2000);
    EXPECT_THROW(codec.Compress(0), CodecFailure);
  }
  EXPECT_EQ(codec.FailureKind(), 1);
  codec.SetLevel(3);
  codec.SetMode(0);
  EXPECT_EQ(codec.FailureKind(), 1);
  const auto run = codec_testing::RunCodec(codec, Direction::kCompress, 0, SideType::kMemory,
                                           SideType::kMemory, data, 2000, dir);
  EXPECT_EQ(codec.FailureKind(), 0);
  EXPECT_EQ(run.output, data);
}

}  // namespace
