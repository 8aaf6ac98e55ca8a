// The open states of an archive: Open in its modes, SwitchMode between them,
// the progress counters and the permission-style entry value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::TempDir;

std::int64_t Collect(void* context, const void* data, std::size_t length) {
  if (data != nullptr) static_cast<std::string*>(context)->append(static_cast<const char*>(data), length);
  return static_cast<std::int64_t>(length);
}

std::string MakeArchive(const TempDir& dir, const char* name) {
  const std::string path = dir / name;
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  EXPECT_EQ(archive.AddFromMemory("one.txt", "first entry", 11, nullptr), kOk);
  EXPECT_EQ(archive.AddFolderEntry("dir"), kOk);
  EXPECT_EQ(archive.Close(), kOk);
  return path;
}

TEST(ArchiveBaseTest, ModifyModeStartsAnEmptyArchiveWhetherTheFileExistsOrNot) {
  TempDir dir;
  for (bool exists : {true, false}) {
    const std::string path = exists ? MakeArchive(dir, "old.zip") : dir / "new.zip";
    const Bytes old = exists ? testing_support::ReadFile(path) : Bytes();
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kModify, 9), kOk) << exists;
    EXPECT_EQ(archive.Mode(), kCreate);
    EXPECT_EQ(archive.EntryCount(), 0);
    // The new archive is written beside the old file, which stays until the
    // new one is complete.
    EXPECT_EQ(testing_support::ReadFile(path), old);
    ASSERT_EQ(archive.Close(), kOk);
    Korbel reread;
    ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
    EXPECT_EQ(reread.EntryCount(), 0);
  }
}

TEST(ArchiveBaseTest, SwitchModeAnswers) {
  TempDir dir;
  const std::string path = MakeArchive(dir, "a.zip");
  Korbel closed;
  EXPECT_EQ(closed.SwitchMode(kReadOnly), kWrongMode);
  EXPECT_EQ(closed.LastError(), kWrongMode);
  struct Case {
    int openMode;
    int to;
    int code;
    int modeAfter;
  };
  const Case cases[] = {
      {kReadOnly, 0, kWrongMode, kReadOnly},  {kReadOnly, kCreate, kWrongMode, kReadOnly},
      {kReadOnly, kReadOnly, kOk, kReadOnly}, {kReadOnly, kModify, kOk, kModify},
      {kCreate, kModify, kOk, kCreate},       {kCreate, kReadOnly, kOk, kReadOnly},
  };
  for (const Case& c : cases) {
    const std::string file = c.openMode == kCreate ? dir / "created.zip" : path;
    Korbel archive;
    ASSERT_EQ(archive.Open(file.c_str(), static_cast<std::uint32_t>(c.openMode), 9), kOk);
    EXPECT_EQ(archive.SwitchMode(c.to), c.code) << c.openMode << "->" << c.to;
    EXPECT_EQ(archive.LastError(), c.code);
    EXPECT_EQ(archive.Mode(), c.modeAfter) << c.openMode << "->" << c.to;
  }
}

TEST(ArchiveBaseTest, ReadOnlyToModifyAndBackKeepsTheFileAnArchive) {
  TempDir dir;
  const std::string path = MakeArchive(dir, "a.zip");
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(archive.AddFromMemory("two.txt", "second", 6, nullptr), kWriteError);
  ASSERT_EQ(archive.SwitchMode(kModify), kOk);
  ASSERT_EQ(archive.AddFromMemory("two.txt", "second", 6, nullptr), kOk);
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("one.txt")), kOk);
  // Back to read-only: deletions are reclaimed and the directory written.
  ASSERT_EQ(archive.SwitchMode(kReadOnly), kOk);
  EXPECT_EQ(archive.EntryCount(), 2);
  std::string text;
  ASSERT_EQ(archive.ReadEntry(archive.FindEntry("two.txt"), &text, Collect, nullptr), kOk);
  EXPECT_EQ(text, "second");
  ASSERT_EQ(archive.Close(), kOk);
  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(reread.EntryCount(), 2);
  EXPECT_EQ(reread.FindEntry("one.txt"), -1);
  EXPECT_EQ(reread.TestEntry(reread.FindEntry("two.txt")), kOk);
}

TEST(ArchiveBaseTest, CallersBlockOpenedForReadingCannotBeModified) {
  TempDir dir;
  Bytes bytes = testing_support::ReadFile(MakeArchive(dir, "a.zip"));
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(bytes.data(), static_cast<std::int64_t>(bytes.size()), -1, 0), kOk);
  EXPECT_EQ(archive.Mode(), kReadOnly);
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.SwitchMode(kModify), kFileOpenError);
  EXPECT_EQ(archive.Mode(), kReadOnly);
}

TEST(ArchiveBaseTest, ProgressRunStatesAndPosition) {
  TempDir dir;
  Korbel archive;
  ASSERT_EQ(archive.Open(MakeArchive(dir, "a.zip").c_str(), kReadOnly, 9), kOk);
  std::string text;
  std::uint64_t total = 99;
  EXPECT_EQ(archive.ProgressPosition(&total), 0u);
  EXPECT_EQ(total, 0u);
  ASSERT_EQ(archive.ReadEntry(0, &text, Collect, nullptr), kOk);
  EXPECT_EQ(archive.ProgressPosition(&total), 11u);
  EXPECT_EQ(total, 11u);
  EXPECT_EQ(archive.ProgressRun(1), 0);  // clears the counters
  EXPECT_EQ(archive.ProgressPosition(&total), 0u);
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(archive.ProgressRun(2), 0);
  EXPECT_EQ(archive.ProgressRun(1), 2);  // a run over many entries goes on
  EXPECT_EQ(archive.ProgressRun(1), 2);
  ASSERT_EQ(archive.ReadEntry(0, &text, Collect, nullptr), kOk);
  EXPECT_LE(archive.ProgressPosition(&total), total);
  EXPECT_EQ(archive.ProgressRun(0), 2);
  EXPECT_EQ(archive.ProgressPosition(&total), total);
  EXPECT_EQ(archive.ProgressRun(0), 0);
}

TEST(ArchiveBaseTest, EntryModeFollowsTheAttributes) {
  TempDir dir;
  Korbel archive;
  ASSERT_EQ(archive.Open(MakeArchive(dir, "a.zip").c_str(), kReadOnly, 9), kOk);
  const int file = archive.FindEntry("one.txt");
  const int folder = archive.FindEntry("dir");
  ASSERT_GE(file, 0);
  ASSERT_GE(folder, 0);
  EXPECT_EQ(archive.EntryMode(file), 0x800001A4);
  EXPECT_EQ(archive.EntryMode(folder), 0x800041A4);
  EXPECT_EQ(archive.EntryMode(-1), -1);
}

}  // namespace
}  // namespace korbel
