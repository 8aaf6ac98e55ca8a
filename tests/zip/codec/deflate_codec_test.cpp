// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/deflate_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::CodecFailure;
using korbel::DeflateCodec;

const std::string kBadData = "Ung\xFC" "ldige Huffmann-Tabelle !";
const std::string kBadMode = "Falscher Modus beim Entkomprimieren !";
const std::string kAreaFull = "Fehler Speicher\xFC" "berlauf des Ausgabepuffers";

Bytes ReferenceDeflate(const Bytes& data, int level) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = const_cast<unsigned char*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

TEST(DeflateCodecTest, OutputMatchesZlibAtEveryLevel) {
  const Bytes data = testing_support::TextBytes(200000);
  testing_support::TempDir dir;
  DeflateCodec codec;  // one codec for all levels: its stream is reused
  for (int level = 1; level <= 9; ++level) {
    const auto run = codec_testing::RunCodec(codec, Direction::kCompress, level,
                                             SideType::kMemory, SideType::kFunction, data, 0, dir);
    EXPECT_EQ(run.output, ReferenceDeflate(data, level)) << level;
    EXPECT_EQ(codec.Level(), level);
  }
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
  const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, korbel::kOwnMode,
                                            SideType::kMemory, SideType::kMemory, run.output,
                                            data.size(), dir);
  EXPECT_EQ(back.output, data);
  // A later compression above level 0 returns to mode 8.
  codec_testing::RunCodec(codec, Direction::kCompress, 2, SideType::kMemory, SideType::kFunction,
                          data, 0, dir);
  EXPECT_EQ(codec.Mode(), 8);
}

TEST(DeflateCodecTest, UnknownModesFailWithKindFive) {
  const Bytes packed = ReferenceDeflate(testing_support::TextBytes(1000), 6);
  for (const int mode : {5, 1, 7, 10, -1, 12}) {
    testing_support::TempDir dir;
    DeflateCodec codec;
    codec_testing::ExpectFailure(codec, [&] {
      codec_testing::RunCodec(codec, Direction::kDecompress, mode, SideType::kMemory,
                              SideType::kFunction, packed, 0, dir);
    }, 5, kBadMode);
    EXPECT_EQ(codec.Mode(), mode);
  }
}

TEST(DeflateCodecTest, Deflate64ModeReadsPlainDeflateWithoutLongCodes) {
  // Literals only (random data) and stored blocks mean the same in both formats.
  testing_support::TempDir dir;
  for (const int level : {0, 6}) {
    const Bytes data = testing_support::RandomBytes(90000, 21);
    const Bytes packed = ReferenceDeflate(data, level);
    for (const SideType out : codec_testing::kAllSides) {
      DeflateCodec codec;
      const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 9, SideType::kMemory,
                                               out, packed, data.size(), dir);
      EXPECT_EQ(run.output, data) << codec_testing::SideName(out);
      EXPECT_EQ(run.answer, data.size());
      EXPECT_EQ(codec.CompressedCount(), packed.size());
      EXPECT_EQ(run.outputCrc, codec_testing::ZlibCrc(data));
    }
  }
}

TEST(DeflateCodecTest, Deflate64FailuresMapToKinds) {
  const Bytes data = testing_support::RandomBytes(50000, 4);
  const Bytes packed = ReferenceDeflate(data, 6);
  testing_support::TempDir dir;
  const struct {
    const char* name;
    Bytes stream;
    SideType in;
    SideType out;
    int kind;
    std::string text;
  } cases[] = {
      {"area one byte short", packed, SideType::kMemory, SideType::kMemory, 3, kAreaFull},
      {"refused write", packed, SideType::kMemory, SideType::kFunction, 2,
       "Fehler beim Schreiben in Datei !"},
      {"failed read", packed, SideType::kFunction, SideType::kFunction, 1,
       "Fehler beim Lesen aus Datei !"},
      {"reserved block type", Bytes{0x07, 0x00}, SideType::kMemory, SideType::kMemory, 6, kBadData},
      {"cut", Bytes(packed.begin(), packed.begin() + 3000), SideType::kMemory, SideType::kMemory, 6,
       kBadData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeflateCodec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, c.in, c.stream);
    sides.Source().failAfter = 10000;
    sides.ConnectOutput(codec, c.out, c.kind == 3 ? data.size() - 1 : data.size());
    sides.Sink().refuse = c.kind == 2;
    codec_testing::ExpectFailure(codec, [&] { codec.Decompress(9); }, c.kind, c.text);
    if (c.kind == 3) {
      EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    }
    EXPECT_TRUE(sides.GuardIntact());
  }
}

// ---- Streams of independent tools ---------------------------------------------

TEST(DeflateCodecTest, InflatesDeflate64EntriesOfSevenZip) {
  CODEC_REQUIRE_TOOL("7zz");
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
  const auto entry = codec_testing::FirstEntry(testing_support::ReadFile(dir / "out.zip"));
  ASSERT_TRUE(entry.ok);
  ASSERT_EQ(entry.method, 9);
  DeflateCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 9, SideType::kMemory,
                                           SideType::kMemory, entry.data, data.size(), dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(run.outputCrc, entry.crc);
  // Plain inflate does not understand it.
  EXPECT_THROW(codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                       SideType::kFunction, entry.data, 0, dir),
               CodecFailure);
  EXPECT_EQ(codec.FailureKind(), 6);
}

}  // namespace
