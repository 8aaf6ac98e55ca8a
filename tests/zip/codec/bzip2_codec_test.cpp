#include "zip/codec/bzip2_codec.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::BZip2Codec;
using korbel::CodecFailure;

const std::string kBadData = "Ung\xFC" "ltiges BZIP Format";
const std::string kAreaFull = "Fehler Speicher\xFC" "berlauf des Ausgabepuffers";

// libbz2 called directly, as the reference.
Bytes ReferenceUnpack(const Bytes& packed, std::size_t expectedSize) {
  Bytes out(expectedSize + 1);
  unsigned length = static_cast<unsigned>(out.size());
  const int result = BZ2_bzBuffToBuffDecompress(
      reinterpret_cast<char*>(out.data()), &length,
      reinterpret_cast<char*>(const_cast<unsigned char*>(packed.data())),
      static_cast<unsigned>(packed.size()), 0, 0);
  EXPECT_EQ(result, BZ_OK);
  out.resize(length);
  return out;
}

Bytes ReferencePack(const Bytes& data, int blockSize) {
  Bytes out(data.size() + data.size() / 100 + 601);
  unsigned length = static_cast<unsigned>(out.size());
  char none = 0;  // the library refuses a null source even for 0 bytes
  char* source = data.empty() ? &none : reinterpret_cast<char*>(const_cast<unsigned char*>(data.data()));
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length, source,
                                     static_cast<unsigned>(data.size()), blockSize, 0, 0),
            BZ_OK);
  out.resize(length);
  return out;
}

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

class BZip2RoundTripTest : public ::testing::TestWithParam<std::tuple<std::size_t, SideType>> {};

TEST_P(BZip2RoundTripTest, CompressesAndUnpacksBack) {
  const auto& data = codec_testing::DataCases()[std::get<0>(GetParam())].data;
  const SideType first = std::get<1>(GetParam());
  const SideType second = codec_testing::NextSide(first);
  const int level = 3 * static_cast<int>(first);  // 0, 3, 6, 9
  testing_support::TempDir dir;
  BZip2Codec codec;

  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, level, first, second,
                                              data, codec_testing::CompressedRoom(data.size()), dir);
  EXPECT_EQ(packed.answer, packed.output.size());
  EXPECT_EQ(codec.UncompressedCount(), data.size());
  EXPECT_EQ(codec.Mode(), 8);
  EXPECT_EQ(packed.inputCrc, codec_testing::ZlibCrc(data));
  EXPECT_EQ(packed.outputCrc, codec_testing::ZlibCrc(packed.output));
  // The level is the block size; level 0 still compresses, with the smallest.
  EXPECT_EQ(packed.output, ReferencePack(data, level == 0 ? 1 : level));
  EXPECT_EQ(ReferenceUnpack(packed.output, data.size()), data);

  const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, 8, second, first,
                                                packed.output, data.size(), dir);
  EXPECT_EQ(unpacked.output, data);
  EXPECT_EQ(unpacked.answer, data.size());
  EXPECT_EQ(codec.CompressedCount(), packed.output.size());
  EXPECT_EQ(unpacked.outputCrc, codec_testing::ZlibCrc(data));
  EXPECT_TRUE(unpacked.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(
    AllSides, BZip2RoundTripTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, codec_testing::DataCases().size()),
                       ::testing::ValuesIn(codec_testing::kAllSides)),
    [](const auto& info) {
      return std::string(codec_testing::DataCases()[std::get<0>(info.param)].name) + "_" +
             codec_testing::SideName(std::get<1>(info.param));
    });

TEST(BZip2CodecTest, ExpansionFlagFollowsTheCounts) {
  testing_support::TempDir dir;
  BZip2Codec codec;
  codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory, SideType::kFunction,
                          testing_support::RandomBytes(1 << 20, 5), 0, dir);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecExpanded);
  codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory, SideType::kFunction,
                          Bytes(1 << 20, 0), 0, dir);
  EXPECT_EQ(codec.StateFlags(), 0u);
}

TEST(BZip2CodecTest, ModeZeroCopiesAndOtherModesFail) {
  const Bytes data = testing_support::TextBytes(20000);
  testing_support::TempDir dir;
  BZip2Codec codec;
  const auto copied = codec_testing::RunCodec(codec, Direction::kDecompress, 0, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  EXPECT_EQ(copied.output, data);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecPlainCopy);
  for (const int mode : {5, 9, 1}) {
    ExpectFailure([&] {
      codec_testing::RunCodec(codec, Direction::kDecompress, mode, SideType::kMemory,
                              SideType::kFunction, data, 0, dir);
    }, 5, "Falscher Modus beim Entkomprimieren !");
  }
}

TEST(BZip2CodecTest, CorruptStreamsFailWithKindSix) {
  const Bytes data = testing_support::TextBytes(120000);
  const Bytes good = ReferencePack(data, 9);
  Bytes badMagic = good;
  badMagic[0] = 'C';
  Bytes badBlockSize = good;
  badBlockSize[3] = '0';
  Bytes flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  const struct {
    const char* name;
    Bytes stream;
  } cases[] = {
      {"empty", Bytes()},
      {"wrong magic", badMagic},
      {"block size 0", badBlockSize},
      {"flipped bit", flipped},
      {"cut in half", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2))},
      {"last byte missing", Bytes(good.begin(), good.end() - 1)},
  };
  for (const auto& c : cases) {
    testing_support::TempDir dir;
    BZip2Codec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, SideType::kMemory, c.stream);
    // Damaged data may well decode to more bytes than the original had.
    sides.ConnectOutput(codec, SideType::kMemory, 2 * data.size());
    ExpectFailure([&] { codec.Decompress(8); }, 6, kBadData);
    EXPECT_EQ(codec.FailureKind(), 6) << c.name;
    EXPECT_TRUE(sides.GuardIntact()) << c.name;
  }
}

