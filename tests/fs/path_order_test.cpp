#include "fs/path_order.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/path_kind.h"
#include "platform/platform.h"
#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::Widen;

TEST(PathWeightTest, Table) {
  const struct {
    char c;
    int weight;
  } cases[] = {
      {'\0', 0},        {'/', 1},         {'\\', 1},        {'.', 2},         {' ', 3},
      {'_', 4},         {'(', 8},         {'[', 9},         {'{', 10},        {'<', 11},
      {')', 12},        {']', 13},        {'}', 14},        {'>', 15},        {':', 0x101},
      {';', 0x102},     {',', 0x103},     {'|', 0x104},     {'0', 0x3080},    {'9', 0x3980},
      {'A', 0x6100},    {'a', 0x6100},    {'Z', 0x7A00},    {'z', 0x7A00},    {'-', 0x2D00},
      {'!', 0x2100},    {'\x80', 0x8000}, {'\xC0', 0x6101}, {'\xE0', 0x6101}, {'\xC6', 0x6107},
      {'\xE6', 0x6107}, {'\xC7', 0x6701}, {'\xE7', 0x6701}, {'\xC8', 0x6501}, {'\xEB', 0x6504},
      {'\xCC', 0x6901}, {'\xEF', 0x6904}, {'\xD0', 0x6401}, {'\xF0', 0x6401}, {'\xD1', 0x6E01},
      {'\xF1', 0x6E01}, {'\xD2', 0x6F01}, {'\xD6', 0x6F05}, {'\xF6', 0x6F05}, {'\xD7', 0xF700},
      {'\xF7', 0xF700}, {'\xD8', 0xF800}, {'\xF8', 0xF800}, {'\xD9', 0x7501}, {'\xDC', 0x7504},
      {'\xFC', 0x7504}, {'\xDD', 0xFD00}, {'\xFD', 0xFD00}, {'\xDE', 0x7901}, {'\xFE', 0x7901},
      {'\xDF', 0xDF00}, {'\xFF', 0xFF00},
  };
  for (const auto& c : cases) {
    const unsigned code = static_cast<unsigned char>(c.c);
    EXPECT_EQ(fs::PathWeight(c.c), c.weight) << std::hex << code;
    EXPECT_EQ(fs::PathWeight(static_cast<char16_t>(code)), c.weight) << std::hex << code;
  }
  EXPECT_EQ(fs::PathWeight(u'\u0100'), 0x10000);
  EXPECT_EQ(fs::PathWeight(u'\uFFFF'), 0xFFFF00);
}

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(PathOrderTest, Table) {
  const struct {
    const char* first;
    const char* second;
    int sign;
  } cases[] = {
      {"dir\\zzz", "dir\\a\\b", -1},  // a name that ends sorts before a subfolder
      {"dir\\a\\b", "dir\\zzz", 1},
      {"ac", "ab\\x", -1},
      {"C:\\P\\A.ZIP", "c:/p/a.zip", 0},
      {"a", "b", -1},
      {"a", "ab", -1},
      {"a.txt", "a_b", -1},
      {"a.b", "a b", -1},
      {"file10", "file9", -1},  // no numeric order
      {"azz", "\xE4", -1},      // ä follows every a..., precedes b
      {"\xE4", "b", -1},
      {"\xC4rger", "\xE4rger", 0},
      {"x(1)", "x[1]", -1},
      {"", "", 0},
      {"", "a", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sign(fs::PathOrder(c.first, c.second)), c.sign) << c.first << " / " << c.second;
    const std::u16string first = Widen(c.first);
    const std::u16string second = Widen(c.second);
    EXPECT_EQ(Sign(fs::PathOrder(first.c_str(), second.c_str())), c.sign) << c.first;
  }
  EXPECT_LT(fs::PathOrder<char>(nullptr, "a"), 0);
  EXPECT_EQ(fs::PathOrder<char>(nullptr, nullptr), 0);
}

TEST(ComparePathsTest, CaseCountsOnlyWithoutFlagFour) {
  EXPECT_EQ(fs::ComparePaths("C:\\P\\A.ZIP", "c:/p/a.zip", fs::CompareIgnoreCase), 0);
  EXPECT_LT(fs::ComparePaths("A.zip", "a.zip", 0), 0);
  EXPECT_GT(fs::ComparePaths("a.zip", "A.zip", 0), 0);
  EXPECT_EQ(fs::ComparePaths("dir\\a.zip", "dir/a.zip", 0), 0);
  // The weights decide first, so case never outweighs a real difference.
  EXPECT_LT(fs::ComparePaths("a.zip", "B.zip", 0), 0);
}

TEST(ComparePathsTest, ResolutionFlags) {
  // Flags 7, as the add operation uses them to recognise its own archive.
  EXPECT_EQ(fs::ComparePaths("C:\\P\\A.ZIP", "c:/p/a.zip", 7), 0);
  EXPECT_EQ(fs::ComparePaths("sub\\..\\a.zip", "a.zip", 7), 0);
  EXPECT_NE(fs::ComparePaths("sub\\..\\a.zip", "a.zip", 4), 0);
  EXPECT_NE(fs::ComparePaths("sub\\..\\a.zip", "a.zip", 2 | 4), 0);

  char full[fs::MaxPath];
  ASSERT_GT(platform::GetFullPath("a.zip", full, fs::MaxPath), 0u);
  EXPECT_EQ(fs::ComparePaths("sub/../A.ZIP", full, 1 | 4), 0);
  EXPECT_NE(fs::ComparePaths(full, "sub/../A.ZIP", 1 | 4), 0);
  EXPECT_EQ(fs::ComparePaths(full, "sub/../A.ZIP", 2 | 4), 0);

  const std::u16string wideFull = Widen(full);
  if (fs_test::IsAscii(full)) {
    EXPECT_EQ(fs::ComparePaths(u"sub/../A.ZIP", wideFull.c_str(), 7), 0);
  }
}

}  // namespace
