#include "zip/codec/lzma_codec.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <string>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::CodecFailure;
using korbel::LzmaCodec;

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

// liblzma's raw decoder called directly on the data after a zip header:
// `eopm` says whether the end marker must be there.
Bytes ReferenceUnpack(const Bytes& zipStream, std::size_t size, bool eopm) {
  EXPECT_GE(zipStream.size(), 9u);
  EXPECT_EQ(zipStream[0], 9);
  EXPECT_EQ(zipStream[1], 20);
  EXPECT_EQ(zipStream[2], 5);
  EXPECT_EQ(zipStream[3], 0);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  EXPECT_EQ(lzma_properties_decode(&filters[0], nullptr, zipStream.data() + 4, 5), LZMA_OK);
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  const std::uint64_t declared = eopm ? UINT64_MAX : size;
  options->ext_flags = 0;
  options->ext_size_low = static_cast<std::uint32_t>(declared);
  options->ext_size_high = static_cast<std::uint32_t>(declared >> 32);
  lzma_stream zs = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_decoder(&zs, filters), LZMA_OK);
  Bytes out(size + 1);
  zs.next_in = zipStream.data() + 9;
  zs.avail_in = zipStream.size() - 9;
  zs.next_out = out.data();
  zs.avail_out = out.size();
  EXPECT_EQ(lzma_code(&zs, LZMA_FINISH), LZMA_STREAM_END);
  EXPECT_EQ(zs.avail_in, 0u);
  out.resize(zs.total_out);
  lzma_end(&zs);
  free(filters[0].options);
  return out;
}

class LzmaRoundTripTest : public ::testing::TestWithParam<std::tuple<std::size_t, SideType>> {};

TEST_P(LzmaRoundTripTest, CompressesAndUnpacksBack) {
  const auto& data = codec_testing::DataCases()[std::get<0>(GetParam())].data;
  const SideType first = std::get<1>(GetParam());
  const SideType second = codec_testing::NextSide(first);
  const int level = 1 + 2 * static_cast<int>(first);  // 1, 3, 5, 7
  // Half the cases know the size (no end marker), half do not.
  const bool sizeKnown = static_cast<int>(first) % 2 == 1;
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(LzmaCodec::kZipMode);
  codec.SetUncompressedSize(sizeKnown ? static_cast<std::int64_t>(data.size()) : -1);

  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, level, first, second,
                                              data, codec_testing::CompressedRoom(data.size()), dir);
  EXPECT_EQ(packed.answer, packed.output.size());
  EXPECT_EQ(codec.UncompressedCount(), data.size());
  EXPECT_EQ(packed.inputCrc, codec_testing::ZlibCrc(data));
  EXPECT_EQ(packed.outputCrc, codec_testing::ZlibCrc(packed.output));
  EXPECT_EQ(ReferenceUnpack(packed.output, data.size(), !sizeKnown), data);

  const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, korbel::kOwnMode,
                                                second, first, packed.output, data.size(), dir);
  EXPECT_EQ(unpacked.output, data);
  EXPECT_EQ(unpacked.answer, data.size());
  EXPECT_EQ(unpacked.outputCrc, codec_testing::ZlibCrc(data));
  EXPECT_TRUE(unpacked.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(
    AllSides, LzmaRoundTripTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, codec_testing::DataCases().size()),
                       ::testing::ValuesIn(codec_testing::kAllSides)),
    [](const auto& info) {
      return std::string(codec_testing::DataCases()[std::get<0>(info.param)].name) + "_" +
             codec_testing::SideName(std::get<1>(info.param));
    });