TEST(BZip2CodecTest, TooSmallAreasFailWithKindThree) {
  const Bytes data = testing_support::RandomBytes(60000, 12);
  const Bytes packed = ReferencePack(data, 9);
  testing_support::TempDir dir;
  {
    BZip2Codec codec;
    codec_testing::Sides sides(dir, "pack");
    sides.ConnectInput(codec, SideType::kMemory, data);
    sides.ConnectOutput(codec, SideType::kMemory, packed.size() - 1);
    ExpectFailure([&] { codec.Compress(9); }, 3, kAreaFull);
    EXPECT_EQ(codec.CompressedCount(), packed.size() - 1);
    EXPECT_EQ(codec.UncompressedCount(), data.size());
    EXPECT_TRUE(sides.GuardIntact());
  }
  {
    BZip2Codec codec;
    codec_testing::Sides sides(dir, "unpack");
    sides.ConnectInput(codec, SideType::kMemory, packed);
    sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
    ExpectFailure([&] { codec.Decompress(8); }, 3, kAreaFull);
    EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
}

TEST(BZip2CodecTest, SideFailuresGiveKindsOneAndTwo) {
  const Bytes data = testing_support::RandomBytes(100000, 3);
  const Bytes packed = ReferencePack(data, 9);
  testing_support::TempDir dir;
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    const Bytes& input = direction == Direction::kCompress ? data : packed;
    const int argument = direction == Direction::kCompress ? 9 : 8;
    {
      BZip2Codec codec;
      codec_testing::Sides sides(dir, "read");
      sides.ConnectInput(codec, SideType::kFunction, input);
      sides.Source().failAfter = 30000;
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(argument) : codec.Decompress(argument);
      }, 1, "Fehler beim Lesen");
    }
    {
      BZip2Codec codec;
      codec_testing::Sides sides(dir, "write");
      sides.ConnectInput(codec, SideType::kMemory, input);
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      sides.Sink().refuse = true;
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(argument) : codec.Decompress(argument);
      }, 2, "Fehler beim Schreiben in die Datei");
    }
  }
}

TEST(BZip2CodecTest, ReleasedBuffersComeBackForTheNextRun) {
  const Bytes data = testing_support::TextBytes(70000);
  testing_support::TempDir dir;
  BZip2Codec codec;
  const auto first = codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory,
                                             SideType::kFunction, data, 0, dir);
  codec.ReleaseBuffers();
  EXPECT_EQ(codec.Level(), 5);
  const auto second = codec_testing::RunCodec(codec, Direction::kCompress, korbel::kKeepLevel,
                                              SideType::kMemory, SideType::kFunction, data, 0, dir);
  EXPECT_EQ(second.output, first.output);
  codec.ReleaseBuffers();
  const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                            SideType::kFunction, second.output, 0, dir);
  EXPECT_EQ(back.output, data);
}

// ---- Streams of independent tools ---------------------------------------------

TEST(BZip2CodecTest, UnpacksSevenZipEntriesAndSevenZipAcceptsOurs) {
  CODEC_REQUIRE_TOOL("7zz");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(400000);
  ASSERT_TRUE(testing_support::WriteFile(dir / "source.txt", data));
  ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(dir.Path()) +
                                        " && 7zz a -tzip -mm=BZip2 out.zip source.txt >/dev/null"),
            0);
  const auto entry = codec_testing::FirstEntry(testing_support::ReadFile(dir / "out.zip"));
  ASSERT_TRUE(entry.ok);
  ASSERT_EQ(entry.method, 12);
  BZip2Codec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                           SideType::kMemory, entry.data, data.size(), dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(run.outputCrc, entry.crc);

  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  const std::string ours = dir / "ours.zip";
  ASSERT_TRUE(testing_support::WriteFile(
      ours, codec_testing::OneEntryZip("source.txt", 12, 0, packed.inputCrc, packed.output,
                                       static_cast<std::uint32_t>(data.size()))));
  EXPECT_TRUE(codec_testing::SevenZipAccepts(ours));
}

TEST(BZip2CodecTest, PythonReadsOursAndWeReadPythons) {
  CODEC_REQUIRE_TOOL("python3");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(300000);
  BZip2Codec codec;
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 4, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  ASSERT_TRUE(testing_support::WriteFile(dir / "ours.bz2", packed.output));
  ASSERT_TRUE(testing_support::WriteFile(dir / "plain", data));
  const std::string script =
      "import bz2, sys\n"
      "d = sys.argv[1]\n"
      "open(d + '/back', 'wb').write(bz2.decompress(open(d + '/ours.bz2', 'rb').read()))\n"
      "open(d + '/python.bz2', 'wb').write(bz2.compress(open(d + '/plain', 'rb').read(), 7))\n";
  ASSERT_TRUE(codec_testing::RunPython(dir, script, testing_support::Quote(dir.Path())));
  EXPECT_EQ(testing_support::ReadFile(dir / "back"), data);
  const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, 8,
                                                SideType::kMemory, SideType::kFunction,
                                                testing_support::ReadFile(dir / "python.bz2"), 0,
                                                dir);
  EXPECT_EQ(unpacked.output, data);
}

}  // namespace
