#include "zip/io/data_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "tests/zip/io/scratch_file.h"

namespace korbel {
namespace {

using korbel_test::ReadWholeFile;
using korbel_test::ScratchFile;
using korbel_test::TestBytes;

std::uint32_t ZlibCrc(const std::vector<unsigned char>& bytes, std::size_t from = 0,
                      std::size_t count = static_cast<std::size_t>(-1)) {
  count = std::min(count, bytes.size() - from);
  return testing_support::Crc32(bytes.data() + from, count);
}

// A growable sink for function sides; `refuseEnd` makes it refuse the end.
struct Sink {
  std::vector<unsigned char> bytes;
  std::int64_t accept = -1;  // bytes taken per call; -1 all
  bool failNext = false;
  int endCalls = 0;
  bool refuseEnd = false;

  static std::int64_t Write(void* context, const void* buffer, std::size_t length) {
    auto* sink = static_cast<Sink*>(context);
    if (buffer == nullptr && length == 0) {
      ++sink->endCalls;
      return sink->refuseEnd ? -1 : 0;
    }
    if (sink->failNext) return -5;
    std::size_t take = length;
    if (sink->accept >= 0 && static_cast<std::size_t>(sink->accept) < take) take = sink->accept;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    sink->bytes.insert(sink->bytes.end(), bytes, bytes + take);
    return static_cast<std::int64_t>(take);
  }
};

// A source for function sides that hands out a vector in small steps.
struct Source {
  std::vector<unsigned char> bytes;
  std::size_t at = 0;
  std::size_t step = 7;
  bool fail = false;

  static std::int64_t Read(void* context, void* buffer, std::size_t length) {
    auto* source = static_cast<Source*>(context);
    if (source->fail) return -3;
    const std::size_t take = std::min({length, source->step, source->bytes.size() - source->at});
    std::memcpy(buffer, source->bytes.data() + source->at, take);
    source->at += take;
    return static_cast<std::int64_t>(take);
  }
};

// Collects what an observer sees.
struct Seen {
  std::vector<unsigned char> bytes;
  int calls = 0;
  static void Observe(void* context, const unsigned char* buffer, std::size_t length) {
    auto* seen = static_cast<Seen*>(context);
    seen->bytes.insert(seen->bytes.end(), buffer, buffer + length);
    ++seen->calls;
  }
};

// XOR with a key byte; records the lengths it was handed.
struct XorTransform {
  unsigned char key = 0x5A;
  std::vector<std::size_t> lengths;
  std::int64_t answer = -2;  // -2: answer the length

