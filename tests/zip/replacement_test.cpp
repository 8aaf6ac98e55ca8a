// A change of a file archive is written to a new file beside it, which takes
// the archive's name at a successful Close; the archive itself is only read.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::TempDir;

class ImmediateArchive : public Korbel {
 public:
  explicit ImmediateArchive(bool queued) { queuedAdding_ = queued; }
};

std::string NameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Names in the folder, sorted, separated by spaces.
std::string FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder))
    names.push_back(NameOf(item.path().string()));
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

// An archive of two entries at `path`.
void MakeTwoEntries(const std::string& path) {
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  ASSERT_EQ(archive.AddFromMemory("one.txt", "first entry", 11, nullptr), kOk);
  ASSERT_EQ(archive.AddFromMemory("two.txt", "second entry", 12, nullptr), kOk);
  ASSERT_EQ(archive.Close(), kOk);
}

// Opens the archive, switches it to changes, deletes one.txt and adds
// three.txt; the result of the Close.
int DeleteAndAdd(const std::string& path) {
  Korbel archive;
  if (archive.Open(path.c_str(), kReadOnly, 9) != kOk || archive.SwitchMode(kModify) != kOk) return -100;
  if (archive.DeleteEntry(archive.FindEntry("one.txt")) != kOk) return -101;
  if (archive.AddFromMemory("three.txt", "third", 5, nullptr) != kOk) return -102;
  return archive.Close();
}

std::vector<std::string> EntryNames(const std::string& path) {
  std::vector<std::string> names;
  Korbel archive;
  if (archive.Open(path.c_str(), kReadOnly, 9) != kOk) return {"(unreadable)"};
  for (int i = 0; i < archive.EntryCount(); ++i) names.push_back(archive.EntryName(i));
  return names;
}

// Reads a whole open file from its start.
Bytes ReadHandle(platform::Handle file) {
  Bytes data(static_cast<std::size_t>(platform::FileSize(file)));
  if (platform::SeekFile(file, 0, platform::kSeekBegin) != 0 ||
      platform::ReadFile(file, data.data(), data.size()) != static_cast<std::int64_t>(data.size())) {
    return Bytes();
  }
  return data;
}

constexpr std::uint32_t kShareAll = platform::kShareRead | platform::kShareWrite | platform::kShareDelete;

TEST(ReplacementTest, TheNewArchiveGrowsBesideTheOldOneUnderAnUnpredictableName) {
  TempDir dir;
  const std::string path = dir / "App.zip";
  const std::string oldText = "the old archive";
  ASSERT_TRUE(testing_support::WriteFile(path, oldText));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  const std::string temporary = NameOf(archive.ReplacementPath());
  ASSERT_EQ(temporary.size(), std::string("App.zip~3f9a0c1e22b4.tmp").size()) << temporary;
  EXPECT_EQ(temporary.substr(0, 8), "App.zip~");
  EXPECT_EQ(temporary.find_first_not_of("0123456789abcdef", 8), 20u) << temporary;
  EXPECT_EQ(temporary.substr(20), ".tmp");
  Korbel second;
  ASSERT_EQ(second.Open((dir / "Other.zip").c_str(), kCreate, 9), kOk);
  EXPECT_NE(NameOf(second.ReplacementPath()).substr(10), temporary.substr(8)) << "the same random part twice";
  second.Discard();
  EXPECT_EQ(std::string(archive.EntryName(-1)), path);
  EXPECT_EQ(testing_support::ReadFile(path), Bytes(oldText.begin(), oldText.end()));
  ASSERT_EQ(archive.AddFromMemory("x.txt", "new", 3, nullptr), kOk);
  ASSERT_EQ(archive.Close(), kOk);
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
    ++files;
    EXPECT_EQ(item.path().filename().string(), "App.zip");
  }
  EXPECT_EQ(files, 1);
  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(reread.EntryCount(), 1);
}

// The archive lies in the folder it packs and no pattern leaves out its
// temporary file: the engine still never adds the file it is writing.
TEST(ReplacementTest, TheFileBeingWrittenIsNeverAdded) {
  for (const bool queued : {true, false}) {
    SCOPED_TRACE(queued ? "queued" : "immediate");
    TempDir dir;
    ASSERT_TRUE(testing_support::WriteFile(dir / "a.txt", testing_support::TextBytes(5000)));
    ASSERT_TRUE(testing_support::WriteFile(dir / "b.txt", testing_support::TextBytes(7000)));
    const std::string path = dir / "App.zip";
    {
      ImmediateArchive archive(queued);
      ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
      EXPECT_EQ(archive.AddFiles((dir.Path() + "/").c_str(), "*", "", nullptr), 2);
      ASSERT_EQ(archive.Close(), kOk);
    }
    Korbel reread;
    ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(reread.EntryCount(), 2);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(std::string(reread.EntryName(i)).find(".zip"), std::string::npos);
  }
}

