#include "tools/korbel/entry_selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korbel_tool {
namespace {

const char* const kNames[] = {"src",          "src/main.c", "src/util/Helper.C", "src/util/notes.txt",
                              "srcx/other.c", "README",     "lib/x.h",           "a;b.c"};

// The entries a selection takes, joined by spaces.
std::string Taken(const std::vector<const char*>& given) {
  EntrySelection selection(given);
  std::string taken;
  for (const char* name : kNames) {
    if (selection.Takes(name)) taken += (taken.empty() ? "" : " ") + std::string(name);
  }
  return taken;
}

TEST(EntrySelectionTest, TakesByNameFolderAndPattern) {
  struct Case {
    std::vector<const char*> given;
    const char* taken;
  } const cases[] = {
      {{}, "src src/main.c src/util/Helper.C src/util/notes.txt srcx/other.c README lib/x.h a;b.c"},
      {{"src/"}, "src src/main.c src/util/Helper.C src/util/notes.txt"},
      {{"src"}, "src src/main.c src/util/Helper.C src/util/notes.txt"},
      {{"src\\util\\"}, "src/util/Helper.C src/util/notes.txt"},
      {{"*.c"}, "src/main.c src/util/Helper.C srcx/other.c a;b.c"},
      {{"src/*"}, "src/main.c src/util/Helper.C src/util/notes.txt"},
      {{"SRC/UTIL/*"}, "src/util/Helper.C src/util/notes.txt"},
      {{"?EADME"}, "README"},
      {{"readme"}, ""},  // a plain name is taken as it is spelled
      {{"src/main.c", "lib/x.h"}, "src/main.c lib/x.h"},
      {{"a;b.*"}, "a;b.c"},
      {{"sr"}, ""},  // a folder is a whole component, not a prefix
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Taken(c.given), c.taken) << (c.given.empty() ? "(none)" : c.given[0]);
  }
}

TEST(EntrySelectionTest, NamesThatTookNothingAreReported) {
  EntrySelection selection({"src/", "nothing*", "missing.txt"});
  for (const char* name : kNames) selection.Takes(name);
  EXPECT_EQ(selection.Unused(), (std::vector<std::string>{"nothing*", "missing.txt"}));
}

TEST(EntrySelectionTest, PathologicalPatternStaysFast) {
  EntrySelection selection({"*a*a*a*a*a*a*a*a*a*b"});
  const std::string name(5000, 'a');
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(selection.Takes(name.c_str()));
}

}  // namespace
}  // namespace korbel_tool
