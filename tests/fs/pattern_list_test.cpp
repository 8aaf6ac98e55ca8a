#include "fs/pattern_list.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::Widen;

TEST(ParsePatternListTest, EmptyItemsAreSkippedAndNothingIsTrimmed) {
  fs::PatternList<char> list;
  EXPECT_EQ(fs::ParsePatternList(";*.obj;;", list, false), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, "*.obj");
  EXPECT_EQ(list[0].literalStart, 2);

  list.clear();
  EXPECT_EQ(fs::ParsePatternList(" *.c; x ", list, false), 0);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].text, " *.c");
  EXPECT_EQ(list[1].text, " x ");

  list.clear();
  EXPECT_EQ(fs::ParsePatternList("", list, true), 0);
  EXPECT_EQ(fs::ParsePatternList(";;;", list, true), 0);
  EXPECT_EQ(fs::ParsePatternList<char>(nullptr, list, true), 0);
  EXPECT_TRUE(list.empty());
}

TEST(ParsePatternListTest, ItemsAppendToWhatTheListHolds) {
  fs::PatternList<char> list;
  fs::ParsePatternList("a;b", list, false);
  fs::ParsePatternList("c", list, false);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].text, "a");
  EXPECT_EQ(list[2].text, "c");
}

TEST(ParsePatternListTest, LiteralStartCountsLeadingStarsOfPlainItems) {
  const struct {
    const char* item;
    int literalStart;
  } cases[] = {
      {"*.exe", 2},    {"BuildLog.htm", 1}, {"**x", 3},       {"*", 2},  {"***", 4},
      {"*.keep.?", 0}, {"Proj*.zip", 0},    {"*.uvgui.*", 0}, {"a?", 0}, {"?", 0},
  };
  for (const auto& c : cases) {
    fs::PatternList<char> list;
    fs::ParsePatternList(c.item, list, false);
    ASSERT_EQ(list.size(), 1u) << c.item;
    EXPECT_EQ(list[0].literalStart, c.literalStart) << c.item;
  }
}

TEST(ParsePatternListTest, MatchAllItemsOnlyInIncludeLists) {
  fs::PatternList<char> include;
  EXPECT_EQ(fs::ParsePatternList("*.c;*;*.h", include, true), 1);
  ASSERT_EQ(include.size(), 2u);
  EXPECT_EQ(include[0].text, "*.c");
  EXPECT_EQ(include[1].text, "*.h");

  include.clear();
  EXPECT_EQ(fs::ParsePatternList("*.*", include, true), 1);
  EXPECT_TRUE(include.empty());

  // "**" and "*.*x" are ordinary items.
  EXPECT_EQ(fs::ParsePatternList("**;*.*x", include, true), 0);
  EXPECT_EQ(include.size(), 2u);

  fs::PatternList<char> exclude;
  EXPECT_EQ(fs::ParsePatternList("*;*.*", exclude, false), 0);
  EXPECT_EQ(exclude.size(), 2u);
}

// Whether a one-item exclude list refuses the name.
bool Refuses(const char* item, const char* name) {
  fs::PatternList<char> exclude;
  fs::ParsePatternList(item, exclude, false);
  return !fs::PassesNameFilter(fs::PatternList<char>(), exclude, name, -1);
}

TEST(PassesNameFilterTest, ExcludeItems) {
  const struct {
    const char* item;
    const char* name;
    bool refused;
  } cases[] = {
      {"*", "anything", true},
      {"*", "", true},
      {"*.exe", "A.EXE", true},
      {"*.exe", "a.exe", true},
      {"*.exe", ".exe", true},
      {"*.exe", "exe", false},
      {"*.exe", "a.exe.txt", false},
      {"BuildLog.htm", "BuildLog.htm", true},
      {"BuildLog.htm", "OldBuildLog.htm", true},
      {"BuildLog.htm", "BuildLog.html", false},
      {"*.keep.?", "a.keep.1", true},
      {"*.keep.?", "a.keep.12", false},
      {"*.keep.??", "a.keep.12", true},
      {"*.keep.??", "a.keep.1", false},
      {"*.", "name.", true},
      {"*.", "name", false},
      {"*_dummy.dsw", "App_dummy.DSW", true},
      {"*.uvgui.*", "p.uvgui.admin", true},
      {"*.uvgui.*", "p.uvgui", false},
      {"*.00*", "disk.001", true},
      {"*.00*", "disk.01", false},
      {"App*.zip", "App.zip", true},
      {"App*.zip", "App_old.ZIP", true},
      {"App*.zip", "MyApp.zip", false},
      {"App*.zip", "Other.zip", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Refuses(c.item, c.name), c.refused) << c.item << " / " << c.name;
  }
}

