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

// zlib called directly, as the reference for what the codec produces.
Bytes ReferenceInflate(const Bytes& compressed, std::size_t expectedSize) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
  Bytes out(expectedSize + 1);
  zs.next_in = const_cast<unsigned char*>(compressed.data());
  zs.avail_in = static_cast<uInt>(compressed.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&zs, Z_FINISH);
  EXPECT_EQ(result, Z_STREAM_END);
  out.resize(zs.total_out);
  inflateEnd(&zs);
  return out;
}

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

// Expects `run` to throw a CodecFailure of `kind` with `text`.
template <typename Run>
void ExpectFailure(Run run, int kind, const std::string& text) {
  try {
    run();
    ADD_FAILURE() << "the run succeeded";
  } catch (const CodecFailure& failure) {
    EXPECT_EQ(failure.kind, kind);
    EXPECT_EQ(std::string(failure.text), text);
  }
}

class DeflateRoundTripTest : public ::testing::TestWithParam<std::tuple<std::size_t, SideType>> {};

TEST_P(DeflateRoundTripTest, CompressesAndInflatesBack) {
  const auto& data = codec_testing::DataCases()[std::get<0>(GetParam())].data;
  const SideType first = std::get<1>(GetParam());
  const SideType second = codec_testing::NextSide(first);
  // Each side kind meets another level.
  const int level = 1 + 3 * static_cast<int>(first);
  testing_support::TempDir dir;
  DeflateCodec codec;

  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, level, first, second,
                                              data, codec_testing::CompressedRoom(data.size()), dir);
  EXPECT_EQ(packed.answer, packed.output.size());
  EXPECT_EQ(codec.CompressedCount(), packed.output.size());
  EXPECT_EQ(codec.UncompressedCount(), data.size());
  EXPECT_EQ(codec.Mode(), 8);
  EXPECT_EQ(packed.inputCrc, codec_testing::ZlibCrc(data));
  EXPECT_EQ(packed.outputCrc, codec_testing::ZlibCrc(packed.output));
  if (second == SideType::kFunction) {
    EXPECT_EQ(packed.endCalls, 1);
  }
  EXPECT_EQ(ReferenceInflate(packed.output, data.size()), data);

  // Inflating into an area of exactly the data's size must not overflow.
  const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, 8, second, first,
                                                packed.output, data.size(), dir);
  EXPECT_EQ(unpacked.output, data);
  EXPECT_EQ(unpacked.answer, data.size());
  EXPECT_EQ(codec.CompressedCount(), packed.output.size());
  EXPECT_EQ(unpacked.outputCrc, codec_testing::ZlibCrc(data));
  EXPECT_TRUE(unpacked.guardIntact);
  EXPECT_EQ(codec.StateFlags() & korbel::kCodecPlainCopy, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    AllSides, DeflateRoundTripTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, codec_testing::DataCases().size()),
                       ::testing::ValuesIn(codec_testing::kAllSides)),
    [](const auto& info) {
      return std::string(codec_testing::DataCases()[std::get<0>(info.param)].name) + "_" +
             codec_testing::SideName(std::get<1>(info.param));
    });

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

TEST(DeflateCodecTest, RandomDataExpandsAndZerosDoNot) {
  testing_support::TempDir dir;
  DeflateCodec codec;
  codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory, SideType::kFunction,
                          testing_support::RandomBytes(1 << 20, 5), 0, dir);
  EXPECT_EQ(codec.StateFlags() & korbel::kCodecExpanded, korbel::kCodecExpanded);
  EXPECT_GT(codec.CompressedCount(), codec.UncompressedCount());
  codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory, SideType::kFunction,
                          Bytes(1 << 20, 0), 0, dir);
  EXPECT_EQ(codec.StateFlags() & korbel::kCodecExpanded, 0u);
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
    ExpectFailure([&] {
      codec_testing::RunCodec(codec, Direction::kDecompress, mode, SideType::kMemory,
                              SideType::kFunction, packed, 0, dir);
    }, 5, kBadMode);
    EXPECT_EQ(codec.FailureKind(), 5) << mode;
    EXPECT_EQ(codec.Mode(), mode);
  }
}