// A target that cannot be replaced (here: read-only) is refused at Open,
// as the old create mode refused it, and stays as it was.
TEST(ReplacementTest, ATargetThatCannotBeWrittenIsRefusedAtOpen) {
  TempDir dir;
  const std::string path = dir / "App.zip";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string("kept")));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  // Wine run by root does not enforce the read-only bit.
  if (platform::FileCloser(platform::OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kShareNone,
                                              platform::kOpenExisting))
          .Get() != platform::kInvalidHandle) {
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    GTEST_SKIP() << "SKIPPED: this system does not enforce read-only files";
  }
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kCreateError);
  std::filesystem::permissions(path,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(testing_support::ReadFile(path).size(), 4u);
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
    (void)item;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

// The file the change started from is only read: a reader holding it open
// still finds every old byte, and the new archive stands under the old name.
// Windows never replaces a file that is open.
TEST(ReplacementTest, AChangeNeverWritesTheFileItLoaded) {
  if (platform::LogicalDrives() != 0) GTEST_SKIP() << "SKIPPED: Windows refuses to replace an open file";
  TempDir dir;
  const std::string path = dir / "App.zip";
  MakeTwoEntries(path);
  const Bytes pristine = testing_support::ReadFile(path);
  platform::FileCloser reader(platform::OpenFile(path.c_str(), platform::kAccessRead,
                                                 platform::kShareRead | platform::kShareDelete,
                                                 platform::kOpenExisting));
  ASSERT_NE(reader.Get(), platform::kInvalidHandle);
  ASSERT_EQ(DeleteAndAdd(path), kOk);
  EXPECT_EQ(ReadHandle(reader.Get()), pristine);
  EXPECT_EQ(EntryNames(path), (std::vector<std::string>{"two.txt", "three.txt"}));
  EXPECT_EQ(FolderNames(dir.Path()), "App.zip");
}

// Opening for changes and closing without one leaves the file untouched.
TEST(ReplacementTest, NoChangeNoNewFile) {
  TempDir dir;
  const std::string path = dir / "App.zip";
  MakeTwoEntries(path);
  platform::FileCloser reader(platform::OpenFile(path.c_str(), platform::kAccessRead,
                                                 platform::kShareRead | platform::kShareDelete,
                                                 platform::kOpenExisting));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(archive.SwitchMode(kModify), kOk);
  ASSERT_EQ(archive.Close(), kOk);
  EXPECT_TRUE(platform::IsSameFile(path.c_str(), reader.Get()))
      << "the archive was replaced without a change";
}

TEST(ReplacementTest, TheArchiveKeepsItsPermissions) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string path = dir / "App.zip";
  MakeTwoEntries(path);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  if ((fs::status(path).permissions() & fs::perms::all) != (fs::perms::owner_read | fs::perms::owner_write)) {
    GTEST_SKIP() << "SKIPPED: this system has no permission bits for others";
  }
  ASSERT_EQ(DeleteAndAdd(path), kOk);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  Korbel created;
  ASSERT_EQ(created.Open(path.c_str(), kCreate, 9), kOk);
  ASSERT_EQ(created.AddFromMemory("new.txt", "n", 1, nullptr), kOk);
  ASSERT_EQ(created.Close(), kOk);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

// A hard-linked archive is changed through all its names: the finished
// archive is copied back into the file, and the copy kept meanwhile goes.
TEST(ReplacementTest, AHardLinkedArchiveStaysLinked) {
  TempDir dir;
  const std::string path = dir / "App.zip";
  const std::string link = dir / "Link.zip";
  MakeTwoEntries(path);
  std::error_code error;
  std::filesystem::create_hard_link(path, link, error);
  if (error) GTEST_SKIP() << "SKIPPED: no hard links here: " << error.message();
  {
    platform::FileCloser probe(
        platform::OpenFile(path.c_str(), platform::kAccessRead, kShareAll, platform::kOpenExisting));
    if (platform::LinkCount(probe.Get()) < 2)
      GTEST_SKIP() << "SKIPPED: this system does not count a file's links";
  }
  ASSERT_EQ(DeleteAndAdd(path), kOk);
  platform::FileCloser probe(
      platform::OpenFile(path.c_str(), platform::kAccessRead, kShareAll, platform::kOpenExisting));
  EXPECT_EQ(platform::LinkCount(probe.Get()), 2u);
  probe.Reset();
  EXPECT_EQ(testing_support::ReadFile(link), testing_support::ReadFile(path));
  EXPECT_EQ(EntryNames(link), (std::vector<std::string>{"two.txt", "three.txt"}));
  EXPECT_EQ(FolderNames(dir.Path()), "App.zip Link.zip");
}

// A symbolic link at the archive's path is itself replaced by the new
// archive; the file it named keeps the old archive, untouched.
TEST(ReplacementTest, ALinkAtTheArchivesPathIsReplacedAndItsTargetKept) {
  TempDir dir;
  const std::string target = dir / "Real.zip";
  const std::string path = dir / "App.zip";
  MakeTwoEntries(target);
  const Bytes pristine = testing_support::ReadFile(target);
  std::error_code error;
  std::filesystem::create_symlink("Real.zip", path, error);
  if (error || !std::filesystem::is_symlink(path)) GTEST_SKIP() << "SKIPPED: no symbolic links here";
  ASSERT_EQ(DeleteAndAdd(path), kOk);
  EXPECT_FALSE(std::filesystem::is_symlink(path));
  EXPECT_EQ(EntryNames(path), (std::vector<std::string>{"two.txt", "three.txt"}));
  EXPECT_EQ(testing_support::ReadFile(target), pristine);
}

// A replacement left by a killed run goes with the next change of its
// archive; one still held by its writer, another archive's and a user's file
// of a similar name stay.
TEST(ReplacementTest, TheNextChangeRemovesOnlyStaleReplacementsOfItsArchive) {
  TempDir dir;
  const std::string path = dir / "App.zip";
  MakeTwoEntries(path);
  const std::string stale = dir / "App.zip~0123456789ab.tmp";
  const std::string held = dir / "App.zip~ba9876543210.tmp";
  for (const std::string& name :
       {stale, held, dir / "App.zip~notours.tmp", dir / "Other.zip~0123456789ab.tmp"}) {
    ASSERT_TRUE(testing_support::WriteFile(name, std::string("partial")));
  }
  platform::FileCloser holder(platform::OpenFile(held.c_str(), platform::kAccessReadWrite,
                                                 platform::kShareDelete, platform::kOpenExisting));
  ASSERT_TRUE(platform::LockForWriting(holder.Get(), 0));
  ASSERT_EQ(DeleteAndAdd(path), kOk);
  EXPECT_EQ(FolderNames(dir.Path()),
            "App.zip App.zip~ba9876543210.tmp App.zip~notours.tmp Other.zip~0123456789ab.tmp");
}

// Whatever the archive is called, a file of the replacement's name form
// is never packed.
TEST(ReplacementTest, TheWalkNeverPacksAReplacement) {
  TempDir dir;
  TempDir source;
  for (const char* name : {"a.txt", "backup.zip~0123456789ab.tmp", "notes~1.tmp"}) {
    ASSERT_TRUE(testing_support::WriteFile(source / name, std::string("content")));
  }
  const std::string path = dir / "App.zip";
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  EXPECT_EQ(archive.AddFiles((source.Path() + "/").c_str(), "*", "", nullptr), 2);
  ASSERT_EQ(archive.Close(), kOk);
  std::vector<std::string> names = EntryNames(path);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "notes~1.tmp"}));
}

