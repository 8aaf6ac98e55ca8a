#include "zip/codec/ppmd_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zip/codec/ppmd_allocator.h"
#include "zip/codec/ppmd_range_coder.h"

namespace korbel {
namespace {

struct ByteSource {
  std::vector<uint8_t> bytes;
  size_t pos = 0;
};

long ReadBytes(void* context, unsigned char* buffer, unsigned long size) {
  auto* source = static_cast<ByteSource*>(context);
  const size_t n = std::min<size_t>(size, source->bytes.size() - source->pos);
  if (n != 0) std::memcpy(buffer, source->bytes.data() + source->pos, n);
  source->pos += n;
  return static_cast<long>(n);
}

long WriteBytes(void* context, const unsigned char* buffer, unsigned long size) {
  auto* sink = static_cast<std::vector<uint8_t>*>(context);
  sink->insert(sink->end(), buffer, buffer + size);
  return static_cast<long>(size);
}

// Words with some noise between them: the model builds deep contexts and still meets
// new symbols often enough to escape through every order.
std::vector<uint8_t> WordSalad(size_t size, unsigned seed) {
  static const char* const kWords[] = {"context ", "model ",  "escape ", "symbol ", "order ",
                                       "suffix ",  "range ",  "coder ",  "unit ",   "text\n"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  while (out.size() < size) {
    const char* word = kWords[rng() % 10];
    out.insert(out.end(), word, word + std::strlen(word));
    if (rng() % 4 == 0) out.push_back(static_cast<uint8_t>(rng()));
  }
  out.resize(size);
  return out;
}

struct Trace {
  std::vector<uint8_t> stream;
  std::vector<uint32_t> usedMemory;  // model memory in use after each symbol
};

Trace EncodeTraced(const std::vector<uint8_t>& data, int order, uint32_t memory, int restoreMethod) {
  Trace trace;
  PpmdModel model;
  EXPECT_TRUE(model.Allocate(memory));
  model.Init(order, restoreMethod);
  PpmdRangeEncoder coder(WriteBytes, &trace.stream, 4096);
  for (uint8_t b : data) {
    model.EncodeSymbol(coder, b);
    trace.usedMemory.push_back(model.Allocator().UsedMemory());
  }
  model.EncodeSymbol(coder, -1);
  coder.Finish();
  EXPECT_FALSE(coder.Failed());
  EXPECT_FALSE(coder.Broken());
  return trace;
}

// Decodes symbol by symbol; returns the bytes before the end mark, or stops at the
// first mismatch with `expected` so that a failure names its position.
void ExpectDecodes(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& expected, int order,
                   uint32_t memory, int restoreMethod) {
  ByteSource source{stream, 0};
  PpmdModel model;
  ASSERT_TRUE(model.Allocate(memory));
  model.Init(order, restoreMethod);
  PpmdRangeDecoder coder(ReadBytes, &source, 4096);
  ASSERT_TRUE(coder.Init());
  for (size_t i = 0; i < expected.size(); ++i) {
    const int symbol = model.DecodeSymbol(coder);
    ASSERT_EQ(symbol, expected[i]) << "at byte " << i;
  }
  EXPECT_EQ(model.DecodeSymbol(coder), -1) << "end mark";
  EXPECT_FALSE(coder.Broken());
  EXPECT_EQ(coder.BytesConsumed(), stream.size());
}

TEST(PpmdModelTest, SymbolsAndEndMarkRoundTrip) {
  const std::vector<uint8_t> data = WordSalad(60000, 1);
  for (int order : {2, 4, 8, 16}) {
    SCOPED_TRACE(order);
    const Trace trace = EncodeTraced(data, order, 1 << 20, PpmdModel::kRestart);
    EXPECT_LT(trace.stream.size(), data.size() / 3) << "the model should predict repeated words";
    ExpectDecodes(trace.stream, data, order, 1 << 20, PpmdModel::kRestart);
  }
}

TEST(PpmdModelTest, EmptyInputCodesOnlyTheEndMark) {
  const Trace trace = EncodeTraced({}, 6, 1 << 20, PpmdModel::kRestart);
  // The escape from the order-0 context plus the 4 flushed bytes of low.
  EXPECT_GE(trace.stream.size(), 4u);
  EXPECT_LE(trace.stream.size(), 6u);
  ExpectDecodes(trace.stream, {}, 6, 1 << 20, PpmdModel::kRestart);
}

// Per memory policy: what the used memory looks like right after the first time the
// model memory ran out.
TEST(PpmdModelTest, RunningOutOfMemoryRestartsOrCutsBack) {
  constexpr uint32_t kMemory = 1 << 20;
  const std::vector<uint8_t> data = WordSalad(400000, 2);
  struct Case {
    int restoreMethod;
    uint32_t minAfter;  // used memory right after the first restore lies in [minAfter, maxAfter]
    uint32_t maxAfter;
  };
  const Case cases[] = {
      {PpmdModel::kRestart, 0, kMemory / 64},        // an empty model again
      {PpmdModel::kCutOff, kMemory / 8, kMemory * 3 / 4},  // part of the tree survives
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.restoreMethod);
    const Trace trace = EncodeTraced(data, 16, kMemory, c.restoreMethod);
    size_t drop = 0;
    for (size_t i = 1; i < trace.usedMemory.size() && drop == 0; ++i) {
      if (trace.usedMemory[i] + kMemory / 4 < trace.usedMemory[i - 1]) drop = i;
    }
    ASSERT_NE(drop, 0u) << "memory never ran out";
    EXPECT_GT(trace.usedMemory[drop - 1], kMemory * 3 / 4) << "restored before the memory was full";
    EXPECT_GE(trace.usedMemory[drop], c.minAfter);
    EXPECT_LE(trace.usedMemory[drop], c.maxAfter);
    ExpectDecodes(trace.stream, data, 16, kMemory, c.restoreMethod);
  }
}

TEST(PpmdModelTest, EscapeFromOrderZeroIsTheEndMark) {
  // In a new model the order-0 context gives each byte 1/257 of the code space and the
  // escape the last 1/257: a code at the very top is the end mark, one just below is 255.
  struct Case {
    uint8_t code[4];
    int expected;
  };
  const Case cases[] = {{{0xFF, 0xFF, 0xFF, 0xFE}, -1}, {{0xFF, 0x00, 0xFE, 0xFF}, 255}, {{0x00, 0x00, 0x00, 0x00}, 0}};
  for (const Case& c : cases) {
    ByteSource source{{c.code[0], c.code[1], c.code[2], c.code[3], 0, 0, 0, 0}, 0};
    PpmdModel model;
    ASSERT_TRUE(model.Allocate(1 << 20));
    model.Init(6, PpmdModel::kRestart);
    PpmdRangeDecoder coder(ReadBytes, &source, 16);
    ASSERT_TRUE(coder.Init());
    EXPECT_EQ(model.DecodeSymbol(coder), c.expected);
  }
}

class PpmdAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(alloc.Allocate(1 << 20));
    alloc.Restart();
  }
  static constexpr uint32_t kUnit = PpmdAllocator::kUnitSize;
  PpmdAllocator alloc;
};