  static std::int64_t Apply(void* context, unsigned char* buffer, std::size_t length) {
    auto* self = static_cast<XorTransform*>(context);
    self->lengths.push_back(length);
    for (std::size_t i = 0; i < length; ++i) buffer[i] ^= self->key;
    return self->answer == -2 ? static_cast<std::int64_t>(length) : self->answer;
  }
};

std::vector<unsigned char> Xored(std::vector<unsigned char> bytes, unsigned char key) {
  for (auto& byte : bytes) byte ^= key;
  return bytes;
}

// Reads the whole input side in blocks of `block` bytes.
std::vector<unsigned char> Drain(DataStream& stream, std::size_t block = 1000) {
  std::vector<unsigned char> all;
  std::vector<unsigned char> buffer(block);
  for (;;) {
    const std::int64_t got = stream.Read(buffer.data(), buffer.size());
    if (got <= 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
  return all;
}

// ---- CRC registers ------------------------------------------------------------

enum class Kind { kMemory, kFunction, kCFile, kHandle };

// The sides a CRC test connects, one of each kind: a memory block, a
// function, and the scratch file as a C file or a handle, the files closed
// by Close or at the end.
struct KindSides {
  explicit KindSides(std::vector<unsigned char> bytes) : memory(std::move(bytes)), source{memory} {}
  ~KindSides() { Close(); }
  KindSides(const KindSides&) = delete;
  KindSides& operator=(const KindSides&) = delete;

  // Connects the stream's input, or its output, to the side of `kind`; the
  // scratch file is read as it is, or made anew for the output.
  ::testing::AssertionResult Connect(DataStream& stream, Kind kind, bool output, const char* path) {
    switch (kind) {
      case Kind::kMemory:
        if (output) {
          stream.OutputToMemory(memory.size(), memory.data(), 0);
        } else {
          stream.InputFromMemory(memory.size(), memory.data(), 0);
        }
        break;
      case Kind::kFunction:
        if (output) {
          stream.OutputToFunction(&sink, &Sink::Write, 0);
        } else {
          stream.InputFromFunction(&source, &Source::Read, 0);
        }
        break;
      case Kind::kCFile:
        file = std::fopen(path, output ? "wb" : "rb");
        if (file == nullptr) return ::testing::AssertionFailure() << "cannot open " << path;
        if (output) {
          stream.OutputToFile(file, kNoLimit, 0);
        } else {
          stream.InputFromFile(file, kNoLimit, 0);
        }
        break;
      case Kind::kHandle:
        handle.Reset(output ? platform::OpenFile(path, platform::kAccessReadWrite, platform::kShareNone,
                                                 platform::kCreateAlways)
                            : platform::OpenFile(path, platform::kAccessRead, platform::kShareRead,
                                                 platform::kOpenExisting));
        if (handle.Get() == platform::kInvalidHandle)
          return ::testing::AssertionFailure() << "cannot open " << path;
        if (output) {
          stream.OutputToHandle(handle.Get(), kNoLimit, 0);
        } else {
          stream.InputFromHandle(handle.Get(), kNoLimit, 0);
        }
        break;
    }
    return ::testing::AssertionSuccess();
  }

  void Close() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    handle.Reset();
  }

  std::vector<unsigned char> memory;
  Source source;
  Sink sink;
  std::FILE* file = nullptr;
  platform::FileCloser handle;
};

class InputCrcTest : public ::testing::TestWithParam<Kind> {};

TEST_P(InputCrcTest, CrcOfEverythingReadEqualsZlib) {
  const auto data = TestBytes(50000, 3);
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  ASSERT_TRUE(testing_support::WriteFile(scratch.Path(), data));
  DataStream stream;
  KindSides sides(data);
  ASSERT_TRUE(sides.Connect(stream, GetParam(), false, scratch.Path()));
  EXPECT_EQ(Drain(stream, 999), data);
  EXPECT_EQ(stream.InputCrc(), ZlibCrc(data));
  EXPECT_EQ(stream.BytesRead(), data.size());
}

class OutputCrcTest : public ::testing::TestWithParam<Kind> {};

TEST_P(OutputCrcTest, CrcOfEverythingWrittenEqualsZlib) {
  const auto data = TestBytes(40000, 5);
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  DataStream stream;
  KindSides sides(std::vector<unsigned char>(data.size()));
  ASSERT_TRUE(sides.Connect(stream, GetParam(), true, scratch.Path()));
  for (std::size_t at = 0; at < data.size(); at += 3001) {
    const std::size_t piece = std::min<std::size_t>(3001, data.size() - at);
    ASSERT_EQ(stream.Write(data.data() + at, piece), static_cast<std::int64_t>(piece));
  }
  EXPECT_TRUE(stream.EndOutput());
  EXPECT_EQ(stream.OutputCrc(), ZlibCrc(data));
  EXPECT_EQ(stream.BytesWritten(), data.size());
  sides.Close();
  switch (GetParam()) {
    case Kind::kMemory:
      EXPECT_EQ(sides.memory, data);
      break;
    case Kind::kFunction:
      EXPECT_EQ(sides.sink.bytes, data);
      break;
    default:
      EXPECT_EQ(ReadWholeFile(scratch.Path()), data);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, InputCrcTest,
                         ::testing::Values(Kind::kMemory, Kind::kFunction, Kind::kCFile, Kind::kHandle));
INSTANTIATE_TEST_SUITE_P(AllKinds, OutputCrcTest,
                         ::testing::Values(Kind::kMemory, Kind::kFunction, Kind::kCFile, Kind::kHandle));

TEST(DataStreamCrc, SeedContinuesAnEarlierCrc) {
  // The register starts at ~seed, so seeding with a finished CRC carries it on.
  const auto data = TestBytes(10000, 7);
  DataStream stream;
  std::vector<unsigned char> buffer(data.size());
  stream.InputFromMemory(4000, data.data(), 0);
  ASSERT_EQ(stream.Read(buffer.data(), 4000), 4000);
  const std::uint32_t first = stream.InputCrc();
  EXPECT_EQ(first, ZlibCrc(data, 0, 4000));
  stream.InputFromMemory(6000, data.data() + 4000, first);
  ASSERT_EQ(stream.Read(buffer.data(), 6000), 6000);
  EXPECT_EQ(stream.InputCrc(), ZlibCrc(data));
}

TEST(DataStreamCrc, NoCrcSeedLeavesTheRegisterUntouched) {
  const auto data = TestBytes(3000, 9);
  std::vector<unsigned char> buffer(data.size());
  DataStream stream;
  // A fresh stream's register is unused: its finished value is all ones.
  const std::uint32_t untouchedInput = stream.InputCrc();
  stream.InputFromMemory(data.size(), data.data(), kNoCrc);
  ASSERT_EQ(stream.Read(buffer.data(), buffer.size()), 3000);
  EXPECT_EQ(stream.InputCrc(), untouchedInput);

  // After a CRC run, a kNoCrc connection keeps the earlier value.
  stream.OutputToMemory(buffer.size(), buffer.data(), 0);
  ASSERT_EQ(stream.Write(data.data(), 1000), 1000);
  const std::uint32_t earlier = stream.OutputCrc();
  EXPECT_EQ(earlier, ZlibCrc(data, 0, 1000));
  stream.OutputToMemory(buffer.size(), buffer.data(), kNoCrc);
  ASSERT_EQ(stream.Write(data.data() + 1000, 2000), 2000);
  EXPECT_EQ(stream.OutputCrc(), earlier);
  EXPECT_EQ(stream.BytesWritten(), 2000u);
}

// ---- Limits ----------------------------------------------------------------------

// A stream beside a scratch file made anew and open as a handle.
class DataStreamHandleLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.Valid());
    file_.Reset(platform::OpenFile(scratch_.Path(), platform::kAccessReadWrite, platform::kShareNone,
                                   platform::kCreateAlways));
    ASSERT_NE(file_.Get(), platform::kInvalidHandle);
  }

