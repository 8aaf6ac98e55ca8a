#include "zip/codec/xz_codec.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::CodecFailure;
using korbel::XzCodec;

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

// liblzma's one-call decoder, as the reference.
Bytes ReferenceUnpack(const Bytes& packed, std::size_t expectedSize) {
  Bytes out(expectedSize + 1);
  std::uint64_t memoryLimit = UINT64_MAX;
  std::size_t inPosition = 0;
  std::size_t outPosition = 0;
  EXPECT_EQ(lzma_stream_buffer_decode(&memoryLimit, 0, nullptr, packed.data(), &inPosition,
                                      packed.size(), out.data(), &outPosition, out.size()),
            LZMA_OK);
  EXPECT_EQ(inPosition, packed.size());
  out.resize(outPosition);
  return out;
}

Bytes ReferencePack(const Bytes& data, lzma_check check) {
  Bytes out(lzma_stream_buffer_bound(data.size()));
  std::size_t outPosition = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(6, check, nullptr, data.data(), data.size(), out.data(),
                                    &outPosition, out.size()),
            LZMA_OK);
  out.resize(outPosition);
  return out;
}

class XzRoundTripTest : public ::testing::TestWithParam<std::tuple<std::size_t, SideType>> {};

TEST_P(XzRoundTripTest, CompressesAndUnpacksBack) {
  const auto& data = codec_testing::DataCases()[std::get<0>(GetParam())].data;
  const SideType first = std::get<1>(GetParam());
  const SideType second = codec_testing::NextSide(first);
  testing_support::TempDir dir;
  XzCodec codec;

  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 9, first, second, data,
                                              codec_testing::CompressedRoom(data.size()), dir);
  EXPECT_EQ(packed.answer, packed.output.size());
  EXPECT_EQ(codec.UncompressedCount(), data.size());
  EXPECT_EQ(packed.inputCrc, codec_testing::ZlibCrc(data));
  EXPECT_EQ(packed.outputCrc, codec_testing::ZlibCrc(packed.output));
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
    AllSides, XzRoundTripTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, codec_testing::DataCases().size()),
                       ::testing::ValuesIn(codec_testing::kAllSides)),
    [](const auto& info) {
      return std::string(codec_testing::DataCases()[std::get<0>(info.param)].name) + "_" +
             codec_testing::SideName(std::get<1>(info.param));
    });

TEST(XzCodecTest, LevelIsKeptButTheDefaultSettingsAreUsed) {
  const Bytes data = testing_support::TextBytes(100000);
  testing_support::TempDir dir;
  XzCodec codec;
  const auto fast = codec_testing::RunCodec(codec, Direction::kCompress, 1, SideType::kMemory,
                                            SideType::kFunction, data, 0, dir);
  EXPECT_EQ(codec.Level(), 1);
  const auto clamped = codec_testing::RunCodec(codec, Direction::kCompress, 40, SideType::kMemory,
                                               SideType::kFunction, data, 0, dir);
  EXPECT_EQ(codec.Level(), 9);
  EXPECT_EQ(fast.output, clamped.output);
  // Behind the 12-byte stream header, the block header (size byte, flags)
  // names the LZMA2 filter (0x21) with one property byte: the dictionary
  // size, 22 for the default 8 MiB (level 1 would give 1 MiB, 9 64 MiB).
  ASSERT_GT(fast.output.size(), 17u);
  EXPECT_EQ(fast.output[14], 0x21);
  EXPECT_EQ(fast.output[15], 0x01);
  EXPECT_EQ(fast.output[16], 22);
  EXPECT_EQ(ReferenceUnpack(fast.output, data.size()), data);
}

TEST(XzCodecTest, ExpansionFlagFollowsTheCounts) {
  testing_support::TempDir dir;
  XzCodec codec;
  codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory, SideType::kFunction,
                          testing_support::RandomBytes(1 << 20, 5), 0, dir);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecExpanded);
  codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory, SideType::kFunction,
                          Bytes(1 << 20, 0), 0, dir);
  EXPECT_EQ(codec.StateFlags(), 0u);
}

TEST(XzCodecTest, BrokenStreamsFailWithTheTableKinds) {
  const Bytes data = testing_support::TextBytes(200000);
  const Bytes good = ReferencePack(data, LZMA_CHECK_CRC64);
  Bytes damagedData = good;
  damagedData[good.size() / 2] ^= 0x55;
  // The stream ends with the block's CRC-64, a 12-byte index and the
  // 12-byte footer. liblzma reports a wrong check value as a data error.
  Bytes damagedCheck = good;
  damagedCheck[good.size() - 24 - 1] ^= 0x01;
  const struct {
    const char* name;
    Bytes stream;
    int kind;
    const char* text;
  } cases[] = {
      {"not xz", testing_support::TextBytes(5000), 6, "Falsches Archivformat"},
      {"damaged data", damagedData, 3, "Datenfehler"},
      {"damaged check", damagedCheck, 3, "Datenfehler"},
      {"cut in half", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)),
       4, "Ende der Eingabe erreicht"},
      {"footer missing", Bytes(good.begin(), good.end() - 12), 4, "Ende der Eingabe erreicht"},
      {"empty", Bytes(), 4, "Ende der Eingabe erreicht"},
  };
  for (const auto& c : cases) {
    testing_support::TempDir dir;
    XzCodec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, SideType::kMemory, c.stream);
    sides.ConnectOutput(codec, SideType::kMemory, 2 * data.size());
    ExpectFailure([&] { codec.Decompress(8); }, c.kind, c.text);
    EXPECT_EQ(codec.FailureKind(), c.kind) << c.name;
    EXPECT_TRUE(sides.GuardIntact()) << c.name;
  }
}