TEST_F(PpmdAllocatorTest, SizeClassesCoverOneTo128Units) {
  // Every unit count maps to the smallest class that holds it.
  for (unsigned nu = 1; nu <= PpmdAllocator::kMaxUnits; ++nu) {
    const unsigned index = alloc.UnitsToIndex(nu);
    EXPECT_GE(alloc.IndexToUnits(index), nu);
    if (index > 0) {
      EXPECT_LT(alloc.IndexToUnits(index - 1), nu);
    }
  }
  EXPECT_EQ(alloc.IndexToUnits(0), 1u);
  EXPECT_EQ(alloc.IndexToUnits(4), 6u);
  EXPECT_EQ(alloc.IndexToUnits(8), 15u);
  EXPECT_EQ(alloc.IndexToUnits(PpmdAllocator::kIndexCount - 1), 128u);
}

TEST_F(PpmdAllocatorTest, UsedMemoryFollowsAllocationsAndFrees) {
  EXPECT_EQ(alloc.UsedMemory(), 0u);
  uint8_t* context = reinterpret_cast<uint8_t*>(alloc.AllocContext());
  uint8_t* states = alloc.AllocUnits(3);  // 4 units
  ASSERT_NE(context, nullptr);
  ASSERT_NE(states, nullptr);
  EXPECT_EQ(alloc.UsedMemory(), 5 * kUnit);
  EXPECT_LT(states, context) << "state arrays grow up from the bottom, contexts down from the top";
  alloc.FreeUnits(states, 4);
  EXPECT_EQ(alloc.UsedMemory(), kUnit);
  alloc.PutText('x');
  EXPECT_EQ(alloc.UsedMemory(), kUnit + 1);
}

TEST_F(PpmdAllocatorTest, FreedBlocksAreReusedLastInFirstOut) {
  uint8_t* a = alloc.AllocUnits(2);
  uint8_t* b = alloc.AllocUnits(2);
  alloc.FreeUnits(a, 3);
  alloc.FreeUnits(b, 3);
  EXPECT_EQ(alloc.AllocUnits(2), b);
  EXPECT_EQ(alloc.AllocUnits(2), a);
}

TEST_F(PpmdAllocatorTest, ShrinkGivesTheTailBackAsAFreeBlock) {
  uint8_t* block = alloc.AllocUnits(3);  // 4 units
  uint8_t* shrunk = alloc.ShrinkUnits(block, 4, 2);
  EXPECT_EQ(shrunk, block) << "no free 2-unit block to move to: shrink in place";
  EXPECT_EQ(alloc.AllocUnits(1), block + 2 * kUnit);
}

