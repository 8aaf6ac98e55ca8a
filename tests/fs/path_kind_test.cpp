#include "fs/path_kind.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::TempTree;
using fs_test::Widen;

// A drive letter whose bit is clear in the mask of present drives.
char AbsentDrive() {
  const std::uint32_t drives = platform::LogicalDrives();
  for (int i = 25; i >= 0; --i) {
    if (((drives >> i) & 1u) == 0) return static_cast<char>('A' + i);
  }
  return 0;
}

char PresentDrive() {
  const std::uint32_t drives = platform::LogicalDrives();
  for (int i = 2; i < 26; ++i) {
    if ((drives >> i) & 1u) return static_cast<char>('A' + i);
  }
  return 0;
}

TEST(GetPathKindTest, NullAndEmptyAreMissing) {
  EXPECT_EQ(fs::GetPathKind<char>(nullptr), fs::PathMissing);
  EXPECT_EQ(fs::GetPathKind(""), fs::PathMissing);
  EXPECT_EQ(fs::GetPathKind<char16_t>(nullptr), fs::PathMissing);
  EXPECT_EQ(fs::GetPathKind(u""), fs::PathMissing);
}

TEST(GetPathKindTest, DriveLetterRules) {
  EXPECT_EQ(fs::GetPathKind("1:\\x"), fs::PathMissing);
  EXPECT_EQ(fs::GetPathKind("1:\\"), fs::PathMissing);
  const char absent = AbsentDrive();
  ASSERT_NE(absent, 0);
  for (const char letter : {absent, static_cast<char>(absent - 'A' + 'a')}) {
    const std::string drive(1, letter);
    EXPECT_EQ(fs::GetPathKind((drive + ":\\").c_str()), fs::PathMissing) << drive;
    EXPECT_EQ(fs::GetPathKind((drive + ":").c_str()), fs::PathMissing) << drive;
    EXPECT_EQ(fs::GetPathKind((drive + ":\\Windows").c_str()), fs::PathMissing) << drive;
  }

  const char present = PresentDrive();
  if (present == 0) GTEST_SKIP() << "SKIPPED: no drive letters on this system";
  const std::string upper(1, present);
  const std::string lower(1, static_cast<char>(present - 'A' + 'a'));
  EXPECT_EQ(fs::GetPathKind((upper + ":\\").c_str()), fs::PathDriveRoot);
  EXPECT_EQ(fs::GetPathKind((lower + ":/").c_str()), fs::PathDriveRoot);
  EXPECT_EQ(fs::GetPathKind(Widen(lower + ":\\").c_str()), fs::PathDriveRoot);
  // A bare drive names its current folder: the root only when that is it.
  char full[fs::MaxPath];
  const std::uint32_t length = platform::GetFullPath((upper + ":").c_str(), full, fs::MaxPath);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(fs::GetPathKind((upper + ":").c_str()), length == 3 ? fs::PathDriveRoot : fs::PathFolder);
}

TEST(GetPathKindTest, FilesFoldersAndMissingPaths) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFolder("dir"));
  ASSERT_TRUE(tree.MakeFile("dir/file.txt"));
  const std::string folder = tree.Path("dir");
  const struct {
    std::string path;
    fs::PathKind kind;
  } cases[] = {
      {folder, fs::PathFolder},
      {folder + tree.Separator(), fs::PathFolder},
      {folder + "/", fs::PathFolder},
      {tree.Path("dir/file.txt"), fs::PathFile},
      {tree.Path("dir/missing.txt"), fs::PathMissing},
      {tree.Path("missing/file.txt"), fs::PathMissing},
      {tree.Path("dir/*.txt"), fs::PathMissing},
      {tree.Path("dir/file.tx?"), fs::PathMissing},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fs::GetPathKind(c.path.c_str()), c.kind) << c.path;
    if (fs_test::IsAscii(c.path)) {
      EXPECT_EQ(fs::GetPathKind(Widen(c.path).c_str()), c.kind) << c.path;
    }
  }
}

TEST(GetPathKindTest, WildcardNameThatExists) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  // Only systems that allow '*' in names can have such a file.
  if (!tree.MakeFile("a*b")) GTEST_SKIP() << "names cannot hold '*' here";
  EXPECT_EQ(fs::GetPathKind(tree.Path("a*b").c_str()), fs::PathFile);
}

TEST(GetPathKindTest, FileSystemRootIsADriveRoot) {
  char full[fs::MaxPath];
  ASSERT_GT(platform::GetFullPath("/", full, fs::MaxPath), 0u);
  const std::string root = full;
  if (root == "/") {
    EXPECT_EQ(fs::GetPathKind("/"), fs::PathDriveRoot);
    EXPECT_EQ(fs::GetPathKind("/tmp/.."), fs::PathDriveRoot);
    EXPECT_EQ(fs::GetPathKind(u"/"), fs::PathDriveRoot);
  } else {
    // "\" alone is the root of the current drive, which is not a drive root
    // in the sense of C:\ (only the X:\ form is).
    ASSERT_EQ(root.size(), 3u);
    EXPECT_EQ(fs::GetPathKind("/"), fs::PathFolder);
    EXPECT_EQ(fs::GetPathKind(root.c_str()), fs::PathDriveRoot);
  }
}

