// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/deflate_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::CodecFailure;
using korbel::DeflateCodec;

const std::string kBadData = "Ung\374ldige Huffmann-Tabelle !";
const std::string kBadMode = "Falscher Modus beim Entkomprimieren !";
const std::string kAreaFull = "Fehler Speicher\374berlauf des Ausgabepuffers";

// Whichever way the codec packs (a memory input has a known size and may go
// whole, a function input streams), its output unpacks back and is no
// larger than the reference libraries give at the same level.
TEST(DeflateCodecTest, OutputRoundTripsWithinTheReferenceSizeAtEveryLevelBothWays) {
  const Bytes data = testing_support::TextBytes(200000);
  testing_support::TempDir dir;
  DeflateCodec codec;  // one codec for all levels and both paths: its state is reused
  for (int level = 1; level <= 9; ++level) {
    for (const SideType input : {SideType::kMemory, SideType::kFunction}) {
      SCOPED_TRACE(std::to_string(level) + " " + codec_testing::SideName(input));
      const auto run = codec_testing::RunCodec(codec, Direction::kCompress, level, input, SideType::kFunction,
                                               data, 0, dir);
      EXPECT_EQ(testing_support::RawInflate(run.output, data.size()), data);
      EXPECT_LE(run.output.size(), codec_testing::ReferenceDeflateSize(data, level));
      EXPECT_EQ(codec.Level(), level);
    }
  }
}

// The whole-block boundary, moved down so that every level stays quick: an
// input of the limit's size still goes whole, one byte more streams; both
// unpack again through either inflater.
TEST(DeflateCodecTest, RoundTripsAtEveryLevelAcrossTheWholeBlockLimit) {
  constexpr std::size_t kLimit = 20000;
  testing_support::TempDir dir;
  DeflateCodec codec;
  codec.SetWholeBlockLimit(kLimit);
  for (int level = 1; level <= 9; ++level) {
    for (const std::size_t size : {kLimit - 1, kLimit, kLimit + 1}) {
      SCOPED_TRACE(std::to_string(level) + " " + std::to_string(size));
      const Bytes data = testing_support::TextBytes(size);
      const auto packed = codec_testing::Pack(codec, level, data);
      EXPECT_EQ(testing_support::RawInflate(packed.output, size), data);
      EXPECT_LE(packed.output.size(), codec_testing::ReferenceDeflateSize(data, level));
      EXPECT_EQ(codec.UncompressedCount(), size);
      EXPECT_EQ(codec.CompressedCount(), packed.output.size());
      EXPECT_EQ(packed.inputCrc, testing_support::Crc32(data));
      // Unpacked with the size stated (whole when it fits) and without (streamed).
      for (const bool stated : {true, false}) {
        if (stated) codec.ExpectSize(size);
        const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                                  SideType::kMemory, packed.output, size, dir);
        EXPECT_EQ(back.output, data) << stated;
        EXPECT_EQ(back.answer, size);
        EXPECT_EQ(codec.CompressedCount(), packed.output.size());
        EXPECT_EQ(back.outputCrc, testing_support::Crc32(data));
        EXPECT_TRUE(back.guardIntact);
      }
    }
  }
}

// A stated size that is not the stream's: the run fails as broken data and
// never hands on more than the stated size, whichever inflater runs.
TEST(DeflateCodecTest, StatedSizeThatLiesIsBrokenDataOnBothPaths) {
  const Bytes data = testing_support::TextBytes(50000);
  const Bytes packed = testing_support::RawDeflate(data, 6);
  testing_support::TempDir dir;
  for (const std::size_t limit : {DeflateCodec::kWholeBlockLimit, std::size_t{1000}}) {
    for (const std::uint64_t stated :
         {std::uint64_t{0}, std::uint64_t{49999}, std::uint64_t{50001}, std::uint64_t{100} << 20}) {
      for (const SideType out : {SideType::kMemory, SideType::kFunction}) {
        SCOPED_TRACE(std::to_string(limit) + " " + std::to_string(stated) + " " +
                     codec_testing::SideName(out));
        DeflateCodec codec;
        codec.SetWholeBlockLimit(limit);
        codec_testing::Sides sides(dir, "lie");
        sides.ConnectInput(codec, SideType::kMemory, packed);
        const std::uint64_t room = std::min<std::uint64_t>(stated, data.size() * 2);
        sides.ConnectOutput(codec, out, static_cast<std::size_t>(room));
        codec.ExpectSize(stated);
        codec_testing::ExpectFailure(
            codec, [&] { codec.Decompress(DeflateCodec::kDeflate); }, korbel::kCodecDataError, kBadData);
        const Bytes handed = sides.Output();
        EXPECT_LE(handed.size(), stated);
        EXPECT_TRUE(std::equal(handed.begin(), handed.end(), data.begin()));
        EXPECT_TRUE(sides.GuardIntact());
      }
    }
  }
  // The stated size holds for one run only: the next one streams unchecked.
  DeflateCodec codec;
  codec.ExpectSize(7);
  const auto wrong = [&] { return codec_testing::Unpack(codec, 8, packed); };
  EXPECT_THROW(wrong(), CodecFailure);
  EXPECT_EQ(wrong().output, data);
}

TEST(DeflateCodecTest, EmptyInputGivesTheTwoByteStreamAndExpands) {
  testing_support::TempDir dir;
  DeflateCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory,
                                           SideType::kMemory, Bytes(), 64, dir);
  EXPECT_EQ(run.output, (Bytes{0x03, 0x00}));
  EXPECT_EQ(run.answer, 2u);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecExpanded);

  const auto stored = codec_testing::RunCodec(codec, Direction::kCompress, 0, SideType::kMemory,
                                              SideType::kMemory, Bytes(), 64, dir);
  EXPECT_TRUE(stored.output.empty());
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
}