  ScratchFile scratch_;
  platform::FileCloser file_;
  DataStream stream_;
};

TEST_F(DataStreamHandleLimits, SidesStopAtTheirLimit) {
  const auto data = TestBytes(1000, 11);
  stream_.OutputToHandle(file_.Get(), 600, 0);
  EXPECT_EQ(stream_.Write(data.data(), 400), 400);
  EXPECT_EQ(stream_.Write(data.data() + 400, 400), 200);  // capped at the rest of the limit
  EXPECT_EQ(stream_.Write(data.data() + 600, 400), 0);
  EXPECT_EQ(stream_.OutputCrc(), ZlibCrc(data, 0, 600));
  EXPECT_EQ(platform::FileSize(file_.Get()), 600);

  ASSERT_EQ(platform::SeekFile(file_.Get(), 0, platform::kSeekBegin), 0);
  stream_.InputFromHandle(file_.Get(), 250, 0);
  const auto got = Drain(stream_, 100);
  EXPECT_EQ(got, std::vector<unsigned char>(data.begin(), data.begin() + 250));
  EXPECT_EQ(stream_.BytesRead(), 250u);
}

TEST_F(DataStreamHandleLimits, NegativeLimitMeansNone) {
  const auto data = TestBytes(5000, 15);
  stream_.OutputToHandle(file_.Get(), -7, kNoCrc);
  EXPECT_EQ(stream_.Write(data.data(), data.size()), 5000);
}

TEST(DataStreamLimits, CFileSidesStopAtTheirLimit) {
  const auto data = TestBytes(500, 13);
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  std::FILE* file = std::fopen(scratch.Path(), "w+b");
  ASSERT_NE(file, nullptr);
  DataStream stream;
  stream.OutputToFile(file, 300, kNoCrc);
  EXPECT_EQ(stream.Write(data.data(), 500), 300);
  EXPECT_EQ(stream.Write(data.data(), 10), 0);
  std::rewind(file);
  stream.InputFromFile(file, 120, 0);
  EXPECT_EQ(Drain(stream, 50), std::vector<unsigned char>(data.begin(), data.begin() + 120));
  EXPECT_EQ(stream.InputCrc(), ZlibCrc(data, 0, 120));
  std::fclose(file);
}

// ---- Memory sides -----------------------------------------------------------------

TEST(DataStreamMemory, OutputTakesWhatFitsAndCountsExternally) {
  const auto data = TestBytes(300, 17);
  std::vector<unsigned char> block(250, 0);
  std::int64_t position = 1000;  // an archive position the block starts at
  DataStream stream;
  stream.OutputToMemory(block.size(), block.data(), 0, &position);
  EXPECT_EQ(stream.Write(data.data(), 200), 200);
  EXPECT_EQ(position, 1200);
  EXPECT_EQ(stream.Write(data.data() + 200, 100), 50);
  EXPECT_EQ(position, 1250);
  EXPECT_EQ(stream.Write(data.data(), 10), 0);
  EXPECT_EQ(block, std::vector<unsigned char>(data.begin(), data.begin() + 250));
  EXPECT_EQ(stream.OutputCrc(), ZlibCrc(data, 0, 250));
}

TEST(DataStreamMemory, HighWaterFollowsTheLargestPositionReached) {
  const auto data = TestBytes(100, 19);
  std::vector<unsigned char> block(100);
  std::int64_t position = 10;
  std::int64_t highWater = 40;  // content already reaches further than the start
  DataStream stream;
  stream.OutputToMemory(block.size(), block.data(), kNoCrc, &position);
  stream.SetHighWater(&highWater);
  ASSERT_EQ(stream.Write(data.data(), 20), 20);
  EXPECT_EQ(highWater, 40);  // position 30 has not passed it
  ASSERT_EQ(stream.Write(data.data(), 25), 25);
  EXPECT_EQ(highWater, 55);
  // A reconnection drops the high-water target.
  stream.OutputToMemory(block.size(), block.data(), kNoCrc, &position);
  ASSERT_EQ(stream.Write(data.data(), 30), 30);
  EXPECT_EQ(position, 85);
  EXPECT_EQ(highWater, 55);
}

TEST(DataStreamMemory, InputAdvancesTheExternalCounterAndEnds) {
  const auto data = TestBytes(1000, 21);
  std::int64_t position = 5000;
  DataStream stream;
  stream.InputFromMemory(data.size(), data.data(), 0, &position);
  std::vector<unsigned char> buffer(600);
  EXPECT_EQ(stream.Read(buffer.data(), 600), 600);
  EXPECT_EQ(position, 5600);
  EXPECT_EQ(stream.Read(buffer.data(), 600), 400);
  EXPECT_EQ(stream.Read(buffer.data(), 600), 0);
  EXPECT_EQ(position, 6000);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 400, data.begin() + 600));
}

