#include "zip/codec/ppmd_codec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::CodecFailure;
using korbel::PpmdCodec;

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

class PpmdRoundTripTest : public ::testing::TestWithParam<std::tuple<std::size_t, SideType>> {};

TEST_P(PpmdRoundTripTest, CompressesAndUnpacksBack) {
  const auto& data = codec_testing::DataCases()[std::get<0>(GetParam())].data;
  const SideType first = std::get<1>(GetParam());
  const SideType second = codec_testing::NextSide(first);
  const int level = 1 + 2 * static_cast<int>(first);  // 1, 3, 5, 7
  testing_support::TempDir dir;
  PpmdCodec codec;
  codec.SetMode(PpmdCodec::kZipHeader);

  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, level, first, second,
                                              data, codec_testing::CompressedRoom(data.size()), dir);
  EXPECT_EQ(packed.answer, packed.output.size());
  EXPECT_EQ(codec.UncompressedCount(), data.size());
  EXPECT_EQ(packed.inputCrc, codec_testing::ZlibCrc(data));
  EXPECT_EQ(packed.outputCrc, codec_testing::ZlibCrc(packed.output));
  ASSERT_GE(packed.output.size(), 2u);
  // The header: order - 1, memory in MiB - 1, restore method 0.
  const unsigned header = codec_testing::Le(packed.output, 0, 2);
  EXPECT_EQ(header & 0x0F, static_cast<unsigned>(16 - level - 1));
  EXPECT_EQ((header >> 4) & 0xFF, static_cast<unsigned>(level + 7 - 1));
  EXPECT_EQ(header >> 12, 0u);
  if (second == SideType::kFunction) {
    EXPECT_EQ(packed.endCalls, 1);
  }

  const auto unpacked = codec_testing::RunCodec(codec, Direction::kDecompress, 1, second, first,
                                                packed.output, data.size(), dir);
  EXPECT_EQ(unpacked.output, data);
  EXPECT_EQ(unpacked.answer, data.size());
  EXPECT_EQ(codec.CompressedCount(), packed.output.size());
  EXPECT_EQ(unpacked.outputCrc, codec_testing::ZlibCrc(data));
  EXPECT_TRUE(unpacked.guardIntact);
}

INSTANTIATE_TEST_SUITE_P(
    AllSides, PpmdRoundTripTest,
    ::testing::Combine(::testing::Range<std::size_t>(0, codec_testing::DataCases().size()),
                       ::testing::ValuesIn(codec_testing::kAllSides)),
    [](const auto& info) {
      return std::string(codec_testing::DataCases()[std::get<0>(info.param)].name) + "_" +
             codec_testing::SideName(std::get<1>(info.param));
    });

TEST(PpmdCodecTest, LevelsAreClampedToOneThroughSeven) {
  const Bytes data = testing_support::TextBytes(2000);
  testing_support::TempDir dir;
  const struct {
    int argument;
    int level;
    unsigned header;
  } cases[] = {
      {1, 1, 14 | (7 << 4)},   // order 15, 8 MiB
      {7, 7, 8 | (13 << 4)},   // order 9, 14 MiB
      {0, 1, 14 | (7 << 4)},
      {9, 7, 8 | (13 << 4)},
      {4, 4, 11 | (10 << 4)},  // order 12, 11 MiB
  };
  for (const auto& c : cases) {
    PpmdCodec codec;
    codec.SetMode(PpmdCodec::kZipHeader);
    const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, c.argument,
                                                SideType::kMemory, SideType::kFunction, data, 0, dir);
    EXPECT_EQ(codec.Level(), c.level) << c.argument;
    EXPECT_EQ(codec_testing::Le(packed.output, 0, 2), c.header) << c.argument;
    EXPECT_EQ(codec.HeaderValue(), c.header) << c.argument;
  }
}

TEST(PpmdCodecTest, WithoutTheHeaderTheStoredParametersApply) {
  const Bytes data = testing_support::TextBytes(40000);
  testing_support::TempDir dir;
  PpmdCodec codec;
  codec.SetMode(0);
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 3, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  // The compression stored its own parameters.
  const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, 0, SideType::kMemory,
                                            SideType::kFunction, packed.output, 0, dir);
  EXPECT_EQ(back.output, data);

  // The same from a parameter block: order 13, 10 MiB.
  PpmdCodec reader;
  const unsigned char block[5] = {13, 0x00, 0x00, 0xA0, 0x00};
  reader.SetParameterBlock(block);
  const auto fromBlock = codec_testing::RunCodec(reader, Direction::kDecompress, 0,
                                                 SideType::kMemory, SideType::kFunction,
                                                 packed.output, 0, dir);
  EXPECT_EQ(fromBlock.output, data);

  // A block with order 1 is refused.
  const unsigned char badBlock[5] = {1, 0x00, 0x00, 0xA0, 0x00};
  reader.SetParameterBlock(badBlock);
  ExpectFailure([&] {
    codec_testing::RunCodec(reader, Direction::kDecompress, 0, SideType::kMemory,
                            SideType::kFunction, packed.output, 0, dir);
  }, 6, "Formatfehler");
}