TEST(DeflateCodecTest, CompressingIntoAnAreaOneByteShortFails) {
  const Bytes data = testing_support::RandomBytes(100000, 9);
  testing_support::TempDir dir;
  DeflateCodec codec;
  const std::size_t full = codec_testing::RunCodec(codec, Direction::kCompress, 6,
                                                   SideType::kMemory, SideType::kMemory, data,
                                                   codec_testing::CompressedRoom(data.size()), dir)
                               .output.size();
  codec_testing::Sides sides(dir, "short");
  sides.ConnectInput(codec, SideType::kMemory, data);
  sides.ConnectOutput(codec, SideType::kMemory, full - 1);
  ExpectFailure([&] { codec.Compress(6); }, 3, kAreaFull);
  EXPECT_EQ(codec.FailureKind(), 3);
  EXPECT_EQ(codec.CompressedCount(), full - 1);
  EXPECT_GT(codec.UncompressedCount(), 0u);
  EXPECT_LE(codec.UncompressedCount(), data.size());
  EXPECT_TRUE(sides.GuardIntact());
}

TEST(DeflateCodecTest, InflatingIntoAnAreaOneByteShortFails) {
  const Bytes data = testing_support::TextBytes(100000);
  const Bytes packed = ReferenceDeflate(data, 9);
  testing_support::TempDir dir;
  DeflateCodec codec;
  codec_testing::Sides sides(dir, "short");
  sides.ConnectInput(codec, SideType::kMemory, packed);
  sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
  ExpectFailure([&] { codec.Decompress(8); }, 3, kAreaFull);
  EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
  EXPECT_TRUE(sides.GuardIntact());
  const Bytes kept = sides.Output();
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), data.begin()));
}

TEST(DeflateCodecTest, CorruptStreamsFailWithKindSix) {
  const Bytes good = ReferenceDeflate(testing_support::TextBytes(50000), 9);
  Bytes cutShort(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
  Bytes missingLastByte(good.begin(), good.end() - 1);
  const struct {
    const char* name;
    Bytes stream;
  } cases[] = {
      {"empty", Bytes()},
      {"reserved block type", Bytes{0x07, 0x00, 0x00}},            // BFINAL 1, BTYPE 11
      {"stored length mismatch", Bytes{0x01, 0x05, 0x00, 0x05, 0x00, 'a'}},  // NLEN != ~LEN
      {"distance before the start", Bytes{0x03, 0x02, 0x00}},  // fixed block: length 3, distance 1 first
      {"cut in half", cutShort},
      {"last byte missing", missingLastByte},
  };
  for (const auto& c : cases) {
    for (const SideType out : {SideType::kMemory, SideType::kFunction}) {
      testing_support::TempDir dir;
      DeflateCodec codec;
      codec_testing::Sides sides(dir, "bad");
      sides.ConnectInput(codec, SideType::kMemory, c.stream);
      sides.ConnectOutput(codec, out, 200000);
      ExpectFailure([&] { codec.Decompress(8); }, 6, kBadData);
      EXPECT_EQ(codec.FailureKind(), 6) << c.name;
      EXPECT_TRUE(sides.GuardIntact()) << c.name;
    }
  }
}

TEST(DeflateCodecTest, SideFailuresGiveKindsOneAndTwo) {
  const Bytes data = testing_support::RandomBytes(100000, 2);
  const Bytes packed = ReferenceDeflate(data, 9);
  testing_support::TempDir dir;
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    const Bytes& input = direction == Direction::kCompress ? data : packed;
    const int argument = direction == Direction::kCompress ? 9 : 8;
    {
      DeflateCodec codec;
      codec_testing::Sides sides(dir, "read");
      sides.ConnectInput(codec, SideType::kFunction, input);
      sides.Source().failAfter = 5000;
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(argument) : codec.Decompress(argument);
      }, 1, "Fehler beim Lesen aus Datei !");
    }
    {
      DeflateCodec codec;
      codec_testing::Sides sides(dir, "write");
      sides.ConnectInput(codec, SideType::kMemory, input);
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      sides.Sink().refuse = true;
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(argument) : codec.Decompress(argument);
      }, 2, "Fehler beim Schreiben in Datei !");
    }
  }
}

