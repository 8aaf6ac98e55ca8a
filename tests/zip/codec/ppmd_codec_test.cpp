// What every codec does alike (round trips, failures, peers) is in codec_test.cpp.
#include "zip/codec/ppmd_codec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using korbel::PpmdCodec;

TEST(PpmdCodecTest, LevelsAreClampedToOneThroughSeven) {
  const Bytes data = testing_support::TextBytes(2000);
  const struct {
    int argument;
    int level;
    unsigned header;
  } cases[] = {
      {1, 1, 14 | (7 << 4)},                                                 // order 15, 8 MiB
      {7, 7, 8 | (13 << 4)},                                                 // order 9, 14 MiB
      {0, 1, 14 | (7 << 4)}, {9, 7, 8 | (13 << 4)}, {4, 4, 11 | (10 << 4)},  // order 12, 11 MiB
  };
  for (const auto& c : cases) {
    PpmdCodec codec;
    codec.SetMode(PpmdCodec::kZipHeader);
    const auto packed = codec_testing::Pack(codec, c.argument, data);
    EXPECT_EQ(codec.Level(), c.level) << c.argument;
    EXPECT_EQ(archive_builder::Get(packed.output, 0, 2), c.header) << c.argument;
    EXPECT_EQ(codec.HeaderValue(), c.header) << c.argument;
  }
}

TEST(PpmdCodecTest, WithoutTheHeaderTheStoredParametersApply) {
  const Bytes data = testing_support::TextBytes(40000);
  PpmdCodec codec;
  codec.SetMode(0);
  const auto packed = codec_testing::Pack(codec, 3, data);
  // The compression stored its own parameters.
  const auto back = codec_testing::Unpack(codec, 0, packed.output);
  EXPECT_EQ(back.output, data);

  // The same from a parameter block: order 13, 10 MiB.
  PpmdCodec reader;
  const unsigned char block[5] = {13, 0x00, 0x00, 0xA0, 0x00};
  reader.SetParameterBlock(block);
  const auto fromBlock = codec_testing::Unpack(reader, 0, packed.output);
  EXPECT_EQ(fromBlock.output, data);

  // A block with order 1 is refused.
  const unsigned char badBlock[5] = {1, 0x00, 0x00, 0xA0, 0x00};
  reader.SetParameterBlock(badBlock);
  codec_testing::ExpectFailure(
      reader, [&] { codec_testing::Unpack(reader, 0, packed.output); }, 6, "Formatfehler");
}

TEST(PpmdCodecTest, ASizeLimitStopsTheDecoder) {
  const Bytes data = testing_support::TextBytes(30000);
  PpmdCodec codec;
  codec.SetMode(1);
  const auto packed = codec_testing::Pack(codec, 7, data);
  codec.SetSizeLimit(1000);
  const auto back = codec_testing::Unpack(codec, 1, packed.output);
  EXPECT_EQ(back.output, Bytes(data.begin(), data.begin() + 1000));
}

// One codec keeps its model memory from run to run: each stream must decode as it would
// with a model of its own, after a stream that filled the memory (so the reused memory
// holds an old model) and across runs with other memory sizes.
TEST(PpmdCodecTest, StreamsInARowDecodeAsWithFreshModels) {
  const struct {
    Bytes data;
    int level;
  } streams[] = {
      {testing_support::RandomBytes(600000, 7), 7},  // far more than 14 MiB of model
      {testing_support::TextBytes(40000), 7},       {testing_support::RandomBytes(3000, 8), 7},
      {testing_support::TextBytes(50000), 1},       {testing_support::TextBytes(20000), 7},
  };
  PpmdCodec reader;
  for (const auto& stream : streams) {
    PpmdCodec writer;
    writer.SetMode(PpmdCodec::kZipHeader);
    const auto packed = codec_testing::Pack(writer, stream.level, stream.data);
    const auto back = codec_testing::Unpack(reader, 1, packed.output);
    EXPECT_EQ(back.output, stream.data) << stream.data.size() << " at level " << stream.level;
  }
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
    PpmdCodec codec;
    const auto back = codec_testing::Unpack(codec, 1, watches[i].output);
    EXPECT_EQ(back.output, data) << i;
  }
}

}  // namespace