// Two writers loaded the same archive: the second to finish finds it
// replaced and fails, and the first one's change stays.
TEST(ReplacementTest, AWriterNeverBuildsOnAReplacedArchive) {
  // There the second writer's open archive keeps the first from replacing it.
  if (platform::LogicalDrives() != 0) GTEST_SKIP() << "SKIPPED: Windows refuses to replace an open file";
  TempDir dir;
  const std::string path = dir / "App.zip";
  MakeTwoEntries(path);
  Korbel first;
  Korbel second;
  for (Korbel* archive : {&first, &second}) {
    ASSERT_EQ(archive->Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive->SwitchMode(kModify), kOk);
  }
  // The first writer holds the archive from its first write to its close.
  ASSERT_EQ(first.AddFromMemory("first.txt", "1", 1, nullptr), kOk);
  EXPECT_EQ(second.AddFromMemory("second.txt", "2", 1, nullptr), kOpenError);
  ASSERT_EQ(first.Close(), kOk);
  EXPECT_EQ(second.Close(), kOpenError);
  EXPECT_EQ(EntryNames(path), (std::vector<std::string>{"one.txt", "two.txt", "first.txt"}));
  EXPECT_EQ(FolderNames(dir.Path()), "App.zip");
}

// While another writer holds the archive, a change waits, then fails and
// leaves the archive as it was.
TEST(ReplacementTest, AChangeFailsWhileAnotherWriterHoldsTheArchive) {
  TempDir dir;
  const std::string path = dir / "App.zip";
  MakeTwoEntries(path);
  const Bytes pristine = testing_support::ReadFile(path);
  platform::FileCloser other(
      platform::OpenFile(path.c_str(), platform::kAccessRead, kShareAll, platform::kOpenExisting));
  ASSERT_TRUE(platform::LockForWriting(other.Get(), 0));
  EXPECT_EQ(DeleteAndAdd(path), -102);
  other.Reset();
  EXPECT_EQ(testing_support::ReadFile(path), pristine);
  EXPECT_EQ(FolderNames(dir.Path()), "App.zip");
}

}  // namespace
}  // namespace korbel