TEST(LzmaCodecTest, ModeBitsChooseTheHeaderParts) {
  const Bytes data = testing_support::TextBytes(5000);
  testing_support::TempDir dir;
  const struct {
    int mode;
    std::size_t headerSize;
  } cases[] = {{1, 9}, {2, 5}, {3, 9}, {6, 13}, {7, 17}};
  for (const auto& c : cases) {
    LzmaCodec codec;
    codec.SetMode(c.mode);
    codec.SetUncompressedSize(static_cast<std::int64_t>(data.size()));
    const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory,
                                                SideType::kFunction, data, 0, dir);
    LzmaCodec raw;
    raw.SetMode(0);
    raw.SetUncompressedSize(static_cast<std::int64_t>(data.size()));
    const auto bare = codec_testing::RunCodec(raw, Direction::kCompress, 5, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
    ASSERT_EQ(packed.output.size(), bare.output.size() + c.headerSize) << c.mode;
    EXPECT_TRUE(std::equal(bare.output.begin(), bare.output.end(),
                           packed.output.begin() + static_cast<std::ptrdiff_t>(c.headerSize)));
    if (c.mode & LzmaCodec::kSizeField) {
      EXPECT_EQ(codec_testing::Le(packed.output, c.headerSize - 8, 4), data.size());
      EXPECT_EQ(codec_testing::Le(packed.output, c.headerSize - 4, 4), 0u);
    }
    // With the size field a decoder told nothing about the size reads it there.
    LzmaCodec reader;
    reader.SetUncompressedSize((c.mode & LzmaCodec::kSizeField) ? -1
                                                                : static_cast<std::int64_t>(data.size()));
    const auto back = codec_testing::RunCodec(reader, Direction::kDecompress, c.mode,
                                              SideType::kMemory, SideType::kFunction,
                                              packed.output, 0, dir);
    EXPECT_EQ(back.output, data) << c.mode;
    EXPECT_EQ(reader.CompressedCount(), packed.output.size()) << c.mode;
  }
}

TEST(LzmaCodecTest, UnknownSizeWritesTheSizeFieldAsAllOnes) {
  const Bytes data = testing_support::TextBytes(3000);
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(7);
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 3, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  EXPECT_EQ(codec_testing::Le(packed.output, 9, 4), 0xFFFFFFFFu);
  EXPECT_EQ(codec_testing::Le(packed.output, 13, 4), 0xFFFFFFFFu);
  LzmaCodec reader;
  reader.SetUncompressedSize(123);  // the field overrides it
  const auto back = codec_testing::RunCodec(reader, Direction::kDecompress, 7, SideType::kMemory,
                                            SideType::kFunction, packed.output, 0, dir);
  EXPECT_EQ(back.output, data);
}

TEST(LzmaCodecTest, AKnownSizeStopsTheDecoderThere) {
  const Bytes data = testing_support::TextBytes(80000);
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(3);
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 6, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{50000}, data.size()}) {
    LzmaCodec reader;
    reader.SetUncompressedSize(static_cast<std::int64_t>(size));
    const auto back = codec_testing::RunCodec(reader, Direction::kDecompress, 3, SideType::kMemory,
                                              SideType::kMemory, packed.output, size, dir);
    EXPECT_EQ(back.output, Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_TRUE(back.guardIntact);
  }
}

TEST(LzmaCodecTest, ExpansionFlagFollowsTheCounts) {
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(3);
  codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory, SideType::kFunction,
                          testing_support::RandomBytes(1 << 20, 5), 0, dir);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecExpanded);
  codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory, SideType::kFunction,
                          Bytes(1 << 20, 0), 0, dir);
  EXPECT_EQ(codec.StateFlags(), 0u);
  codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory, SideType::kFunction,
                          Bytes(), 0, dir);
  EXPECT_EQ(codec.StateFlags(), korbel::kCodecExpanded);
}

