#include "fs/file_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fs/path_kind.h"
#include "platform/platform.h"
#include "tests/fs/fs_test_support.h"
#include "tests/support/test_support.h"

namespace {

using fs_test::Narrow;
using fs_test::TempTree;
using fs_test::Widen;

// The relative paths of every item of a walk, in delivery order.
std::vector<std::string> Walk(fs::FileFinder& finder) {
  std::vector<std::string> paths;
  while (const fs::FileFinder::Item* item = finder.NextItem()) {
    int length = -1;
    const char* relative = finder.ItemPath(item, true, &length);
    EXPECT_NE(relative, nullptr);
    if (!relative) break;
    EXPECT_EQ(length, static_cast<int>(std::string(relative).size()));
    paths.emplace_back(relative);
  }
  return paths;
}

std::vector<std::string> Walk(const std::string& start, bool recursive, const char* include,
                              const char* exclude) {
  fs::FileFinder finder;
  finder.StartWalk(start.c_str(), recursive, include, exclude);
  return Walk(finder);
}

// The order in which the platform lists two names of a folder.
bool ListedBefore(const TempTree& tree, const std::string& first, const std::string& second) {
  platform::FindData<char> found;
  const platform::SearchHandle search = platform::FindFirst(tree.Path("*").c_str(), &found);
  if (search == platform::kInvalidSearch) return true;
  bool before = true;
  do {
    if (found.name == first) break;
    if (found.name == second) {
      before = false;
      break;
    }
  } while (platform::FindNext(search, &found));
  platform::FindClose(search);
  return before;
}

class FileFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.Ok());
    ASSERT_TRUE(tree_.MakeFile("a.c", "aaa"));
    ASSERT_TRUE(tree_.MakeFolder("sub1"));
    ASSERT_TRUE(tree_.MakeFolder("sub2"));
    ASSERT_TRUE(tree_.MakeFolder("sub1/deep"));
    ASSERT_TRUE(tree_.MakeFile("sub1/b.c"));
    ASSERT_TRUE(tree_.MakeFile("sub2/c.c"));
    ASSERT_TRUE(tree_.MakeFile("sub1/deep/d.c"));
  }

  TempTree tree_;
};

TEST_F(FileFinderTest, DeliversBreadthFirst) {
  const bool sub1First = ListedBefore(tree_, "sub1", "sub2");
  const std::vector<std::string> expected =
      sub1First ? std::vector<std::string>{"a.c", "sub1\\b.c", "sub2\\c.c", "sub1\\deep\\d.c"}
                : std::vector<std::string>{"a.c", "sub2\\c.c", "sub1\\b.c", "sub1\\deep\\d.c"};
  EXPECT_EQ(Walk(tree_.Root(), true, "*", nullptr), expected);
  // A trailing separator and '/' separators change nothing.
  EXPECT_EQ(Walk(tree_.Root() + tree_.Separator(), true, "*", nullptr), expected);
  EXPECT_EQ(Walk(tree_.Root() + "/", true, nullptr, nullptr), expected);
}

TEST_F(FileFinderTest, LinkedFoldersAreNotDescended) {
  // A link back to the start folder would otherwise deliver the tree again
  // and again until the paths grew too long.
  std::error_code error;
  std::filesystem::create_directory_symlink(tree_.Root(), tree_.Path("sub2/loop"), error);
  if (error) GTEST_SKIP() << "no symbolic links here";
  const std::vector<std::string> paths = Walk(tree_.Root(), true, "*", nullptr);
  EXPECT_EQ(paths.size(), 4u);
  for (const std::string& path : paths) EXPECT_EQ(path.find("loop"), std::string::npos) << path;
}

