// A change of a file archive is written to a new file beside it, which takes
// the archive's name at a successful Close; the archive itself is only read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"
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
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    GTEST_SKIP() << "SKIPPED: this system does not enforce read-only files";
  }
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kCreateError);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(testing_support::ReadFile(path).size(), 4u);
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir.Path())) {
    (void)item;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace korbel
