#include "fs/module_path.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/path_kind.h"
#include "platform/platform.h"
#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::TempTree;
using fs_test::Widen;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(GetModulePathTest, NamesTheRunningProgram) {
  char path[fs::MaxPath];
  fs::GetModulePath(path, fs::MaxPath);
  ASSERT_NE(path[0], 0);
  EXPECT_EQ(fs::GetPathKind(path), fs::PathFile);
  EXPECT_NE(std::string(path).find("fs_tests"), std::string::npos);

  char16_t wide[fs::MaxPath];
  fs::GetModulePath(wide, fs::MaxPath);
  EXPECT_NE(wide[0], 0);
  EXPECT_EQ(fs::GetPathKind(wide), fs::PathFile);
}

TEST(GetModulePathTest, TooSmallBufferGivesAnEmptyText) {
  char small[6] = {'#', '#', '#', '#', '#', '#'};
  fs::GetModulePath(small, 5);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(small[5], '#');
  char one = '#';
  fs::GetModulePath(&one, 1);
  EXPECT_EQ(one, 0);
  char untouched = '#';
  fs::GetModulePath(&untouched, 0);
  EXPECT_EQ(untouched, '#');
  fs::GetModulePath<char>(nullptr, fs::MaxPath);
}

TEST(GetShortPathTest, NamesTheSameFile) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFolder("a folder with a long name"));
  ASSERT_TRUE(tree.MakeFile("a folder with a long name/file.txt"));
  const std::string path = tree.Path("a folder with a long name/file.txt");
  char shortPath[fs::MaxPath];
  const int length = fs::GetShortPath(shortPath, path.c_str(), fs::MaxPath);
  ASSERT_GT(length, 0);
  EXPECT_EQ(length, static_cast<int>(std::string(shortPath).size()));
  EXPECT_EQ(fs::GetPathKind(shortPath), fs::PathFile);
  EXPECT_TRUE(EndsWith(shortPath, "file.txt"));

  // In place.
  char buffer[fs::MaxPath];
  fs::GetShortPath(buffer, path.c_str(), fs::MaxPath);
  const std::string once = buffer;
  EXPECT_EQ(fs::GetShortPath(buffer, buffer, fs::MaxPath), static_cast<int>(once.size()));
  EXPECT_EQ(std::string(buffer), once);

  if (fs_test::IsAscii(path)) {
    char16_t wide[fs::MaxPath];
    ASSERT_GT(fs::GetShortPath(wide, Widen(path).c_str(), fs::MaxPath), 0);
    EXPECT_EQ(fs_test::Narrow(wide), once);
  }
}

TEST(GetShortPathTest, StoredNameReplacesTheGivenCase) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFile("file.txt"));
  const std::string upper = tree.Path("FILE.TXT");
  if (fs::GetPathKind(upper.c_str()) != fs::PathFile) {
    GTEST_SKIP() << "names are case-sensitive here";
  }
  char shortPath[fs::MaxPath];
  ASSERT_GT(fs::GetShortPath(shortPath, upper.c_str(), fs::MaxPath), 0);
  EXPECT_TRUE(EndsWith(shortPath, "file.txt")) << shortPath;
}

TEST(GetShortPathTest, MissingAndWildcardComponentsStay) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  char full[fs::MaxPath];
  ASSERT_GT(platform::GetFullPath(tree.Path("x").c_str(), full, fs::MaxPath), 0u);
  const char separator = full[std::string(full).size() - 2];
  const std::string tail = std::string("missing_dir") + separator + "a*b";
  char shortPath[fs::MaxPath];
  ASSERT_GT(fs::GetShortPath(shortPath, tree.Path("missing_dir/a*b").c_str(), fs::MaxPath), 0);
  EXPECT_TRUE(EndsWith(shortPath, tail)) << shortPath;
}

TEST(GetShortPathTest, ResultMustFitTheCapacity) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFile("f.txt"));
  const std::string path = tree.Path("f.txt");
  char shortPath[fs::MaxPath];
  const int length = fs::GetShortPath(shortPath, path.c_str(), fs::MaxPath);
  ASSERT_GT(length, 0);
  std::string target(static_cast<std::size_t>(length) + 4, '#');
  EXPECT_EQ(fs::GetShortPath(&target[0], path.c_str(), length), 0);
  EXPECT_EQ(target[0], 0);
  EXPECT_EQ(target[static_cast<std::size_t>(length)], '#');
  EXPECT_EQ(fs::GetShortPath(&target[0], path.c_str(), length + 1), length);

  EXPECT_EQ(fs::GetShortPath<char>(shortPath, nullptr, fs::MaxPath), 0);
  EXPECT_EQ(shortPath[0], 0);
  const std::string tooLong(1000, 'q');
  shortPath[0] = '#';
  EXPECT_EQ(fs::GetShortPath(shortPath, tooLong.c_str(), fs::MaxPath), 0);
  EXPECT_EQ(shortPath[0], 0);
}

TEST(DeleteFileForcedTest, ReadOnlyFilesAreDeletedToo) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFile("plain.txt"));
  ASSERT_TRUE(tree.MakeFile("locked.txt"));
  ASSERT_TRUE(platform::SetAttributes(tree.Path("locked.txt").c_str(), platform::kAttrReadOnly));
  EXPECT_EQ(fs::DeleteFileForced(tree.Path("plain.txt").c_str()), 1);
  EXPECT_EQ(fs::DeleteFileForced(tree.Path("locked.txt").c_str()), 1);
  EXPECT_EQ(fs::GetPathKind(tree.Path("plain.txt").c_str()), fs::PathMissing);
  EXPECT_EQ(fs::GetPathKind(tree.Path("locked.txt").c_str()), fs::PathMissing);
  EXPECT_EQ(fs::DeleteFileForced(tree.Path("plain.txt").c_str()), 0);
  EXPECT_EQ(fs::DeleteFileForced<char>(nullptr), 0);
  EXPECT_EQ(fs::DeleteFileForced(""), 0);

  ASSERT_TRUE(tree.MakeFile("wide.txt"));
  const std::string wide = tree.Path("wide.txt");
  if (fs_test::IsAscii(wide)) {
    EXPECT_EQ(fs::DeleteFileForced(Widen(wide).c_str()), 1);
    EXPECT_EQ(fs::GetPathKind(wide.c_str()), fs::PathMissing);
  }
}

}  // namespace