TEST_F(FileFinderTest, PipesSocketsDevicesAndDanglingLinksArePassedOver) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "pipes and sockets are made with the host's tools";
  namespace stdfs = std::filesystem;
  std::error_code error;
  stdfs::create_symlink("/dev/zero", tree_.Path("zero.c"), error);
  if (error) GTEST_SKIP() << "no symbolic links here";
  stdfs::create_symlink(tree_.Path("gone"), tree_.Path("dangling.c"), error);
  stdfs::create_symlink(tree_.Path("a.c"), tree_.Path("sub2/alias.c"), error);
  ASSERT_EQ(testing_support::RunCommand("mkfifo " + testing_support::Quote(tree_.Path("sub1/pipe.c"))), 0);
  ASSERT_EQ(testing_support::RunCommand(
                "python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' " +
                testing_support::Quote(tree_.Path("socket.c"))),
            0);
  std::vector<std::string> paths = Walk(tree_.Root(), true, "*", nullptr);
  std::sort(paths.begin(), paths.end());
  // A link to a regular file is that file; nothing else but the tree's files.
  EXPECT_EQ(paths,
            (std::vector<std::string>{"a.c", "sub1\\b.c", "sub1\\deep\\d.c", "sub2\\alias.c", "sub2\\c.c"}));
}

TEST_F(FileFinderTest, LongPathsAreDeliveredWholeOrReported) {
  // Full paths far beyond 260 bytes are delivered as they are; a path that
  // does not fit the walk's buffer is never cut, and the walk says so.
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "paths beyond MAX_PATH are made on the host";
  const std::string part(120, 'p');
  std::string relative;
  while (tree_.Root().size() + relative.size() + 2 * part.size() < 380) relative += part + "/";
  ASSERT_TRUE(std::filesystem::create_directories(tree_.Path(relative)));
  const std::string name = std::string(380 - tree_.Path(relative).size(), 'n');
  ASSERT_TRUE(testing_support::WriteFile(tree_.Path(relative + name), std::string("long")));
  ASSERT_EQ(tree_.Path(relative + name).size(), 380u);
  {
    fs::FileFinder finder;
    finder.StartWalk(tree_.Root().c_str(), true, "*", nullptr);
    std::vector<std::string> paths;
    while (const fs::FileFinder::Item* item = finder.NextItem())
      paths.emplace_back(finder.ItemPath(item, false));
    EXPECT_FALSE(finder.PathsTooLong());
    std::string expected = tree_.Path(relative + name);
    for (char& c : expected) c = c == '/' ? '\\' : c;
    EXPECT_EQ(std::count(paths.begin(), paths.end(), expected), 1);
    EXPECT_EQ(paths.size(), 5u);
  }

  std::string deeper = relative;
  while (tree_.Root().size() + deeper.size() < fs::FileFinder::PathCapacity + 10) deeper += part + "/";
  ASSERT_TRUE(std::filesystem::create_directories(tree_.Path(deeper)));
  ASSERT_TRUE(testing_support::WriteFile(tree_.Path(deeper + "x.c"), std::string("far")));
  fs::FileFinder finder;
  finder.StartWalk(tree_.Root().c_str(), true, "*", nullptr);
  const std::vector<std::string> paths = Walk(finder);
  EXPECT_TRUE(finder.PathsTooLong());
  EXPECT_EQ(paths.size(), 5u);
  for (const std::string& path : paths)
    EXPECT_LT(tree_.Root().size() + 1 + path.size(), std::size_t{fs::FileFinder::PathCapacity});

  // A start folder beyond the walk's root buffer: nothing delivered, and said so.
  fs::FileFinder deep;
  deep.StartWalk(tree_.Path(deeper).c_str(), true, "*", nullptr);
  EXPECT_TRUE(Walk(deep).empty());
  EXPECT_TRUE(deep.PathsTooLong());
}

TEST_F(FileFinderTest, WithoutRecursionOnlyTheStartFolder) {
  EXPECT_EQ(Walk(tree_.Root(), false, "*", nullptr), std::vector<std::string>{"a.c"});
}

