// The string arena: copies end in a 0 byte and outlive later copies, and
// Share keeps one copy for a run of equal pieces but never hands out bytes
// that differ from what it was given.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zip/format/string_arena.h"

namespace korbel {
namespace {

struct ShareCase {
  const char* what;
  std::vector<std::string> pieces;  // shared in this order
  std::vector<int> copyOf;          // for each piece: the earlier piece whose copy it gets, or -1 for its own
};

class StringArenaShareTest : public ::testing::TestWithParam<ShareCase> {};

TEST_P(StringArenaShareTest, EqualNeighboursShareOneCopy) {
  const ShareCase& row = GetParam();
  StringArena arena;
  std::vector<const char*> copies;
  for (const std::string& piece : row.pieces) {
    // A name copied between two shared pieces does not break their run.
    arena.Copy("name", 4);
    copies.push_back(arena.Share(piece.data(), piece.size()));
  }
  for (std::size_t i = 0; i < copies.size(); ++i) {
    EXPECT_EQ(std::string(copies[i], row.pieces[i].size()), row.pieces[i]) << i;
    EXPECT_EQ(copies[i][row.pieces[i].size()], '\0') << i;
    const int earlier = row.copyOf[i];
    if (earlier >= 0) {
      EXPECT_EQ(copies[i], copies[static_cast<std::size_t>(earlier)]) << i;
    } else {
      for (std::size_t j = 0; j < i; ++j) EXPECT_NE(copies[i], copies[j]) << i << " and " << j;
    }
  }
}

const ShareCase kShareCases[] = {
    {"RunOfEqualPieces", {"UT\x05", "UT\x05", "UT\x05"}, {-1, 0, 0}},
    {"DifferentPieces", {"abc", "abd", "ab"}, {-1, -1, -1}},
    {"OnlyTheLastPieceCounts", {"abc", "xyz", "abc"}, {-1, -1, -1}},
    {"PieceWithZeroBytes",
     {std::string("a\0b", 3), std::string("a\0c", 3), std::string("a\0c", 3)},
     {-1, -1, 1}},
    {"LongPieces",
     {std::string(100000, 'x'), std::string(100000, 'x'), std::string(100000, 'y')},
     {-1, 0, -1}},
};

INSTANTIATE_TEST_SUITE_P(Rows, StringArenaShareTest, ::testing::ValuesIn(kShareCases),
                         [](const ::testing::TestParamInfo<ShareCase>& paramInfo) {
                           return std::string(paramInfo.param.what);
                         });

// After Clear the piece shared before is gone with its block: Share must
// copy anew rather than compare with or hand out freed bytes (which the
// sanitizer build sees).
TEST(StringArenaTest, ClearForgetsTheSharedPiece) {
  StringArena arena;
  arena.Share("same", 4);
  arena.Clear();
  const char* again = arena.Share("same", 4);
  EXPECT_STREQ(again, "same");
  EXPECT_EQ(arena.Share("same", 4), again);
}

}  // namespace
}  // namespace korbel