TEST(PpmdCodecTest, BadHeadersAreRefused) {
  const Bytes data = testing_support::TextBytes(10000);
  testing_support::TempDir dir;
  PpmdCodec packer;
  packer.SetMode(1);
  const Bytes good = codec_testing::RunCodec(packer, Direction::kCompress, 5, SideType::kMemory,
                                             SideType::kFunction, data, 0, dir)
                         .output;
  Bytes orderOne = good;
  orderOne[0] = static_cast<unsigned char>(orderOne[0] & 0xF0);  // order - 1 = 0
  Bytes restoreThree = good;
  restoreThree[1] = static_cast<unsigned char>((restoreThree[1] & 0x0F) | 0x30);
  const struct {
    const char* name;
    Bytes stream;
    int kind;
    const char* text;
  } cases[] = {
      {"order 1", orderOne, 6, "Formatfehler"},
      {"restore method 3", restoreThree, 6, "Formatfehler"},
      {"empty", Bytes(), 1, "Fehler beim Lesen"},
      {"one byte", Bytes{good[0]}, 1, "Fehler beim Lesen"},
  };
  for (const auto& c : cases) {
    PpmdCodec codec;
    codec_testing::Sides sides(dir, "bad");
    sides.ConnectInput(codec, SideType::kMemory, c.stream);
    sides.ConnectOutput(codec, SideType::kMemory, 2 * data.size());
    ExpectFailure([&] { codec.Decompress(1); }, c.kind, c.text);
    EXPECT_EQ(codec.FailureKind(), c.kind) << c.name;
    EXPECT_TRUE(sides.GuardIntact()) << c.name;
  }
}

TEST(PpmdCodecTest, SideFailuresGiveKindsOneAndTwo) {
  const Bytes data = testing_support::TextBytes(100000);
  testing_support::TempDir dir;
  PpmdCodec packer;
  packer.SetMode(1);
  const Bytes packed = codec_testing::RunCodec(packer, Direction::kCompress, 6, SideType::kMemory,
                                               SideType::kFunction, data, 0, dir)
                           .output;
  {
    PpmdCodec codec;
    codec_testing::Sides sides(dir, "full");
    sides.ConnectInput(codec, SideType::kMemory, packed);
    sides.ConnectOutput(codec, SideType::kMemory, data.size() - 1);
    ExpectFailure([&] { codec.Decompress(1); }, 2, "Fehler beim Speichern");
    EXPECT_LE(codec.UncompressedCount(), data.size() - 1);
    EXPECT_TRUE(sides.GuardIntact());
  }
  {
    PpmdCodec codec;
    codec.SetMode(1);
    codec_testing::Sides sides(dir, "packfull");
    sides.ConnectInput(codec, SideType::kMemory, data);
    sides.ConnectOutput(codec, SideType::kMemory, packed.size() - 1);
    ExpectFailure([&] { codec.Compress(6); }, 2, "Fehler beim Speichern");
    EXPECT_TRUE(sides.GuardIntact());
  }
  for (const Direction direction : {Direction::kCompress, Direction::kDecompress}) {
    const Bytes& input = direction == Direction::kCompress ? data : packed;
    {
      PpmdCodec codec;
      codec.SetMode(1);
      codec_testing::Sides sides(dir, "read");
      sides.ConnectInput(codec, SideType::kFunction, input);
      sides.Source().piece = 64;
      sides.Source().failAfter = 1000;
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(6) : codec.Decompress(1);
      }, 1, "Fehler beim Lesen");
    }
    {
      PpmdCodec codec;
      codec.SetMode(1);
      codec_testing::Sides sides(dir, "write");
      sides.ConnectInput(codec, SideType::kMemory, input);
      sides.ConnectOutput(codec, SideType::kFunction, 0);
      sides.Sink().refuse = true;
      ExpectFailure([&] {
        direction == Direction::kCompress ? codec.Compress(6) : codec.Decompress(1);
      }, 2, "Fehler beim Speichern");
    }
  }
}

TEST(PpmdCodecTest, ASizeLimitStopsTheDecoder) {
  const Bytes data = testing_support::TextBytes(30000);
  testing_support::TempDir dir;
  PpmdCodec codec;
  codec.SetMode(1);
  const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, 7, SideType::kMemory,
                                              SideType::kFunction, data, 0, dir);
  codec.SetSizeLimit(1000);
  const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, 1, SideType::kMemory,
                                            SideType::kFunction, packed.output, 0, dir);
  EXPECT_EQ(back.output, Bytes(data.begin(), data.begin() + 1000));
}