TEST(LzmaCodecTest, BrokenStreamsFailWithTheirKinds) {
  const Bytes data = testing_support::TextBytes(100000);
  testing_support::TempDir dir;
  LzmaCodec packer;
  packer.SetMode(3);
  const Bytes good = codec_testing::RunCodec(packer, Direction::kCompress, 5, SideType::kMemory,
                                             SideType::kFunction, data, 0, dir)
                         .output;
  Bytes smallPropertySize = good;
  smallPropertySize[2] = 4;
  Bytes badProperties = good;
  badProperties[4] = 0xFF;  // lc/lp/pb beyond 224
  Bytes badFirstByte = good;
  badFirstByte[9] = 0x80;  // the range coder's first byte is always 0
  const struct {
    const char* name;
    Bytes stream;
    int kind;
    const char* text;
  } cases[] = {
      {"empty", Bytes(), 1, "Fehler beim Lesen"},
      {"header cut", Bytes(good.begin(), good.begin() + 2), 1, "Fehler beim Lesen"},
      {"properties cut", Bytes(good.begin(), good.begin() + 7), 1, "Fehler beim Lesen"},
      {"property size 4", smallPropertySize, 6, "Formatfehler"},
      {"bad properties", badProperties, 6, "Formatfehler"},
      {"bad first byte", badFirstByte, 6, "Formatfehler"},
      {"cut in half", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)),
       1, "Fehler beim Einlesen"},
  };
  for (const auto& c : cases) {
    LzmaCodec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, SideType::kMemory, c.stream);
    sides.ConnectOutput(codec, SideType::kMemory, data.size());
    ExpectFailure([&] { codec.Decompress(3); }, c.kind, c.text);
    EXPECT_EQ(codec.FailureKind(), c.kind) << c.name;
    EXPECT_TRUE(sides.GuardIntact()) << c.name;
  }
}

TEST(LzmaCodecTest, ExtraPropertyBytesAreSkipped) {
  const Bytes data = testing_support::TextBytes(10000);
  testing_support::TempDir dir;
  LzmaCodec codec;
  codec.SetMode(3);
  Bytes packed = codec_testing::RunCodec(codec, Direction::kCompress, 5, SideType::kMemory,
                                         SideType::kFunction, data, 0, dir)
                     .output;
  // Property size 8: three bytes follow the five real ones.
  packed[2] = 8;
  packed.insert(packed.begin() + 9, {0xEE, 0xEE, 0xEE});
  const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, 3, SideType::kMemory,
                                            SideType::kFunction, packed, 0, dir);
  EXPECT_EQ(back.output, data);
  EXPECT_EQ(codec.CompressedCount(), packed.size());
}