TEST(EnsureFolderTest, ExistingFolderFileAndNewChain) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFolder("A"));
  ASSERT_TRUE(tree.MakeFile("A/file.txt"));
  EXPECT_EQ(fs::EnsureFolder(tree.Path("A").c_str(), 0), 2);
  EXPECT_EQ(fs::EnsureFolder((tree.Path("A") + tree.Separator()).c_str(), 0), 2);
  EXPECT_EQ(fs::EnsureFolder(tree.Path("A/file.txt").c_str(), 0), 0);

  const std::string chain = tree.Path("A/B/C");
  EXPECT_EQ(fs::EnsureFolder(chain.c_str(), 0), 1);
  EXPECT_EQ(fs::GetPathKind(tree.Path("A/B").c_str()), fs::PathFolder);
  EXPECT_EQ(fs::GetPathKind(chain.c_str()), fs::PathFolder);
  EXPECT_EQ(fs::EnsureFolder(chain.c_str(), -5), 2);

  // A component that is a file blocks the creation behind it.
  EXPECT_EQ(fs::EnsureFolder(tree.Path("A/file.txt/sub").c_str(), 0), 0);
  EXPECT_EQ(fs::GetPathKind(tree.Path("A/file.txt/sub").c_str()), fs::PathMissing);
}

TEST(EnsureFolderTest, KeepLengthNamesThePartThatIsTheFolder) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  const std::string target = tree.Path("X/Y/file.txt");
  EXPECT_EQ(fs::EnsureFolder(target.c_str(), fs::KeepToLastSeparator), 1);
  EXPECT_EQ(fs::GetPathKind(tree.Path("X/Y").c_str()), fs::PathFolder);
  EXPECT_EQ(fs::GetPathKind(target.c_str()), fs::PathMissing);
  EXPECT_EQ(fs::EnsureFolder(target.c_str(), fs::KeepToLastSeparator), 2);

  const std::string path = tree.Path("K/L/M");
  const int keep = static_cast<int>(tree.Path("K/L").size());
  EXPECT_EQ(fs::EnsureFolder(path.c_str(), keep), 1);
  EXPECT_EQ(fs::GetPathKind(tree.Path("K/L").c_str()), fs::PathFolder);
  EXPECT_EQ(fs::GetPathKind(path.c_str()), fs::PathMissing);

  // The full form folds "..": what the given text has beyond the kept
  // prefix is more than the full path holds.
  std::string winding = tree.Path("x");
  for (int i = 0; i < 30; ++i) winding += "/../x";
  EXPECT_EQ(fs::EnsureFolder(winding.c_str(), 1), 0);
}

TEST(EnsureFolderTest, DoubleSeparatorStopsTheWalk) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  const std::string path = tree.Path("P") + tree.Separator() + tree.Separator() + "Q";
  char full[fs::MaxPath];
  ASSERT_GT(platform::GetFullPath(path.c_str(), full, fs::MaxPath), 0u);
  const std::string doubled = std::string(2, tree.Separator());
  if (std::string(full).find(doubled, 2) == std::string::npos) {
    GTEST_SKIP() << "the platform folds runs of separators in full paths";
  }
  EXPECT_EQ(fs::EnsureFolder(path.c_str(), 0), 0);
}

TEST(EnsureFolderTest, RootsAndBadInput) {
  EXPECT_EQ(fs::EnsureFolder<char>(nullptr, 0), 0);
  EXPECT_EQ(fs::EnsureFolder("", 0), 0);
  const char absent = AbsentDrive();
  ASSERT_NE(absent, 0);
  EXPECT_EQ(fs::EnsureFolder((std::string(1, absent) + ":\\x").c_str(), 0), 0);
  char full[fs::MaxPath];
  ASSERT_GT(platform::GetFullPath("/", full, fs::MaxPath), 0u);
  EXPECT_EQ(fs::EnsureFolder(full, 0), 2);
  // Longer than every buffer: refused, nothing created.
  const std::string tooLong(2000, 'n');
  EXPECT_EQ(fs::EnsureFolder(tooLong.c_str(), 0), 0);
}

TEST(EnsureFolderTest, WideForm) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  const std::string path = tree.Path("W1/W2");
  if (!fs_test::IsAscii(path)) GTEST_SKIP() << "temporary folder is not ASCII";
  EXPECT_EQ(fs::EnsureFolder(Widen(path).c_str(), 0), 1);
  EXPECT_EQ(fs::GetPathKind(Widen(path).c_str()), fs::PathFolder);
  EXPECT_EQ(fs::EnsureFolder(Widen(path).c_str(), 0), 2);
}

}  // namespace