// Marks the span of a run: from its first read to the end of its output.
struct RunWatch {
  std::atomic<int>* active;
  std::atomic<int>* most;
  const Bytes* data;
  std::size_t position = 0;
  Bytes output;
};

std::int64_t WatchedRead(void* context, void* buffer, std::size_t length) {
  auto* watch = static_cast<RunWatch*>(context);
  if (watch->position == 0) {
    const int now = ++*watch->active;
    int seen = watch->most->load();
    while (now > seen && !watch->most->compare_exchange_weak(seen, now)) {
    }
    // Gives a second run every chance to start meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::size_t take = std::min(length, watch->data->size() - watch->position);
  std::copy(watch->data->begin() + static_cast<std::ptrdiff_t>(watch->position),
            watch->data->begin() + static_cast<std::ptrdiff_t>(watch->position + take),
            static_cast<unsigned char*>(buffer));
  watch->position += take;
  return static_cast<std::int64_t>(take);
}

std::int64_t WatchedWrite(void* context, const void* buffer, std::size_t length) {
  auto* watch = static_cast<RunWatch*>(context);
  if (buffer == nullptr && length == 0) {
    --*watch->active;
    return 0;
  }
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  watch->output.insert(watch->output.end(), bytes, bytes + length);
  return static_cast<std::int64_t>(length);
}

TEST(PpmdCodecTest, RunsOnSeveralThreadsTakeTurns) {
  const Bytes data = testing_support::TextBytes(50000);
  std::atomic<int> active{0};
  std::atomic<int> most{0};
  constexpr int kThreads = 4;
  RunWatch watches[kThreads];
  std::thread threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    watches[i].active = &active;
    watches[i].most = &most;
    watches[i].data = &data;
    threads[i] = std::thread([&watches, i] {
      PpmdCodec codec;
      codec.SetMode(1);
      codec.InputFromFunction(&watches[i], WatchedRead, korbel::kNoCrc);
      codec.OutputToFunction(&watches[i], WatchedWrite, korbel::kNoCrc);
      codec.Compress(3 + i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(most.load(), 1);
  EXPECT_EQ(active.load(), 0);
  for (int i = 0; i < kThreads; ++i) {
    testing_support::TempDir dir;
    PpmdCodec codec;
    const auto back = codec_testing::RunCodec(codec, Direction::kDecompress, 1, SideType::kMemory,
                                              SideType::kFunction, watches[i].output, 0, dir);
    EXPECT_EQ(back.output, data) << i;
  }
}

// ---- Streams of an independent tool ---------------------------------------------

TEST(PpmdCodecTest, UnpacksSevenZipEntriesAndSevenZipAcceptsOurs) {
  CODEC_REQUIRE_TOOL("7zz");
  testing_support::TempDir dir;
  const Bytes data = testing_support::TextBytes(300000);
  ASSERT_TRUE(testing_support::WriteFile(dir / "source.txt", data));
  for (const char* options : {"-mm=PPMd", "-mm=PPMd:o=16:mem=32m", "-mm=PPMd:o=2:mem=1m"}) {
    const std::string zip = dir / "out.zip";
    testing_support::RunCommand("rm -f " + testing_support::Quote(zip));
    ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(dir.Path()) +
                                          " && 7zz a -tzip " + options +
                                          " out.zip source.txt >/dev/null"),
              0);
    const auto entry = codec_testing::FirstEntry(testing_support::ReadFile(zip));
    ASSERT_TRUE(entry.ok);
    ASSERT_EQ(entry.method, 98);
    PpmdCodec codec;
    const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, 1, SideType::kMemory,
                                             SideType::kMemory, entry.data, data.size(), dir);
    EXPECT_EQ(run.output, data) << options;
    EXPECT_EQ(run.outputCrc, entry.crc) << options;
  }
  for (const int level : {1, 4, 7}) {
    PpmdCodec codec;
    codec.SetMode(1);
    const auto packed = codec_testing::RunCodec(codec, Direction::kCompress, level,
                                                SideType::kMemory, SideType::kFunction, data, 0, dir);
    const std::string ours = dir / "ours.zip";
    ASSERT_TRUE(testing_support::WriteFile(
        ours, codec_testing::OneEntryZip("source.txt", 98, 0, packed.inputCrc, packed.output,
                                         static_cast<std::uint32_t>(data.size()))));
    EXPECT_TRUE(codec_testing::SevenZipAccepts(ours)) << level;
  }
}

}  // namespace