TEST_F(PpmdAllocatorTest, ExhaustedMemoryIsRecoveredByGluingNeighbours) {
  std::vector<uint8_t*> units;
  while (PpmdContext* c = alloc.AllocContext()) units.push_back(reinterpret_cast<uint8_t*>(c));
  // Units, text area included, are all handed out.
  EXPECT_GE(units.size(), (1u << 20) / kUnit - 1);
  EXPECT_EQ(alloc.AllocUnits(1), nullptr);
  std::sort(units.begin(), units.end());
  uint8_t* first = units[units.size() / 2];
  uint8_t* second = first + kUnit;
  ASSERT_TRUE(std::binary_search(units.begin(), units.end(), second));
  alloc.FreeUnits(second, 1);
  alloc.FreeUnits(first, 1);
  alloc.ForceGlue();
  EXPECT_EQ(alloc.AllocUnits(1), first) << "two free neighbours make one 2-unit block";
}

TEST_F(PpmdAllocatorTest, TextAreaEndsWhereTheUnitsStart) {
  size_t written = 0;
  while (!alloc.TextFull()) {
    alloc.PutText(static_cast<uint8_t>(written));
    ++written;
  }
  // The text area is the eighth of the memory that the unit area leaves over.
  EXPECT_EQ(written, (1u << 20) - (1u << 20) / 8 / kUnit * 7 * kUnit);
  EXPECT_TRUE(alloc.IsUnit(alloc.TextRef()));
  EXPECT_FALSE(alloc.IsUnit(alloc.TextRef() - 1));
}

TEST(PpmdRangeCoderTest, IntervalsAndBitsRoundTrip) {
  std::mt19937 rng(7);
  auto next = [&rng](uint32_t bound) { return static_cast<uint32_t>(rng() % bound); };
  struct Step {
    bool bit;
    uint32_t a, b, total;  // bit: a = probability of 0 (of 2^14), b = the bit
  };
  std::vector<Step> steps;
  for (int i = 0; i < 20000; ++i) {
    if (next(2)) {
      steps.push_back({true, 1 + next((1u << 14) - 1), next(2), 0});
    } else {
      const uint32_t total = 1 + next(30000);
      const uint32_t start = next(total);
      steps.push_back({false, start, 1 + next(total - start), total});
    }
  }
  std::vector<uint8_t> stream;
  PpmdRangeEncoder encoder(WriteBytes, &stream, 100);
  for (const Step& s : steps) {
    if (!s.bit) {
      encoder.Encode(s.a, s.b, s.total);
    } else if (s.b == 0) {
      encoder.EncodeBit0(s.a);
    } else {
      encoder.EncodeBit1(s.a);
    }
  }
  encoder.Finish();
  ASSERT_FALSE(encoder.Failed());
  EXPECT_EQ(encoder.BytesWritten(), stream.size());

  ByteSource source{stream, 0};
  PpmdRangeDecoder decoder(ReadBytes, &source, 100);
  ASSERT_TRUE(decoder.Init());
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    if (s.bit) {
      ASSERT_EQ(decoder.DecodeBit(s.a), s.b) << "step " << i;
    } else {
      const uint32_t count = decoder.GetThreshold(s.total);
      ASSERT_GE(count, s.a) << "step " << i;
      ASSERT_LT(count, s.a + s.b) << "step " << i;
      decoder.Decode(s.a, s.b);
    }
  }
  EXPECT_FALSE(decoder.Broken());
  EXPECT_EQ(decoder.BytesConsumed(), stream.size()) << "the flush is exactly what the decoder reads";
}

TEST(PpmdRangeCoderTest, DecoderFlagsInputThatEndsTooEarly) {
  ByteSource source{{0x12, 0x34}, 0};
  PpmdRangeDecoder decoder(ReadBytes, &source, 16);
  EXPECT_FALSE(decoder.Init());
  EXPECT_TRUE(decoder.Broken());
  EXPECT_FALSE(decoder.ReadFailed());
}

TEST(PpmdRangeCoderTest, EncoderStopsWritingAfterAShortWrite) {
  int calls = 0;
  auto refuse = [](void* context, const unsigned char*, unsigned long size) -> long {
    ++*static_cast<int*>(context);
    return static_cast<long>(size) - 1;
  };
  PpmdRangeEncoder encoder(refuse, &calls, 8);
  for (int i = 0; i < 1000; ++i) encoder.Encode(1, 1, 3);
  encoder.Finish();
  EXPECT_TRUE(encoder.Failed());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(encoder.BytesWritten(), 0u);
}

}  // namespace
}  // namespace korbel