TEST(DataStreamMemory, AreaFilledInPlaceIsCommitted) {
  const auto data = TestBytes(700, 23);
  std::vector<unsigned char> block(1000, 0);
  std::int64_t position = 0;
  std::int64_t highWater = 0;
  Seen seen;
  DataStream stream;
  stream.OutputToMemory(block.size(), block.data(), 0, &position);
  stream.SetHighWater(&highWater);
  stream.SetOutputObserver(&seen, &Seen::Observe);
  ASSERT_EQ(stream.OutputArea(), block.data());
  ASSERT_EQ(stream.OutputRoom(), 1000u);
  std::memcpy(stream.OutputArea(), data.data(), 700);
  stream.CommitOutput(700);
  EXPECT_EQ(stream.OutputArea(), block.data() + 700);
  EXPECT_EQ(stream.OutputRoom(), 300u);
  EXPECT_EQ(position, 700);
  EXPECT_EQ(highWater, 700);
  EXPECT_EQ(stream.BytesWritten(), 700u);
  EXPECT_EQ(stream.OutputCrc(), ZlibCrc(data));
  EXPECT_EQ(seen.bytes, data);
  // A commit larger than the room takes only the room.
  stream.CommitOutput(5000);
  EXPECT_EQ(stream.OutputRoom(), 0u);
  EXPECT_EQ(position, 1000);
}

