#include "zip/extract_path.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "zip/error_codes.h"

namespace korbel {
namespace {

// Both kinds of separator and drive letters count on every system, so
// Windows-style and POSIX-style names meet the same rules here.
TEST(ExtractPathTest, StoredNamesThatWouldLeaveTheFolderAreRefused) {
  const std::string longName(512, 'n');
  const std::vector<std::string> refused = {
      // Windows-style: still absolute once a drive and one leading '\' and
      // one '/' after it were dropped, a second drive, climbing.
      "/\\f",
      "C:\\\\f",
      "\\\\server\\share\\f",
      "C:C:f",
      "dir\\..\\..\\f",
      "..\\f",
      "C:..\\f",
      // POSIX-style.
      "//etc/x",
      "../x",
      "a/../../b",
      "a/..",
      "..",
      // Rooted once the "." components are gone.
      "./C:x",
      ".\\C:\\x",
      ".//x",
      "./\\x",
      "././/x",
      // A NUL would cut the name short on disk.
      std::string("a\0b", 3),
      std::string("C:a\0", 4),
      // "/t/" and the name with its terminator are over 516 characters.
      longName + "n",
  };
  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    ExtractPlace place;
    EXPECT_EQ(PlaceInFolder("/t", name, &place), kBadPath);
    EXPECT_EQ(PlaceInFolder("C:\\out\\", name, &place), kBadPath);
  }
  ExtractPlace place;
  EXPECT_EQ(PlaceInFolder("/t/", longName + "n", &place), kBadPath);
}

// The places a stored name gets in a folder.
TEST(ExtractPathTest, StoredNamesFindTheirPlaceInTheFolder) {
  struct Row {
    const char* what;
    std::string folder;
    std::string name;
    std::string path;
    std::string relative;
    std::string parent;
    std::string leaf;
  };
  const std::string longName(512, 'n');
  const std::vector<Row> rows = {
      {"plain name", "/t", "a.txt", "/t/a.txt", "a.txt", "", "a.txt"},
      {"folder ends in a separator", "/t/", "a.txt", "/t/a.txt", "a.txt", "", "a.txt"},
      {"Windows folder", "C:\\out\\", "d\\f", "C:\\out\\d\\f", "d\\f", "d", "f"},
      // Windows-style names.
      {"drive and backslash", "/t", "C:\\dir\\f.txt", "/t/dir\\f.txt", "dir\\f.txt", "dir", "f.txt"},
      {"drive only", "/t", "C:f.txt", "/t/f.txt", "f.txt", "", "f.txt"},
      {"drive and slash", "/t", "C:/f", "/t/f", "f", "", "f"},
      {"drive, backslash, slash", "/t", "C:\\/f", "/t/f", "f", "", "f"},
      {"any letter before a colon is a drive", "/t", "x:name", "/t/name", "name", "", "name"},
      {"a colon further on stays", "/t", "ab:c", "/t/ab:c", "ab:c", "", "ab:c"},
      {"one leading backslash", "/t", "\\f", "/t/f", "f", "", "f"},
      {"backslash then slash", "/t", "\\/f", "/t/f", "f", "", "f"},
      {"trailing backslash", "/t", "dir\\f\\", "/t/dir\\f\\", "dir\\f", "dir", "f"},
      // POSIX-style names.
      {"absolute name loses its slash", "/t", "/etc/x", "/t/etc/x", "etc/x", "etc", "x"},
      {"dots inside a component", "/t", "a/..b/c...", "/t/a/..b/c...", "a/..b/c...", "a/..b", "c..."},
      {"three dots", "/t", "...", "/t/...", "...", "", "..."},
      // "." components go, with the separator behind them.
      {"a dot component", "/t", "a/./b", "/t/a/b", "a/b", "a", "b"},
      {"leading dot, as archiving \".\" stores names", "/t", "./d/f", "/t/d/f", "d/f", "d", "f"},
      {"dot components of either separator", "/t", ".\\d\\.\\.\\f", "/t/d\\f", "d\\f", "d", "f"},
      {"the folder \".\" itself", "/t", "./", "/t/", "", "", ""},
      {"a trailing dot", "/t", "a/.", "/t/a/", "a", "", "a"},
      {"dots inside stay", "/t", "./.x/x.", "/t/.x/x.", ".x/x.", ".x", "x."},
      {"empty component", "/t", "a//b", "/t/a//b", "a//b", "a/", "b"},
      {"trailing slash", "/t", "a/b/", "/t/a/b/", "a/b", "a", "b"},
      {"trailing slashes", "/t", "a///", "/t/a///", "a", "", "a"},
      {"empty name is the folder itself", "/t", "", "/t/", "", "", ""},
      {"a lone slash too", "/t", "/", "/t/", "", "", ""},
      // The joined path and its terminator fit 516 characters.
      {"join of 515", "/t", longName, "/t/" + longName, longName, "", longName},
      {"a dropped drive does not count", "/t", "C:\\" + longName, "/t/" + longName, longName, "", longName},
      {"join of 515, folder with its separator", "/t/", longName, "/t/" + longName, longName, "", longName},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ExtractPlace place;
    ASSERT_EQ(PlaceInFolder(row.folder, row.name, &place), kOk);
    EXPECT_EQ(place.base, row.folder);
    EXPECT_EQ(place.path, row.path);
    EXPECT_EQ(place.relative, row.relative);
    EXPECT_EQ(place.parent, row.parent);
    EXPECT_EQ(place.leaf, row.leaf);
    EXPECT_LT(place.path.size(), kJoinedCapacity);
    // What is opened below the base never climbs out of it.
    EXPECT_FALSE(EscapesTarget(place.relative));
  }
}

// A path the caller names is taken as given: its folder part is the base.
TEST(ExtractPathTest, TargetPathSplitsIntoBaseAndName) {
  struct Row {
    const char* target;
    int code;
    const char* base = nullptr;
    const char* relative = nullptr;
  };
  const std::vector<Row> rows = {
      {"out/file.txt", kOk, "out/", "file.txt"}, {"file.txt", kOk, "./", "file.txt"},
      {"C:\\dir\\f", kOk, "C:\\dir\\", "f"},     {"C:f", kOk, "./", "C:f"},
      {"/abs/../f", kOk, "/abs/../", "f"},       {"\\\\server\\share\\f", kOk, "\\\\server\\share\\", "f"},
      {"", kBadPath, nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    ExtractPlace place;
    ASSERT_EQ(PlaceAtPath(row.target, &place), row.code);
    if (row.code != kOk) continue;
    EXPECT_EQ(place.path, row.target);
    EXPECT_EQ(place.base, row.base);
    EXPECT_EQ(place.relative, row.relative);
    EXPECT_EQ(place.parent, "");
    EXPECT_EQ(place.leaf, row.relative);
  }
}

TEST(ExtractPathTest, LinksOnTheWayAreBadPathsAndFoldersCannotBeCreatedOver) {
  EXPECT_EQ(CodeForFolderOpen(platform::TargetFolder::kOpened), kOk);
  EXPECT_EQ(CodeForFolderOpen(platform::TargetFolder::kLinkInTheWay), kBadPath);
  EXPECT_EQ(CodeForFolderOpen(platform::TargetFolder::kFailed), kFileCreateError);

  struct Row {
    const char* what;
    std::uint32_t attributes;
    int code;
  };
  const std::vector<Row> rows = {
      {"nothing there", platform::kInvalidAttributes, kOk},
      {"a plain file", 0x20, kOk},
      {"a read-only file", 0x01, kOk},
      {"a link", platform::kAttrReparsePoint, kBadPath},
      {"a link to a folder", platform::kAttrReparsePoint | platform::kAttrDirectory, kBadPath},
      {"a folder", platform::kAttrDirectory, kFileCreateError},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(CodeForPresentLeaf(row.attributes), row.code);
  }
}

// Names a Windows file system would store under another name (or refuse):
// checked on every build, the rule is text only.
TEST(ExtractPathTest, NamesThatWindowsWouldChangeAreFound) {
  struct Row {
    const char* name;
    bool changed;
  };
  const std::vector<Row> rows = {
      {"same.txt", false},
      {"same.txt.", true},
      {"same.txt ", true},
      {"dir./a.txt", true},
      {"dir /a.txt", true},
      {"a/b/c.txt", false},
      {".hidden", false},
      {"a..b", false},
      {" lead.txt", false},
      {"...", true},
      {"a:b.txt", true},
      {"a<b", true},
      {"a>b", true},
      {"a\"b", true},
      {"a|b", true},
      {"a?b", true},
      {"a*b", true},
      {"tab\there", true},
      {"\x7F.txt", false},
      // Device names, with or without an extension, in any case.
      {"CON", true},
      {"con.txt", true},
      {"Nul", true},
      {"aux.c", true},
      {"prn", true},
      {"COM1", true},
      {"lpt9.log", true},
      {"com0", true},
      {"COM\xC2\xB9", true},
      {"lpt\xC2\xB3.txt", true},
      {"CONIN$", true},
      {"conout$.x", true},
      {"CON .txt", true},
      {"src/nul/x.c", true},
      // Near misses.
      {"CONSOLE.txt", false},
      {"COM10", false},
      {"COM", false},
      {"xcon", false},
      {"LPT", false},
      {"COM\xC2\xB4", false},
      {"\xE4\xB8\xAD.txt", false},
      {"\xD0\x96.txt", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WindowsChangesName(row.name), row.changed);
  }
}

}  // namespace
}  // namespace korbel