TEST(DeflateCodecTest, LevelZeroCopiesAndSetsModeZero) {
  const Bytes data = testing_support::TextBytes(30000);
  testing_support::TempDir dir;
  DeflateCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kCompress, 0, SideType::kHandle,
                                           SideType::kCFile, data, 0, dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(codec.Mode(), 0);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
  // The own mode (-2) now copies back.
  const auto back =
      codec_testing::RunCodec(codec, Direction::kDecompress, korbel::kOwnMode, SideType::kMemory,
                              SideType::kMemory, run.output, data.size(), dir);
  EXPECT_EQ(back.output, data);
  // A later compression above level 0 returns to mode 8.
  codec_testing::Pack(codec, 2, data);
  EXPECT_EQ(codec.Mode(), 8);
}

TEST(DeflateCodecTest, UnknownModesFailWithKindFive) {
  const Bytes packed = testing_support::RawDeflate(testing_support::TextBytes(1000), 6);
  for (const int mode : {5, 1, 7, 10, -1, 12}) {
    DeflateCodec codec;
    codec_testing::ExpectFailure(
        codec, [&] { codec_testing::Unpack(codec, mode, packed); }, korbel::kCodecSetupFailed, kBadMode);
    EXPECT_EQ(codec.Mode(), mode);
  }
}

TEST(DeflateCodecTest, Deflate64ModeReadsPlainDeflateWithoutLongCodes) {
  // Literals only (random data) and stored blocks mean the same in both formats.
  testing_support::TempDir dir;
  for (const int level : {0, 6}) {
    const Bytes data = testing_support::RandomBytes(90000, 21);
    const Bytes packed = testing_support::RawDeflate(data, level);
    for (const SideType out : codec_testing::kAllSides) {
      DeflateCodec codec;
      const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 9, SideType::kMemory, out,
                                               packed, data.size(), dir);
      EXPECT_EQ(run.output, data) << codec_testing::SideName(out);
      EXPECT_EQ(run.answer, data.size());
      EXPECT_EQ(codec.CompressedCount(), packed.size());
      EXPECT_EQ(run.outputCrc, testing_support::Crc32(data));
    }
  }
}

TEST(DeflateCodecTest, Deflate64FailuresMapToKinds) {
  const Bytes data = testing_support::RandomBytes(50000, 4);
  const Bytes packed = testing_support::RawDeflate(data, 6);
  testing_support::TempDir dir;
  const struct {
    const char* name;
    Bytes stream;
    SideType in;
    SideType out;
    int kind;
    std::string text;
  } cases[] = {
      {"area one byte short", packed, SideType::kMemory, SideType::kMemory, korbel::kCodecOutputFull,
       kAreaFull},
      {"refused write", packed, SideType::kMemory, SideType::kFunction, korbel::kCodecWriteFailed,
       "Fehler beim Schreiben in Datei !"},
      {"failed read", packed, SideType::kFunction, SideType::kFunction, korbel::kCodecReadFailed,
       "Fehler beim Lesen aus Datei !"},
      {"reserved block type", Bytes{0x07, 0x00}, SideType::kMemory, SideType::kMemory,
       korbel::kCodecDataError, kBadData},
      {"cut", Bytes(packed.begin(), packed.begin() + 3000), SideType::kMemory, SideType::kMemory,
       korbel::kCodecDataError, kBadData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeflateCodec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, c.in, c.stream);
    sides.Source().failAfter = 10000;
    const bool areaShort = c.kind == korbel::kCodecOutputFull;
    sides.ConnectOutput(codec, c.out, areaShort ? data.size() - 1 : data.size());
    sides.Sink().refuse = c.kind == korbel::kCodecWriteFailed;
    codec_testing::ExpectFailure(
        codec, [&] { codec.Decompress(9); }, c.kind, c.text);
    if (areaShort) {
      EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    }
    EXPECT_TRUE(sides.GuardIntact());
  }
}

// ---- Streams of independent tools ---------------------------------------------

TEST(DeflateCodecTest, InflatesDeflate64EntriesOfSevenZip) {
  PAKKARO_REQUIRE_TOOLS("7zz");
  testing_support::TempDir dir;
  // A repeat 40000 bytes back and a long run need the distance and length
  // codes that only Deflate64 has.
  Bytes data = testing_support::RandomBytes(40000, 8);
  const Bytes block = data;
  data.insert(data.end(), block.begin(), block.end());
  data.insert(data.end(), 70000, 'x');
  ASSERT_TRUE(testing_support::WriteFile(dir / "source.bin", data));
  ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(dir.Path()) +
                                        " && 7zz a -tzip -mm=Deflate64 -mx=9 out.zip source.bin"
                                        " >/dev/null"),
            0);
  const auto entry = testing_support::ParseFirstEntry(testing_support::ReadFile(dir / "out.zip"));
  ASSERT_TRUE(entry.ok);
  ASSERT_EQ(entry.method, 9);
  DeflateCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 9, SideType::kMemory,
                                           SideType::kMemory, entry.data, data.size(), dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(run.outputCrc, entry.crc);
  // Plain inflate does not understand it.
  EXPECT_THROW(codec_testing::Unpack(codec, 8, entry.data), CodecFailure);
  EXPECT_EQ(codec.FailureKind(), korbel::kCodecDataError);
}

}  // namespace