TEST(DataStreamMemory, OtherKindsHaveNoArea) {
  Sink sink;
  DataStream stream;
  stream.OutputToFunction(&sink, &Sink::Write, kNoCrc);
  EXPECT_EQ(stream.OutputArea(), nullptr);
  EXPECT_EQ(stream.OutputRoom(), 0u);
  EXPECT_EQ(stream.OutputKind(), SideKind::kFunction);
}

// ---- Function sides and observers ------------------------------------------------

TEST(DataStreamFunction, NegativeAnswersBecomeMinusOne) {
  Sink sink;
  sink.failNext = true;
  Source source{TestBytes(10)};
  source.fail = true;
  DataStream stream;
  stream.OutputToFunction(&sink, &Sink::Write, 0);
  stream.InputFromFunction(&source, &Source::Read, 0);
  unsigned char buffer[10] = {};
  EXPECT_EQ(stream.Write(buffer, 10), -1);
  EXPECT_EQ(stream.Read(buffer, 10), -1);
  EXPECT_EQ(stream.BytesWritten(), 0u);
  EXPECT_EQ(stream.BytesRead(), 0u);
}

TEST(DataStreamFunction, ObserverSeesWhatTheFunctionTook) {
  const auto data = TestBytes(100, 25);
  Sink sink;
  sink.accept = 30;
  Seen seen;
  DataStream stream;
  stream.OutputToFunction(&sink, &Sink::Write, 0);
  stream.SetOutputObserver(&seen, &Seen::Observe);
  EXPECT_EQ(stream.Write(data.data(), 100), 30);
  EXPECT_EQ(seen.bytes, std::vector<unsigned char>(data.begin(), data.begin() + 30));
  EXPECT_EQ(stream.OutputCrc(), ZlibCrc(data, 0, 30));
  // Removing the hook keeps the CRC running.
  stream.SetOutputObserver(nullptr, nullptr);
  EXPECT_EQ(stream.Write(data.data() + 30, 30), 30);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(stream.OutputCrc(), ZlibCrc(data, 0, 60));
}

TEST(DataStreamFunction, EndOutputReachesTheFunction) {
  Sink sink;
  DataStream stream;
  stream.OutputToFunction(&sink, &Sink::Write, kNoCrc);
  EXPECT_TRUE(stream.EndOutput());
  EXPECT_EQ(sink.endCalls, 1);
  sink.refuseEnd = true;
  EXPECT_FALSE(stream.EndOutput());
  EXPECT_EQ(sink.endCalls, 2);
  EXPECT_TRUE(sink.bytes.empty());
}

TEST(DataStreamFunction, UnconnectedSidesFail) {
  DataStream stream;
  unsigned char buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(stream.Read(buffer, 4), -1);
  EXPECT_EQ(stream.Write(buffer, 4), -1);
  EXPECT_FALSE(stream.EndOutput());
  Sink sink;
  stream.OutputToFunction(&sink, &Sink::Write, 0);
  stream.InputFromMemory(4, buffer, 0);
  stream.Disconnect();
  EXPECT_EQ(stream.OutputKind(), SideKind::kNone);
  EXPECT_EQ(stream.InputKind(), SideKind::kNone);
  EXPECT_EQ(stream.Write(buffer, 4), -1);
  EXPECT_EQ(stream.Read(buffer, 4), -1);
  EXPECT_TRUE(sink.bytes.empty());
}