TEST(XzCodecTest, SideFailuresFollowTheTable) {
  const Bytes data = testing_support::RandomBytes(200000, 31);
  const Bytes packed = ReferencePack(data, LZMA_CHECK_CRC32);
  testing_support::TempDir dir;
  {
    XzCodec codec;
    codec_testing::Sides sides(dir, "full");
    sides.ConnectInput(codec, SideType::kMemory, packed);
    sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
    ExpectFailure([&] { codec.Decompress(8); }, 2, "Ende der Ausgabe erreicht");
    EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
  {
    XzCodec codec;
    codec_testing::Sides sides(dir, "packfull");
    sides.ConnectInput(codec, SideType::kMemory, data);
    sides.ConnectOutput(codec, SideType::kMemory, packed.size() - 1);
    ExpectFailure([&] { codec.Compress(6); }, 2, "Ende der Ausgabe erreicht");
    EXPECT_EQ(codec.CompressedCount(), packed.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    const Bytes& input = direction == Direction::kCompress ? data : packed;
    // A read that fails at once is a read error; one that fails later is
    // the end of the input.
    const struct {
      std::size_t failAfter;
      int kind;
      const char* text;
    } reads[] = {{0, 1, "Lesefehler"}, {40000, 4, "Ende der Eingabe erreicht"}};
    for (const auto& read : reads) {
      XzCodec codec;
      codec_testing::Sides sides(dir, "read");
      sides.ConnectInput(codec, SideType::kFunction, input);
      sides.Source().failAfter = read.failAfter;
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(6) : codec.Decompress(8);
      }, read.kind, read.text);
    }
    XzCodec codec;
    codec_testing::Sides sides(dir, "write");
    sides.ConnectInput(codec, SideType::kMemory, input);
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    sides.Sink().refuse = true;
    ExpectFailure([&] {
      direction == Direction::kCompress ? codec.Compress(6) : codec.Decompress(8);
    }, 2, "Schreibfehler");
  }
}

TEST(XzCodecTest, DataBehindTheStreamIsLeftAlone) {
  const Bytes data = testing_support::TextBytes(30000);
  Bytes packed = ReferencePack(data, LZMA_CHECK_SHA256);
  const std::size_t streamSize = packed.size();
  packed.insert(packed.end(), 100, 0x77);
  testing_support::TempDir dir;
  XzCodec codec;
  const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 8, SideType::kMemory,
                                           SideType::kFunction, packed, 0, dir);
  EXPECT_EQ(run.output, data);
  EXPECT_EQ(codec.CompressedCount(), streamSize);
}

// ---- Streams of an independent tool ---------------------------------------------

TEST(XzCodecTest, UnpacksWhatPythonWritesAndPythonReadsOurs) {
  CODEC_REQUIRE_TOOL("python3");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(300000);
  ASSERT_TRUE(testing_support::WriteFile(dir / "plain", data));
  XzCodec codec;
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  ASSERT_TRUE(testing_support::WriteFile(dir / "ours.xz", packed.output));
  const char* const checks[] = {"CHECK_NONE", "CHECK_CRC32", "CHECK_CRC64", "CHECK_SHA256"};
  std::string script =
      "import lzma, sys\n"
      "d = sys.argv[1]\n"
      "raw = open(d + '/plain', 'rb').read()\n"
      "open(d + '/back', 'wb').write(lzma.decompress(open(d + '/ours.xz', 'rb').read(),"
      " format=lzma.FORMAT_XZ))\n";
  for (const char* check : checks) {
    script += std::string("open(d + '/") + check + "', 'wb').write(lzma.compress(raw, "
              "format=lzma.FORMAT_XZ, check=lzma." + check + ", preset=3))\n";
  }
  ASSERT_TRUE(codec_testing::RunPython(dir, script, testing_support::Quote(dir.Path())));
  EXPECT_EQ(testing_support::ReadFile(dir / "back"), data);
  for (const char* check : checks) {
    const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, 8,
                                                  SideType::kFunction, SideType::kMemory,
                                                  testing_support::ReadFile(dir / check),
                                                  data.size(), dir);
    EXPECT_EQ(unpacked.output, data) << check;
  }
}

}  // namespace