TEST_F(FileFinderTest, ItemPathAndInfo) {
  fs::FileFinder finder;
  finder.StartWalk(tree_.Root().c_str(), true, "*", nullptr);
  const fs::FileFinder::Item* first = finder.NextItem();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->name, "a.c");
  ASSERT_NE(finder.ItemInfo(first), nullptr);
  EXPECT_EQ(finder.ItemInfo(first)->size, 3u);
  EXPECT_NE(finder.ItemInfo(first)->attributes & fs::InfoAlways, 0u);

  int length = 0;
  const std::string full = finder.ItemPath(first, false, &length);
  EXPECT_EQ(length, static_cast<int>(full.size()));
  EXPECT_EQ(full.substr(0, static_cast<std::size_t>(finder.RootLength())), std::string(finder.RootFolder()));
  EXPECT_EQ(full.substr(static_cast<std::size_t>(finder.RootLength())), "a.c");
  EXPECT_EQ(fs::GetPathKind(full.c_str()), fs::PathFile);
  EXPECT_EQ(finder.RootFolder()[finder.RootLength() - 1], '\\');

  // The next item lies in another folder: the first one's batch is gone.
  const fs::FileFinder::Item* second = finder.NextItem();
  ASSERT_NE(second, nullptr);
  const std::string secondPath = finder.ItemPath(second, false);
  EXPECT_EQ(fs::GetPathKind(secondPath.c_str()), fs::PathFile);
  fs::FileFinder::Item stranger{fs::FileInfo{}, "x"};
  EXPECT_EQ(finder.ItemPath(&stranger, false), nullptr);
  EXPECT_EQ(finder.ItemPath(nullptr, true, &length), nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(finder.ItemInfo(nullptr), nullptr);
}

TEST_F(FileFinderTest, FoldersAreDescendedWhateverTheirNames) {
  ASSERT_TRUE(tree_.MakeFolder("Debug"));
  ASSERT_TRUE(tree_.MakeFile("Debug/keep.c"));
  ASSERT_TRUE(tree_.MakeFile("Debug/drop.obj"));
  ASSERT_TRUE(tree_.MakeFile("Debug/Debug"));
  const auto paths = Walk(tree_.Root(), true, "*", "Debug;*.obj");
  EXPECT_NE(std::find(paths.begin(), paths.end(), "Debug\\keep.c"), paths.end());
  EXPECT_EQ(std::find(paths.begin(), paths.end(), "Debug\\drop.obj"), paths.end());
  EXPECT_EQ(std::find(paths.begin(), paths.end(), "Debug\\Debug"), paths.end());
  EXPECT_EQ(paths.size(), 5u);
}

TEST_F(FileFinderTest, HiddenFilesAreDelivered) {
  ASSERT_TRUE(tree_.MakeFile(".hidden.c"));
  platform::SetAttributes(tree_.Path(".hidden.c").c_str(), platform::kAttrHidden);
  fs::FileFinder finder;
  finder.StartWalk(tree_.Root().c_str(), false, "*.c", nullptr);
  bool seen = false;
  while (const fs::FileFinder::Item* item = finder.NextItem()) {
    if (item->name == ".hidden.c") {
      seen = true;
      EXPECT_NE(item->info.attributes & fs::InfoHidden, 0u);
    }
  }
  EXPECT_TRUE(seen);
}

TEST_F(FileFinderTest, IncludeAndExcludeLists) {
  ASSERT_TRUE(tree_.MakeFile("a.h"));
  ASSERT_TRUE(tree_.MakeFile("sub2/test.c"));
  EXPECT_EQ(Walk(tree_.Root(), false, "*.h", nullptr), std::vector<std::string>{"a.h"});
  auto paths = Walk(tree_.Root(), true, "*.c;*.h", "test*");
  EXPECT_EQ(paths.size(), 5u);
  EXPECT_EQ(std::find(paths.begin(), paths.end(), "sub2\\test.c"), paths.end());
  // "*" among the include items takes every name.
  paths = Walk(tree_.Root(), true, "*.h;*", nullptr);
  EXPECT_EQ(paths.size(), 6u);
  // Include lists with empty items are fine.
  EXPECT_EQ(Walk(tree_.Root(), false, ";;*.h;", ";"), std::vector<std::string>{"a.h"});
}

TEST_F(FileFinderTest, FileStartPathDeliversOnlyThatFile) {
  fs::FileFinder finder;
  finder.StartWalk(tree_.Path("a.c").c_str(), true, "*.h", nullptr);
  EXPECT_FALSE(finder.Recursive());
  EXPECT_TRUE(finder.SinglePattern());
  EXPECT_EQ(Walk(finder), std::vector<std::string>{"a.c"});
  // The exclusion list still applies.
  EXPECT_TRUE(Walk(tree_.Path("a.c"), true, "*", "*.c").empty());
}