TEST(PassesNameFilterTest, IncludeListMustTakeTheName) {
  fs::PatternList<char> include;
  fs::PatternList<char> exclude;
  fs::ParsePatternList("*.c;*.h", include, true);
  fs::ParsePatternList("test*.c", exclude, false);
  EXPECT_TRUE(fs::PassesNameFilter(include, exclude, "main.c", -1));
  EXPECT_TRUE(fs::PassesNameFilter(include, exclude, "main.H", -1));
  EXPECT_FALSE(fs::PassesNameFilter(include, exclude, "main.cpp", -1));
  EXPECT_FALSE(fs::PassesNameFilter(include, exclude, "test_io.c", -1));
  // The given length counts, not the terminator.
  EXPECT_TRUE(fs::PassesNameFilter(include, exclude, "main.cpp", 6));
  // Nothing to include or exclude: every name passes.
  EXPECT_TRUE(fs::PassesNameFilter(fs::PatternList<char>(), fs::PatternList<char>(), "x", -1));
}

struct WildcardCase {
  const char* pattern;
  const char* name;
  bool matches;
};

const WildcardCase kWildcardCases[] = {
    {"a*b*c", "abc", true},
    {"a*b*c", "axbxc", true},
    {"a*b*c", "abcbc", false},  // first fit: the first b, then the first c behind it
    {"a*b*b", "abbab", false},
    {"*b", "abab", true},  // a last segment alone may end the name anywhere
    {"*?x", "x", false},
    {"*?x", "ax", true},
    {"", "", true},
    {"", "a", false},
    {"*", "", true},
    {"**", "abc", true},
    {"?", "", false},
    {"?", "a", true},
    {"??", "a", false},
    {"a?c", "abc", true},
    {"a?c", "ABC", true},
    {"a?c", "abcd", false},
    {"a?c", "ab", false},
    {"a?c*", "abcdef", true},
    {"a*?", "a", false},
    {"a*?", "ab", true},
    {"a*?", "abc", true},
    {"*?*", "", false},
    {"*?*", "x", true},
    {"*a*", "bab", true},
    {"*a*", "bbb", false},
    {"*.keep.?", "x.keep.1", true},
    {"*.keep.?", "x.keep.12", false},
    {"*.keep.??", "x.keep.12", true},
    {"*.uvgui.*", "x.uvgui.bak", true},
    {"*.uvgui.*", "x.uvgui", false},
    {"*.00*", "file.001", true},
    {"*.00*", "file.0", false},
    {"Proj*.zip", "Proj.zip", true},
    {"Proj*.zip", "Project_old.ZIP", true},
    {"Proj*.zip", "MyProj.zip", false},
    {"Proj*.zip", "Proj.zip.bak", false},
    {"x*y?z", "xAAyBz", true},
    {"x*y?z", "xyz", false},
    {"\xC4*", "\xE4x", false},  // no code-page folding
    {"\xC4*", "\xC4x", true},
};

TEST(MatchWildcardTest, Table) {
  for (const auto& c : kWildcardCases) {
    EXPECT_EQ(fs::MatchWildcard(c.pattern, -1, c.name, -1) == 0, c.matches) << c.pattern << " / " << c.name;
  }
}

