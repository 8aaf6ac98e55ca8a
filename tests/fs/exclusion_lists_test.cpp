#include "fs/exclusion_lists.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/pattern_list.h"

namespace {

fs::PatternList<char> Parsed(const char* text) {
  fs::PatternList<char> list;
  fs::ParsePatternList(text, list, false);
  return list;
}

bool Refuses(const fs::PatternList<char>& exclude, const char* name) {
  return !fs::PassesNameFilter(fs::PatternList<char>(), exclude, name, -1);
}

TEST(ExclusionListsTest, PatternCountsKeepTheDuplicates) {
  EXPECT_EQ(Parsed(fs::kGeneralExclusions).size(), 97u);
  EXPECT_EQ(Parsed(fs::kMicroVisionExclusions).size(), 96u);
}

TEST(ExclusionListsTest, MicroVisionListIsTheGeneralListWithoutLibraries) {
  const std::string general = fs::kGeneralExclusions;
  const std::string microVision = fs::kMicroVisionExclusions;
  EXPECT_EQ(microVision + ";*.lib", general);
  EXPECT_EQ(general.compare(0, 12, "*.exe;*.obj;"), 0);
  const std::string tail = ";*.lastbuildstate;*.ipch";
  ASSERT_GT(microVision.size(), tail.size());
  EXPECT_EQ(microVision.substr(microVision.size() - tail.size()), tail);
}

TEST(ExclusionListsTest, NamesEachListRefuses) {
  const auto general = Parsed(fs::kGeneralExclusions);
  const auto microVision = Parsed(fs::kMicroVisionExclusions);
  const struct {
    const char* name;
    bool general;
    bool microVision;
  } cases[] = {
      {"main.c", false, false},
      {"App.exe", true, true},
      {"APP.EXE", true, true},
      {"startup.lib", true, false},
      {"DRIVER.LIB", true, false},
      {"lib.lib.txt", false, false},
      {"BuildLog.htm", true, true},
      {"OldBuildLog.htm", true, true},
      {"a.keep.1", true, true},
      {"a.keep.12", true, true},
      {"a.keep.123", false, false},
      {"a.keep", true, true},
      {"Makefile", false, false},
      {"name.", true, true},
      {"x.uvgui.admin", true, true},
      {"x.uvgui", true, true},
      {"disk.001", true, true},
      {"data.dat", true, true},
      {"App_dummy.dsw", true, true},
      {"App.dsw", false, false},
      {"main.o", true, true},
      {"main.obj", true, true},
      {"x.d", true, true},
      {"x.dd", false, false},
      {".cvsignore", true, true},
      {"archive.zip", false, false},
      {"archive.zip.bin", true, true},
      {"x.__i", true, true},
      {"Debug.lastbuildstate", true, true},
      {"App.sln", false, false},
      {"App.uvprojx", false, false},
      {"notes.txt", false, false},
      {"readme.md", false, false},
      {"song.MP3", true, true},
      {"App.vcxproj.user", true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Refuses(general, c.name), c.general) << c.name;
    EXPECT_EQ(Refuses(microVision, c.name), c.microVision) << c.name;
  }
}

}  // namespace