TEST_F(FileFinderTest, WildcardsInTheStartPath) {
  EXPECT_EQ(Walk(tree_.Path("*.c"), false, nullptr, nullptr), std::vector<std::string>{"a.c"});
  auto paths = Walk(tree_.Path("*.c"), true, nullptr, nullptr);
  EXPECT_EQ(paths.size(), 4u);
  paths = Walk(tree_.Path("b*"), true, nullptr, nullptr);
  EXPECT_EQ(paths, std::vector<std::string>{"sub1\\b.c"});
}

TEST_F(FileFinderTest, MissingStartNameBecomesAPattern) {
  // No b.c in the start folder: its name is looked for below it.
  EXPECT_EQ(Walk(tree_.Path("b.c"), true, nullptr, nullptr), std::vector<std::string>{"sub1\\b.c"});
  EXPECT_TRUE(Walk(tree_.Path("b.c"), false, nullptr, nullptr).empty());
}

TEST_F(FileFinderTest, UnreadableFolderYieldsNothing) {
  ASSERT_TRUE(tree_.MakeFolder("locked"));
  ASSERT_TRUE(tree_.MakeFile("locked/secret.c"));
  const std::filesystem::path locked(tree_.Path("locked"));
  std::error_code error;
  std::filesystem::permissions(locked, std::filesystem::perms::none, error);
  struct Restore {
    std::filesystem::path path;
    ~Restore() {
      std::error_code ignored;
      std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
    }
  } restore{locked};

  // Whoever may read it anyway (the superuser, or a system without such
  // permissions) cannot show this case.
  platform::FindData<char> found;
  const platform::SearchHandle probe =
      platform::FindFirst((tree_.Path("locked") + tree_.Separator() + "*").c_str(), &found);
  if (probe != platform::kInvalidSearch) {
    platform::FindClose(probe);
    GTEST_SKIP() << "the locked folder is readable here";
  }
  const auto paths = Walk(tree_.Root(), true, "*", nullptr);
  EXPECT_EQ(paths.size(), 4u);
  EXPECT_EQ(std::find(paths.begin(), paths.end(), "locked\\secret.c"), paths.end());
}

TEST_F(FileFinderTest, WideWalkMatchesTheNarrowOne) {
  if (!fs_test::IsAscii(tree_.Root())) GTEST_SKIP() << "temporary folder is not ASCII";
  fs::WideFileFinder finder;
  finder.StartWalk(Widen(tree_.Root()).c_str(), true, u"*", nullptr);
  std::vector<std::string> wide;
  while (const fs::WideFileFinder::Item* item = finder.NextItem()) {
    wide.push_back(Narrow(finder.ItemPath(item, true)));
  }
  EXPECT_EQ(wide, Walk(tree_.Root(), true, "*", nullptr));
}

TEST_F(FileFinderTest, RestartAndRelease) {
  fs::FileFinder finder;
  finder.StartWalk(tree_.Root().c_str(), false, "*", nullptr);
  EXPECT_EQ(Walk(finder).size(), 1u);
  // A finished walk stays finished.
  EXPECT_EQ(finder.NextItem(), nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
  finder.StartWalk(tree_.Root().c_str(), true, "*", nullptr);
  ASSERT_NE(finder.NextItem(), nullptr);
  finder.ReleaseWalk();
  EXPECT_EQ(finder.NextItem(), nullptr);
  finder.StartWalk(tree_.Root().c_str(), true, "*", nullptr);
  EXPECT_EQ(Walk(finder).size(), 4u);
}

TEST(FileFinderEdgeTest, EmptyFolderEndsAtOnce) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  fs::FileFinder finder;
  finder.StartWalk(tree.Root().c_str(), true, "*", nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
}

TEST(FileFinderEdgeTest, BadStartPaths) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  fs::FileFinder finder;
  finder.StartWalk(nullptr, true, "*", nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
  finder.StartWalk("", true, "*", nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
  // Longer than the start-folder buffer.
  const std::string tooLong = tree.Path(std::string(600, 'n'));
  finder.StartWalk(tooLong.c_str(), true, "*", nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
  // A folder that does not exist, given with a trailing separator.
  finder.StartWalk((tree.Path("none") + tree.Separator()).c_str(), true, "*", nullptr);
  EXPECT_EQ(finder.NextItem(), nullptr);
}

}  // namespace