// ---- Transformations ----------------------------------------------------------------

TEST(DataStreamTransform, ReadTransformWorksOnWhatWasRead) {
  const auto data = TestBytes(5000, 27);
  XorTransform xorKey;
  Seen seen;
  DataStream stream;
  stream.InputFromMemory(data.size(), data.data(), 0);
  stream.AddReadTransform(&xorKey, &XorTransform::Apply);
  stream.SetInputObserver(&seen, &Seen::Observe);
  EXPECT_EQ(Drain(stream, 2048), Xored(data, 0x5A));
  // The side itself (CRC, observer) sees the bytes before the transformation.
  EXPECT_EQ(seen.bytes, data);
  EXPECT_EQ(stream.InputCrc(), ZlibCrc(data));
  ASSERT_GE(xorKey.lengths.size(), 3u);
  EXPECT_EQ(xorKey.lengths[0], 2048u);
  EXPECT_EQ(xorKey.lengths[2], 5000u - 4096u);
}

TEST(DataStreamTransform, ReadTransformAnswerIsTheResult) {
  const auto data = TestBytes(100, 29);
  std::vector<unsigned char> buffer(100);
  XorTransform transform;
  DataStream stream;
  stream.InputFromMemory(data.size(), data.data(), kNoCrc);
  stream.AddReadTransform(&transform, &XorTransform::Apply);
  transform.answer = 64;  // e.g. a decrypter that holds back a trailer
  EXPECT_EQ(stream.Read(buffer.data(), 100), 64);
  stream.InputFromMemory(data.size(), data.data(), kNoCrc);
  transform.answer = -9;
  EXPECT_EQ(stream.Read(buffer.data(), 100), -1);
  // A failing input never reaches the transformation.
  Source source{data};
  source.fail = true;
  stream.InputFromFunction(&source, &Source::Read, kNoCrc);
  transform.lengths.clear();
  EXPECT_EQ(stream.Read(buffer.data(), 100), -1);
  EXPECT_TRUE(transform.lengths.empty());
}

// Delivers nothing for its first `holdCalls` blocks, as a decrypter does
// while it collects a trailer, then passes blocks through.
struct HoldingTransform {
  int holdCalls = 0;
  int calls = 0;

  static std::int64_t Apply(void* context, unsigned char*, std::size_t length) {
    auto* self = static_cast<HoldingTransform*>(context);
    return self->calls++ < self->holdCalls ? 0 : static_cast<std::int64_t>(length);
  }
};

TEST(DataStreamTransform, ReadGoesOnWhileTheTransformHoldsBlocksBack) {
  const auto data = TestBytes(1000, 33);
  std::vector<unsigned char> buffer(100);
  HoldingTransform transform;
  transform.holdCalls = 3;
  DataStream stream;
  stream.InputFromMemory(data.size(), data.data(), kNoCrc);
  stream.AddReadTransform(&transform, &HoldingTransform::Apply);
  // Three held blocks must not look like the end of the input.
  ASSERT_EQ(stream.Read(buffer.data(), buffer.size()), 100);
  EXPECT_EQ(transform.calls, 4);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + 300));
  EXPECT_EQ(stream.BytesRead(), 400u);

  // A transformation that holds everything back reaches the real end.
  stream.InputFromMemory(data.size(), data.data(), kNoCrc);
  transform.calls = 0;
  transform.holdCalls = 1000;
  EXPECT_EQ(stream.Read(buffer.data(), buffer.size()), 0);
  EXPECT_EQ(transform.calls, 10);
  EXPECT_EQ(stream.BytesRead(), 1000u);
}