TEST(MatchWildcardTest, WideFormFollowsTheSameTable) {
  for (const auto& c : kWildcardCases) {
    const std::u16string pattern = Widen(c.pattern);
    const std::u16string name = Widen(c.name);
    EXPECT_EQ(fs::MatchWildcard(pattern.c_str(), -1, name.c_str(), -1) == 0, c.matches)
        << c.pattern << " / " << c.name;
  }
  // Only ASCII letters fold in UTF-16 as well.
  EXPECT_NE(fs::MatchWildcard(u"\u00C4*", -1, u"\u00E4x", -1), 0);
}

TEST(MatchWildcardTest, GivenLengthsLimitBothTexts) {
  EXPECT_EQ(fs::MatchWildcard("abc*", 2, "ab", -1), 0);
  EXPECT_EQ(fs::MatchWildcard("a*", -1, "abc", 1), 0);
  EXPECT_EQ(fs::MatchWildcard("abc", -1, "abcd", 3), 0);
  EXPECT_EQ(fs::MatchWildcard<char>(nullptr, 5, nullptr, 7), 0);
  EXPECT_NE(fs::MatchWildcard<char>(nullptr, -1, "a", -1), 0);
  EXPECT_EQ(fs::MatchWildcard<char>("*", -1, nullptr, 3), 0);
}

TEST(MatchWildcardTest, PathologicalPatternsFinish) {
  // A backtracking matcher needs time exponential in the stars here.
  const std::string name(200000, 'a');
  std::string pattern;
  for (int i = 0; i < 30; ++i) pattern += "*a";
  pattern += "*b";
  EXPECT_NE(fs::MatchWildcard(pattern.c_str(), -1, name.c_str(), -1), 0);
  const std::string withB = name + "b";
  EXPECT_EQ(fs::MatchWildcard(pattern.c_str(), -1, withB.c_str(), -1), 0);
  const std::string questions = "*" + std::string(500, '?') + "*a*?b";
  EXPECT_NE(fs::MatchWildcard(questions.c_str(), -1, name.c_str(), -1), 0);
}

TEST(ExtensionInListTest, Table) {
  const struct {
    const char* path;
    const char* list;
    int index;
  } cases[] = {
      {"Proj.uvprojx", "UVPROJ;UVPROJX", 2},
      {"Proj.uvproj", "UVPROJ;UVPROJX", 1},
      {"C:\\src\\App\\App.UvProjX", "UVPROJ;UVPROJX", 2},
      {".uvproj", "UVPROJ;UVPROJX", 0},
      {"dir\\.uvproj", "UVPROJ;UVPROJX", 0},
      {"Proj.uvproj.bak", "UVPROJ;UVPROJX", 0},
      {"Proj", "A;;B", 2},
      {"Proj", "", 1},
      {"Proj.x", "", 0},
      {"name.", "a;", 2},  // a dot at the end: an empty extension
      {"a:b.c", "c", 1},
      {"a.b:c", "b:c;", 2},  // ':' ends the search: no extension
      {"C:.x", "x", 0},
      {"a.b\\c", ";b", 1},
      {"Proj.dsp", "DSP;DSW;SLN", 1},
      {"Proj.sln", "DSP;DSW;SLN", 3},
      {"Proj.sl", "DSP;DSW;SLN", 0},
      {"Proj.slnx", "DSP;DSW;SLN", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fs::ExtensionInList(c.path, c.list, -1), c.index) << c.path << " in " << c.list;
    const std::u16string path = Widen(c.path);
    const std::u16string list = Widen(c.list);
    EXPECT_EQ(fs::ExtensionInList(path.c_str(), list.c_str(), -1), c.index) << c.path;
  }
}

TEST(ExtensionInListTest, LengthAndNullArguments) {
  EXPECT_EQ(fs::ExtensionInList("a.uvprojx", "UVPROJ;UVPROJX", 8), 1);
  EXPECT_EQ(fs::ExtensionInList<char>("a.c", nullptr, -1), 0);
  EXPECT_EQ(fs::ExtensionInList<char>(nullptr, "x;", -1), 2);
}

}  // namespace