TEST(DeflateCodecTest, RunsAfterAFailureStartClean) {
  const Bytes data = testing_support::TextBytes(60000);
  const Bytes packed = ReferenceDeflate(data, 9);
  testing_support::TempDir dir;
  DeflateCodec codec;
  Bytes damaged = packed;
  damaged.resize(damaged.size() / 3);
  EXPECT_THROW(codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                       SideType::kFunction, damaged, 0, dir),
               CodecFailure);
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                           SideType::kFunction, packed, 0, dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(codec.FailureKind(), 0);
  codec.ReleaseBuffers();
  const auto again = codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory,
                                             SideType::kFunction, data, 0, dir);
  EXPECT_EQ(again.output, packed);
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
  {
    DeflateCodec codec;
    codec_testing::Sides sides(dir, "short");
    sides.ConnectInput(codec, SideType::kMemory, packed);
    sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
    ExpectFailure([&] { codec.Decompress(9); }, 3, kAreaFull);
    EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
  {
    DeflateCodec codec;
    codec_testing::Sides sides(dir, "refuse");
    sides.ConnectInput(codec, SideType::kMemory, packed);
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    sides.Sink().refuse = true;
    ExpectFailure([&] { codec.Decompress(9); }, 2, "Fehler beim Schreiben in Datei !");
  }
  {
    DeflateCodec codec;
    codec_testing::Sides sides(dir, "read");
    sides.ConnectInput(codec, SideType::kFunction, packed);
    sides.Source().failAfter = 10000;
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    ExpectFailure([&] { codec.Decompress(9); }, 1, "Fehler beim Lesen aus Datei !");
  }
  for (const Bytes& bad : {Bytes{0x07, 0x00}, Bytes(packed.begin(), packed.begin() + 3000)}) {
    DeflateCodec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, SideType::kMemory, bad);
    sides.ConnectOutput(codec, SideType::kMemory, data.size());
    ExpectFailure([&] { codec.Decompress(9); }, 6, kBadData);
    EXPECT_TRUE(sides.GuardIntact());
  }
}

// ---- Streams of independent tools ---------------------------------------------

TEST(DeflateCodecTest, InflatesWhatInfoZipWrites) {
  CODEC_REQUIRE_TOOL("zip");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(300000);
  ASSERT_TRUE(testing_support::WriteFile(dir / "source.txt", data));
  ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(dir.Path()) +
                                        " && zip -q -X -9 out.zip source.txt"),
            0);
  const auto entry = codec_testing::FirstEntry(testing_support::ReadFile(dir / "out.zip"));
  ASSERT_TRUE(entry.ok);
  ASSERT_EQ(entry.method, 8);
  DeflateCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                           SideType::kFunction, entry.data, 0, dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(run.outputCrc, entry.crc);
}

TEST(DeflateCodecTest, InflatesWhatPythonZlibWritesAndTheReverse) {
  CODEC_REQUIRE_TOOL("python3");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(250000);
  ASSERT_TRUE(testing_support::WriteFile(dir / "plain", data));
  // Arguments: pack|unpack, then (level, source, target) triples.
  const std::string script =
      "import sys, zlib\n"
      "args = sys.argv[2:]\n"
      "for i in range(0, len(args), 3):\n"
      "    level, src, dst = int(args[i]), args[i + 1], args[i + 2]\n"
      "    raw = open(src, 'rb').read()\n"
      "    if sys.argv[1] == 'pack':\n"
      "        c = zlib.compressobj(level, zlib.DEFLATED, -15)\n"
      "        out = c.compress(raw) + c.flush()\n"
      "    else:\n"
      "        d = zlib.decompressobj(-15)\n"
      "        out = d.decompress(raw)\n"
      "        if not d.eof or d.unused_data: sys.exit(3)\n"
      "    open(dst, 'wb').write(out)\n";
  const int levels[] = {1, 6, 9};
  std::string packArguments = "pack";
  std::string unpackArguments = "unpack";
  DeflateCodec codec;
  for (const int level : levels) {
    const std::string name = std::to_string(level);
    packArguments += " " + name + " " + testing_support::Quote(dir / "plain") + " " +
                     testing_support::Quote(dir / ("python" + name));
    const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, level,
                                                SideType::kMemory, SideType::kFunction, data, 0, dir);
    ASSERT_TRUE(testing_support::WriteFile(dir / ("ours" + name), packed.output));
    unpackArguments += " 0 " + testing_support::Quote(dir / ("ours" + name)) + " " +
                       testing_support::Quote(dir / ("back" + name));
  }
  ASSERT_TRUE(codec_testing::RunPython(dir, script, packArguments));
  ASSERT_TRUE(codec_testing::RunPython(dir, script, unpackArguments));
  for (const int level : levels) {
    const std::string name = std::to_string(level);
    EXPECT_EQ(testing_support::ReadFile(dir / ("back" + name)), data) << level;
    const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, 8,
                                                  SideType::kMemory, SideType::kMemory,
                                                  testing_support::ReadFile(dir / ("python" + name)),
                                                  data.size(), dir);
    EXPECT_EQ(unpacked.output, data) << level;
  }
}

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