TEST(DataStreamTransform, ProtectedWriteLeavesTheCallersDataUnchanged) {
  const auto data = TestBytes(10000, 31);
  const auto original = data;
  XorTransform xorKey;
  Sink sink;
  DataStream stream;
  stream.OutputToFunction(&sink, &Sink::Write, 0);
  stream.AddWriteTransform(&xorKey, &XorTransform::Apply, true);
  EXPECT_EQ(stream.Write(data.data(), data.size()), 10000);
  EXPECT_EQ(data, original);
  EXPECT_EQ(sink.bytes, Xored(data, 0x5A));
  // Pieces of at most 4096 bytes.
  EXPECT_EQ(xorKey.lengths, (std::vector<std::size_t>{4096, 4096, 1808}));
  // The side's CRC is over the bytes that reached it.
  EXPECT_EQ(stream.OutputCrc(), ZlibCrc(Xored(data, 0x5A)));
}

TEST(DataStreamTransform, ProtectedWriteCountsShortPieces) {
  const auto data = TestBytes(10000, 33);
  std::vector<unsigned char> block(5000);
  XorTransform xorKey;
  DataStream stream;
  stream.OutputToMemory(block.size(), block.data(), kNoCrc);
  stream.AddWriteTransform(&xorKey, &XorTransform::Apply, true);
  // Piece one fits, piece two is cut at 904 bytes, piece three gets nothing:
  // the answer is the block length less two.
  EXPECT_EQ(stream.Write(data.data(), data.size()), 9998);
  EXPECT_EQ(block, Xored(std::vector<unsigned char>(data.begin(), data.begin() + 5000), 0x5A));
}

TEST(DataStreamTransform, UnprotectedWriteTransformsInPlace) {
  auto data = TestBytes(6000, 35);
  const auto original = data;
  XorTransform xorKey;
  Sink sink;
  DataStream stream;
  stream.OutputToFunction(&sink, &Sink::Write, kNoCrc);
  stream.AddWriteTransform(&xorKey, &XorTransform::Apply, false);
  EXPECT_EQ(stream.Write(data.data(), data.size()), 6000);
  EXPECT_EQ(data, Xored(original, 0x5A));
  EXPECT_EQ(sink.bytes, data);
  EXPECT_EQ(xorKey.lengths, std::vector<std::size_t>{6000});
}

// ---- Buffers ---------------------------------------------------------------------------

TEST(DataStreamBuffers, WorkBufferIsKeptUntilReleased) {
  DataStream stream;
  unsigned char* first = stream.WorkBuffer();
  ASSERT_NE(first, nullptr);
  // The whole 16 KiB plus slack is usable (the sanitizer build checks the bounds).
  std::memset(first, 0xA5, kWorkBufferSize + 16);
  EXPECT_EQ(stream.WorkBuffer(), first);
  EXPECT_EQ(first[kWorkBufferSize + 15], 0xA5);
  stream.ReleaseWorkBuffer();
  unsigned char* second = stream.WorkBuffer();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second[0], 0);  // a fresh block, zeroed
}

TEST(DataStreamBuffers, ConnectingResetsTheCounters) {
  const auto data = TestBytes(64, 37);
  std::vector<unsigned char> block(64);
  DataStream stream;
  stream.OutputToMemory(block.size(), block.data(), 0);
  ASSERT_EQ(stream.Write(data.data(), 64), 64);
  stream.InputFromMemory(data.size(), data.data(), 0);
  ASSERT_EQ(stream.Read(block.data(), 10), 10);
  stream.OutputToMemory(block.size(), block.data(), 0);
  stream.InputFromMemory(data.size(), data.data(), 0);
  EXPECT_EQ(stream.BytesWritten(), 0u);
  EXPECT_EQ(stream.BytesRead(), 0u);
  EXPECT_EQ(stream.OutputCrc(), 0u);  // seed 0: register all ones, nothing seen
  EXPECT_EQ(stream.InputCrc(), 0u);
}

}  // namespace
}  // namespace korbel
