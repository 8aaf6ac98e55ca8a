#include "zip/codec/ppmd_allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace korbel {
namespace {

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

}  // namespace
}  // namespace korbel
