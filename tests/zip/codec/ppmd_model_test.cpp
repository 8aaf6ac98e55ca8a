#include "zip/codec/ppmd_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/zip/codec/ppmd_test_io.h"
#include "zip/codec/ppmd_range_coder.h"

namespace korbel {
namespace {

using ppmd_testing::ByteSource;
using ppmd_testing::ReadBytes;
using ppmd_testing::WriteBytes;

// Words with some noise between them: the model builds deep contexts and still meets
// new symbols often enough to escape through every order.
std::vector<uint8_t> WordSalad(size_t size, unsigned seed) {
  static const char* const kWords[] = {"context ", "model ", "escape ", "symbol ", "order ",
                                       "suffix ",  "range ", "coder ",  "unit ",   "text\n"};
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
      {PpmdModel::kRestart, 0, kMemory / 64},              // an empty model again
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
  const Case cases[] = {
      {{0xFF, 0xFF, 0xFF, 0xFE}, -1}, {{0xFF, 0x00, 0xFE, 0xFF}, 255}, {{0x00, 0x00, 0x00, 0x00}, 0}};
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

}  // namespace
}  // namespace korbel