TEST(LzmaCodecTest, OutputFailuresAreWriteFailures) {
  const Bytes data = testing_support::RandomBytes(60000, 6);
  testing_support::TempDir dir;
  LzmaCodec packer;
  packer.SetMode(3);
  const Bytes packed = codec_testing::RunCodec(packer, Direction::kCompress, 5, SideType::kMemory,
                                               SideType::kFunction, data, 0, dir)
                           .output;
  {
    LzmaCodec codec;
    codec_testing::Sides sides(dir, "pack");
    sides.ConnectInput(codec, SideType::kMemory, data);
    sides.ConnectOutput(codec, SideType::kMemory, packed.size() - 1);
    codec.SetMode(3);
    ExpectFailure([&] { codec.Compress(5); }, 2, "Fehler beim Speichern");
    EXPECT_EQ(codec.CompressedCount(), packed.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
  {
    LzmaCodec codec;
    codec_testing::Sides sides(dir, "unpack");
    sides.ConnectInput(codec, SideType::kMemory, packed);
    sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
    ExpectFailure([&] { codec.Decompress(3); }, 2, "Fehler beim Speichern");
    EXPECT_EQ(codec.UncompressedCount(), data.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
  {
    LzmaCodec codec;
    codec_testing::Sides sides(dir, "header");
    sides.ConnectInput(codec, SideType::kMemory, data);
    sides.ConnectOutput(codec, SideType::kMemory, 6);  // the header does not fit
    codec.SetMode(3);
    ExpectFailure([&] { codec.Compress(5); }, 2, "Fehler beim Speichern");
    EXPECT_TRUE(sides.GuardIntact());
  }
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    LzmaCodec codec;
    codec.SetMode(3);
    codec_testing::Sides sides(dir, "refuse");
    sides.ConnectInput(codec, SideType::kMemory, direction == Direction::kCompress ? data : packed);
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    sides.Sink().refuse = true;
    ExpectFailure([&] {
      direction == Direction::kCompress ? codec.Compress(5) : codec.Decompress(3);
    }, 2, "Fehler beim Speichern");
  }
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    LzmaCodec codec;
    codec.SetMode(3);
    codec_testing::Sides sides(dir, "read");
    sides.ConnectInput(codec, SideType::kFunction, direction == Direction::kCompress ? data : packed);
    sides.Source().failAfter = 20;
    sides.ConnectOutput(codec, SideType::kFunction, 0);
    ExpectFailure([&] {
      direction == Direction::kCompress ? codec.Compress(5) : codec.Decompress(3);
    }, 1, "Fehler beim Einlesen");
  }
}

// ---- Streams of independent tools ---------------------------------------------

TEST(LzmaCodecTest, UnpacksSevenZipEntriesAndSevenZipAcceptsOurs) {
  CODEC_REQUIRE_TOOL("7zz");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(400000);
  ASSERT_TRUE(testing_support::WriteFile(dir / "source.txt", data));
  ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(dir.Path()) +
                                        " && 7zz a -tzip -mm=LZMA out.zip source.txt >/dev/null"),
            0);
  const auto entry = codec_testing::FirstEntry(testing_support::ReadFile(dir / "out.zip"));
  ASSERT_TRUE(entry.ok);
  ASSERT_EQ(entry.method, 14);
  LzmaCodec codec;
  codec.SetMode(3);
  for (const std::int64_t size : {static_cast<std::int64_t>(data.size()), std::int64_t{-1}}) {
    codec.SetUncompressedSize(size);
    const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 3, SideType::kMemory,
                                             SideType::kMemory, entry.data, data.size(), dir);
    EXPECT_EQ(run.output, data);
    EXPECT_EQ(run.outputCrc, entry.crc);
  }

  // Ours without the end marker (flag bit 1 clear) and with it (bit 1 set).
  for (const bool marker : {false, true}) {
    codec.SetUncompressedSize(marker ? -1 : static_cast<std::int64_t>(data.size()));
    const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 9, SideType::kMemory,
                                                SideType::kFunction, data, 0, dir);
    const std::string ours = dir / "ours.zip";
    ASSERT_TRUE(testing_support::WriteFile(
        ours, codec_testing::OneEntryZip("source.txt", 14, marker ? 2 : 0, packed.inputCrc,
                                         packed.output, static_cast<std::uint32_t>(data.size()))));
    EXPECT_TRUE(codec_testing::SevenZipAccepts(ours)) << marker;
  }
}

TEST(LzmaCodecTest, PythonReadsOurRawStream) {
  CODEC_REQUIRE_TOOL("python3");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(200000);
  LzmaCodec codec;
  codec.SetMode(3);
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 7, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  ASSERT_TRUE(testing_support::WriteFile(dir / "ours", packed.output));
  const std::string script =
      "import lzma, sys\n"
      "d = sys.argv[1]\n"
      "raw = open(d + '/ours', 'rb').read()\n"
      "if raw[:4] != bytes([9, 20, 5, 0]): sys.exit(2)\n"
      "f = lzma._decode_filter_properties(lzma.FILTER_LZMA1, raw[4:9])\n"
      "out = lzma.decompress(raw[9:], format=lzma.FORMAT_RAW, filters=[f])\n"
      "open(d + '/back', 'wb').write(out)\n";
  ASSERT_TRUE(codec_testing::RunPython(dir, script, testing_support::Quote(dir.Path())));
  EXPECT_EQ(testing_support::ReadFile(dir / "back"), data);
}

}  // namespace
