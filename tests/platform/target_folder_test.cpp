// The folder chain of an extraction: opened one component at a time, never
// through a link, and the place where temporary files become their targets.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::TempDir;

std::string Text(const std::string& path) {
  const testing_support::Bytes bytes = testing_support::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(TargetFolder, CreatesMissingFoldersAndTellsWhetherTheLastWasMade) {
  TempDir dir;
  TargetFolder folder;
  bool created = false;
  EXPECT_EQ(folder.Open(dir.Path().c_str(), "a/b\\c", true, &created), TargetFolder::kOpened);
  EXPECT_TRUE(created);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_EQ(folder.Open(dir.Path().c_str(), "a/b/c/", true, &created), TargetFolder::kOpened);
  EXPECT_FALSE(created);
  EXPECT_EQ(folder.Open(dir.Path().c_str(), "a/missing", false, &created), TargetFolder::kFailed);
  EXPECT_FALSE(std::filesystem::exists(dir / "a/missing"));
  EXPECT_EQ(folder.Open(dir.Path().c_str(), "a/../a", true), TargetFolder::kFailed);
  ASSERT_TRUE(testing_support::WriteFile(dir / "a/file", std::string("x")));
  EXPECT_EQ(folder.Open(dir.Path().c_str(), "a/file/below", true), TargetFolder::kFailed);
}

TEST(TargetFolder, TemporaryFileReplacesTheTargetOnlyWhenRenamed) {
  TempDir dir;
  ASSERT_TRUE(testing_support::WriteFile(dir / "out/t.txt", std::string("old")));
  TargetFolder folder;
  ASSERT_EQ(folder.Open(dir.Path().c_str(), "out", true), TargetFolder::kOpened);
  EXPECT_EQ(folder.Attributes("t.txt") & (kAttrDirectory | kAttrReparsePoint), 0u);
  EXPECT_EQ(folder.Attributes("none"), kInvalidAttributes);
  std::string temporary;
  FileCloser file(folder.CreateTemporary(&temporary));
  ASSERT_NE(file.Get(), kInvalidHandle);
  ASSERT_FALSE(temporary.empty());
  ASSERT_EQ(WriteFile(file.Get(), "new", 3), 3);
  ASSERT_TRUE(CloseFile(file.Release()));
  EXPECT_EQ(Text(dir / "out/t.txt"), "old");
  // A read-only target is replaced as an overwrite replaces it.
  ASSERT_TRUE(SetAttributes((dir / "out/t.txt").c_str(), kAttrReadOnly));
  EXPECT_TRUE(folder.Replace(temporary.c_str(), "t.txt"));
  EXPECT_EQ(Text(dir / "out/t.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists(dir / ("out/" + temporary)));
  std::string second;
  FileCloser other(folder.CreateTemporary(&second));
  ASSERT_NE(other.Get(), kInvalidHandle);
  EXPECT_NE(second, temporary);
  other.Reset();
  EXPECT_TRUE(folder.Remove(second.c_str()));
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir / "out"), std::filesystem::directory_iterator()),
      1);
}

TEST(TargetFolder, ALinkOnTheWayIsRefusedAndTheBaseMayBeOne) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "links need a POSIX file system here";
  TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directories(dir / "real/inner"));
  std::filesystem::create_directory_symlink(dir / "real", dir / "base");
  std::filesystem::create_directory_symlink(dir / "real/inner", dir / "real/link");
  TargetFolder folder;
  EXPECT_EQ(folder.Open((dir / "base").c_str(), "inner", false), TargetFolder::kOpened);
  EXPECT_EQ(folder.Open((dir / "base").c_str(), "link", true), TargetFolder::kLinkInTheWay);
  EXPECT_EQ(folder.Open((dir / "base").c_str(), "link/new", true), TargetFolder::kLinkInTheWay);
  EXPECT_FALSE(std::filesystem::exists(dir / "real/inner/new"));
  ASSERT_EQ(folder.Open((dir / "base").c_str(), "", false), TargetFolder::kOpened);
  EXPECT_EQ(folder.Attributes("link"), kAttrReparsePoint);
}

// CreateNew makes only a name nobody holds: whatever is there already - a
// file, a folder, a link to a file or to nowhere - stays as it was and is
// never followed.
TEST(TargetFolder, CreateNewRefusesEveryNameThatIsTaken) {
  struct Row {
    const char* what;
    bool needsLinks;
    void (*prepare)(const testing_support::TempDir& dir);
    bool created;
  };
  const Row rows[] = {
      {"nothing there", false, [](const testing_support::TempDir&) {}, true},
      {"a file", false,
       [](const testing_support::TempDir& dir) {
         testing_support::WriteFile(dir / "out/n.txt", std::string("old"));
       },
       false},
      {"a folder", false,
       [](const testing_support::TempDir& dir) { std::filesystem::create_directories(dir / "out/n.txt"); },
       false},
      {"a link to a file", true,
       [](const testing_support::TempDir& dir) {
         testing_support::WriteFile(dir / "victim.txt", std::string("old"));
         std::filesystem::create_symlink(dir / "victim.txt", dir / "out/n.txt");
       },
       false},
      {"a link to nowhere", true,
       [](const testing_support::TempDir& dir) {
         std::filesystem::create_symlink(dir / "planted.txt", dir / "out/n.txt");
       },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.needsLinks && !testing_support::IsPosixBuild()) {
      std::printf("skipped: %s (links need a POSIX file system here)\n", row.what);
      continue;
    }
    TempDir dir;
    std::filesystem::create_directories(dir / "out");
    row.prepare(dir);
    TargetFolder folder;
    ASSERT_EQ(folder.Open(dir.Path().c_str(), "out", false), TargetFolder::kOpened);
    FileCloser file(folder.CreateNew("n.txt"));
    EXPECT_EQ(file.Get() != kInvalidHandle, row.created);
    if (!row.created) {
      EXPECT_EQ(LastError(), static_cast<std::uint32_t>(kErrorFileExists));
      EXPECT_FALSE(std::filesystem::exists(dir / "planted.txt"));
      if (std::filesystem::exists(dir / "victim.txt")) {
        EXPECT_EQ(Text(dir / "victim.txt"), "old");
      }
      if (std::filesystem::is_regular_file(dir / "out/n.txt")) {
        EXPECT_EQ(Text(dir / "out/n.txt"), "old");
      }
      continue;
    }
    ASSERT_EQ(WriteFile(file.Get(), "new", 3), 3);
    // A second create of the same name is refused while the first is open.
    FileCloser again(folder.CreateNew("n.txt"));
    EXPECT_EQ(again.Get(), kInvalidHandle);
    ASSERT_TRUE(CloseFile(file.Release()));
    EXPECT_EQ(Text(dir / "out/n.txt"), "new");
    // A failed entry takes its new file away again.
    EXPECT_TRUE(folder.Remove("n.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/n.txt"));
  }
}

TEST(TargetFolder, CreateNewNeedsAnOpenFolder) {
  TargetFolder folder;
  EXPECT_EQ(folder.CreateNew("n.txt"), kInvalidHandle);
}

}  // namespace
}  // namespace platform
