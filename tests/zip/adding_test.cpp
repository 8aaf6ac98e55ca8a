// Adding files: the bulk walk, single entries queued or written at once, the
// store rules, the name rules, and what a file that vanishes or a disk that
// fills up during the close leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/fault_injection.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"
#include "zip/codec/deflate_codec.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::Quote;
using testing_support::RandomBytes;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::TextBytes;
using testing_support::WriteFile;

// The archive object with its adding mode and retry switch under the test's
// control; both are otherwise fixed by the constructor.
class AddingKorbel : public Korbel {
 public:
  explicit AddingKorbel(bool queued, bool retry = true) {
    queuedAdding_ = queued;
    storeOnGrowthRetry_ = retry;
  }
};

enum class Mode { kQueued, kImmediate };

std::string ModeName(const ::testing::TestParamInfo<Mode>& paramInfo) {
  return paramInfo.param == Mode::kQueued ? "Queued" : "Immediate";
}

using entry_bytes::ReadAll;

::testing::AssertionResult IndependentReadersAccept(const std::string& path) {
  using testing_support::Reader;
  return testing_support::ReadersAccept(path, {Reader::kUnzip, Reader::kSevenZip});
}

std::vector<std::string> NamesOf(const std::string& path) {
  Korbel archive;
  std::vector<std::string> names;
  EXPECT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk) << path;
  for (int i = 0; i < archive.EntryCount(); ++i) names.emplace_back(archive.EntryName(i));
  std::sort(names.begin(), names.end());
  return names;
}

// Packs `folder` (recursively, nothing excluded) into `archivePath`; the count
// AddFiles answered.
int PackFolder(Korbel& archive, const std::string& folder, const std::string& archivePath,
               const char* prefix = nullptr, std::uint32_t options = 0) {
  EXPECT_EQ(archive.Open(archivePath.c_str(), kCreate, 9), kOk);
  archive.Options(archive.Options(-2) | kRecurse | options);
  return archive.AddFiles((folder + "/").c_str(), "*", "", prefix);
}

class AddingModeTest : public ::testing::TestWithParam<Mode> {
 protected:
  bool Queued() const { return GetParam() == Mode::kQueued; }
};

TEST_P(AddingModeTest, MethodFollowsExtensionSizeAndGain) {
  TempDir source;
  TempDir out;
  const Bytes text = TextBytes(6000);
  struct Case {
    const char* name;
    Bytes data;
    int method;
  };
  const std::vector<Case> cases = {
      {"x.ZIP", text, 0},  // listed extensions are stored, whatever the case
      {"y.7z", text, 0},
      {"z.k", text, 0},
      {"w.zipx", text, 8},  // only a whole-item match counts
      {"gz", text, 8},      // a name without extension matches nothing
      {".zip", text, 8},    // a leading dot does not start an extension
      {"plain.c", text, 8},
      {"empty.txt", Bytes(), 0},
      {"noise.bin", RandomBytes(50000, 7), 0},  // Deflate would grow it
  };
  for (const Case& c : cases) ASSERT_TRUE(WriteFile(source / c.name, c.data));
  const std::string path = out / "m.zip";
  {
    AddingKorbel archive(Queued());
    EXPECT_EQ(PackFolder(archive, source.Path(), path), static_cast<int>(cases.size()));
    ASSERT_EQ(archive.Close(), kOk);
  }
  EXPECT_TRUE(IndependentReadersAccept(path));
  Korbel reader;
  ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reader.EntryCount(), static_cast<int>(cases.size()));
  for (const Case& c : cases) {
    const int index = reader.FindEntry(c.name);
    ASSERT_GE(index, 0) << c.name;
    const ZipEntry& entry = *reader.Table().At(index);
    EXPECT_EQ(entry.method, c.method) << c.name;
    EXPECT_EQ(entry.versionNeeded, c.method == 0 ? 10 : 20) << c.name;
    EXPECT_EQ(entry.uncompressedSize, c.data.size()) << c.name;
    if (c.method == 0) {
      EXPECT_EQ(entry.compressedSize, c.data.size()) << c.name;
    } else {
      EXPECT_LT(entry.compressedSize, c.data.size()) << c.name;
    }
    EXPECT_EQ(ReadAll(reader, index), c.data) << c.name;
  }
}

// Files at the size where compression switches from whole blocks to
// streaming, and an incompressible one at the limit (stored on the retry from
// the block already read), packed and read back at the fastest and the
// strongest level.
TEST(AddingTest, FilesAroundTheWholeBlockLimitRoundTrip) {
  constexpr std::size_t kLimit = DeflateCodec::kWholeBlockLimit;
  const Bytes pattern = RandomBytes(4096, 11);
  auto repeated = [&](std::size_t size) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
      data[i] = static_cast<unsigned char>(pattern[i % pattern.size()] ^ (i >> 20));
    }
    return data;
  };
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"below.dat", repeated(kLimit - 1)},
      {"at.dat", repeated(kLimit)},
      {"above.dat", repeated(kLimit + 1)},
      {"noise.dat", RandomBytes(kLimit, 12)},
  };
  TempDir source;
  for (const auto& file : files) ASSERT_TRUE(WriteFile(source / file.first, file.second));
  for (const int level : {1, 9}) {
    SCOPED_TRACE(level);
    TempDir out;
    const std::string path = out / "limit.zip";
    {
      Korbel archive;
      ASSERT_EQ(archive.SetLevel(level), level);
      EXPECT_EQ(PackFolder(archive, source.Path(), path), static_cast<int>(files.size()));
      ASSERT_EQ(archive.Close(), kOk);
    }
    EXPECT_TRUE(IndependentReadersAccept(path));
    Korbel reader;
    ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
    for (const auto& file : files) {
      const int index = reader.FindEntry(file.first.c_str());
      ASSERT_GE(index, 0) << file.first;
      EXPECT_EQ(reader.Table().At(index)->method, file.first == "noise.dat" ? 0 : 8) << file.first;
      EXPECT_TRUE(ReadAll(reader, index) == file.second) << file.first;
      EXPECT_EQ(reader.TestEntry(index), kOk) << file.first;
    }
  }
}

TEST_P(AddingModeTest, ArchiveInsideTheFolderNeverAddsItself) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "a.txt", TextBytes(100)));
  ASSERT_TRUE(WriteFile(dir / "sub/b.txt", TextBytes(200)));
  const std::string path = dir / "Self.zip";
  {
    AddingKorbel archive(Queued());
    EXPECT_EQ(PackFolder(archive, dir.Path(), path), 2);
    ASSERT_EQ(archive.Close(), kOk);
    EXPECT_EQ(archive.WrittenFileCount(), 2);
  }
  EXPECT_EQ(NamesOf(path), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
  // A second run into the same archive, opened for changes, replaces the two
  // files and still leaves the archive out.
  {
    AddingKorbel archive(Queued());
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive.SwitchMode(kModify), kOk);
    ASSERT_EQ(archive.EntryCount(), 2);
    archive.Options(kRecurse);
    EXPECT_EQ(archive.AddFiles((dir.Path() + "/").c_str(), "*", "", nullptr), 2);
    ASSERT_EQ(archive.Close(), kOk);
  }
  EXPECT_EQ(NamesOf(path), (std::vector<std::string>{"a.txt", "sub/b.txt"}));
  EXPECT_TRUE(IndependentReadersAccept(path));
}

TEST_P(AddingModeTest, PrefixWithOrWithoutSeparatorsGivesTheSameNames) {
  TempDir source;
  ASSERT_TRUE(WriteFile(source / "a/b.txt", TextBytes(300)));
  for (const char* prefix : {"pre", "pre/", "pre\\", "/pre", "\\pre"}) {
    TempDir out;
    const std::string path = out / "p.zip";
    {
      AddingKorbel archive(Queued());
      EXPECT_EQ(PackFolder(archive, source.Path(), path, prefix), 1) << prefix;
      ASSERT_EQ(archive.Close(), kOk);
    }
    EXPECT_EQ(NamesOf(path), std::vector<std::string>{"pre/a/b.txt"}) << prefix;
  }
}

TEST_P(AddingModeTest, FullPathNamesLoseTheirRoot) {
  TempDir source;
  TempDir out;
  ASSERT_TRUE(WriteFile(source / "a/b.txt", TextBytes(300)));
  const std::string path = out / "f.zip";
  {
    AddingKorbel archive(Queued());
    EXPECT_EQ(PackFolder(archive, source.Path(), path, nullptr, kFullPathNames), 1);
    ASSERT_EQ(archive.Close(), kOk);
  }
  const std::vector<std::string> names = NamesOf(path);
  ASSERT_EQ(names.size(), 1u);
  std::string expected = source / "a/b.txt";
  for (char& c : expected) {
    if (c == '\\') c = '/';
  }
  // Whatever the root looks like (/ or X:\), it is gone from the stored name.
  const std::size_t colon = expected.find(':');
  if (colon != std::string::npos && expected.find_first_of("/") > colon) expected.erase(0, colon + 1);
  while (!expected.empty() && expected[0] == '/') expected.erase(0, 1);
  EXPECT_EQ(names[0], expected);
  EXPECT_NE(names[0][0], '/');
}

TEST_P(AddingModeTest, ExistingNameIsReplacedOrKept) {
  TempDir source;
  TempDir out;
  ASSERT_TRUE(WriteFile(source / "same.txt", std::string("new contents, new contents")));
  ASSERT_TRUE(WriteFile(source / "other.txt", std::string("other")));
  const Bytes old = RandomBytes(30000, 9);
  for (const bool keep : {false, true}) {
    const std::string path = out / (keep ? "keep.zip" : "replace.zip");
    {
      Korbel archive;
      ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
      ASSERT_EQ(archive.AddFromMemory("SAME.TXT", old.data(), old.size(), nullptr), kOk);
      ASSERT_EQ(archive.Close(), kOk);
    }
    const auto oldSize = testing_support::ReadFile(path).size();
    {
      AddingKorbel archive(Queued());
      ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
      ASSERT_EQ(archive.SwitchMode(kModify), kOk);
      archive.Options(keep ? std::uint32_t{kKeepExisting} : 0u);
      EXPECT_EQ(archive.AddFiles((source.Path() + "/").c_str(), "*", "", nullptr), keep ? 1 : 2) << keep;
      ASSERT_EQ(archive.Close(), kOk);
    }
    EXPECT_TRUE(IndependentReadersAccept(path)) << keep;
    Korbel reader;
    ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(reader.EntryCount(), 2) << keep;
    const int index = reader.FindEntry("same.txt");
    ASSERT_GE(index, 0);
    if (keep) {
      EXPECT_EQ(ReadAll(reader, index), old);
    } else {
      EXPECT_EQ(ReadAll(reader, index), testing_support::ReadFile(source / "same.txt"));
      // The replaced entry's data is gone from the file, not only from the directory.
      EXPECT_LT(testing_support::ReadFile(path).size(), oldSize);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothModes, AddingModeTest, ::testing::Values(Mode::kQueued, Mode::kImmediate),
                         ModeName);

TEST(AddingTest, SingleEntryNamesLoseDriveAndLeadingSeparator) {
  struct Case {
    const char* given;
    bool keepDrive;
    const char* stored;
  };
  const Case cases[] = {
      {"C:\\dir\\x.txt", false, "dir/x.txt"}, {"C:dir/y.txt", false, "dir/y.txt"},
      {"\\lead.txt", false, "lead.txt"},      {"/abs/z.txt", false, "abs/z.txt"},
      {"a\\b\\c.txt", false, "a/b/c.txt"},    {"dir/x:y.txt", false, "dir/x:y.txt"},
      {"D:\\kept.txt", true, "D:/kept.txt"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir / "n.zip";
    const Bytes data = TextBytes(100);
    {
      Korbel archive;
      ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
      if (c.keepDrive) archive.Options(kKeepDrive);
      ASSERT_EQ(archive.AddFromMemory(c.given, data.data(), data.size(), nullptr), kOk) << c.given;
      ASSERT_EQ(archive.AddFolderEntry(c.given), kOk) << c.given;
      ASSERT_EQ(archive.Close(), kOk);
    }
    // The folder entry of the same name replaced the file entry.
    EXPECT_EQ(NamesOf(path), std::vector<std::string>{c.stored}) << c.given;
  }
}

TEST(AddingTest, KeepExistingAndQueuedDuplicatesForSingleAdds) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "disk.txt", TextBytes(500)));
  Korbel archive;
  ASSERT_EQ(archive.Open((dir / "k.zip").c_str(), kCreate, 9), kOk);
  const Bytes first = TextBytes(200);
  const Bytes second = RandomBytes(200, 1);
  ASSERT_EQ(archive.AddFromMemory("m.txt", first.data(), first.size(), nullptr), kOk);
  // A queued entry cannot be replaced by the single-file add.
  ASSERT_EQ(archive.AddFileByPath((dir / "disk.txt").c_str(), "d.txt"), kOk);
  EXPECT_EQ(archive.AddFileByPath((dir / "disk.txt").c_str(), "d.txt"), kFileExists);
  archive.Options(kKeepExisting);
  EXPECT_EQ(archive.AddFromMemory("M.TXT", second.data(), second.size(), nullptr), kOk);
  EXPECT_EQ(archive.AddFileByPath((dir / "disk.txt").c_str(), "m.txt"), kFileExists);
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(ReadAll(archive, archive.FindEntry("m.txt")), first);
  ASSERT_EQ(archive.Close(), kOk);
  EXPECT_TRUE(IndependentReadersAccept(dir / "k.zip"));
}

TEST(AddingTest, MemoryEntriesAreWrittenAtOnceAndStoredWhenDeflateGrows) {
  TempDir dir;
  const std::string path = dir / "mem.zip";
  const Bytes noise = RandomBytes(20000, 4);
  const Bytes text = TextBytes(20000);
  const std::int64_t before = [&] {
    Korbel archive;
    EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    EXPECT_EQ(archive.AddFromMemory("noise.dat", noise.data(), noise.size(), nullptr), kOk);
    EXPECT_EQ(archive.AddFromMemory("text.dat", text.data(), text.size(), nullptr), kOk);
    EXPECT_EQ(archive.AddFromMemory("empty.dat", nullptr, 0, nullptr), kOk);
    // Immediate mode: the data is in the file before the close.
    const std::int64_t written = archive.DirectoryStart();
    EXPECT_EQ(archive.Close(), kOk);
    return written;
  }();
  EXPECT_GT(before, static_cast<std::int64_t>(noise.size()));
  EXPECT_TRUE(IndependentReadersAccept(path));
  Korbel reader;
  ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
  const ZipEntry& stored = *reader.Table().At(reader.FindEntry("noise.dat"));
  EXPECT_EQ(stored.method, 0);
  EXPECT_EQ(stored.compressedSize, noise.size());
  EXPECT_EQ(reader.Table().At(reader.FindEntry("text.dat"))->method, 8);
  const ZipEntry& empty = *reader.Table().At(reader.FindEntry("empty.dat"));
  EXPECT_EQ(empty.method, 0);
  EXPECT_EQ(empty.versionNeeded, 10);
  EXPECT_EQ(ReadAll(reader, reader.FindEntry("noise.dat")), noise);
}

TEST(AddingTest, WithoutRetryAGrowingEntryIsDroppedAndOverwritten) {
  TempDir dir;
  const std::string path = dir / "noretry.zip";
  const Bytes noise = RandomBytes(20000, 5);
  const Bytes text = TextBytes(3000);
  {
    AddingKorbel archive(false, false);
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    EXPECT_EQ(archive.AddFromMemory("noise.dat", noise.data(), noise.size(), nullptr), kCompressError);
    EXPECT_EQ(archive.LastError(), kCompressError);
    // The next entry goes where the failed one began.
    EXPECT_EQ(archive.DirectoryStart(), 0);
    EXPECT_EQ(archive.AddFromMemory("text.dat", text.data(), text.size(), nullptr), kOk);
    ASSERT_EQ(archive.Close(), kOk);
  }
  EXPECT_EQ(NamesOf(path), std::vector<std::string>{"text.dat"});
  EXPECT_TRUE(IndependentReadersAccept(path));
}

TEST(AddingTest, AddingIntoAReadOnlyArchiveFails) {
  TempDir dir;
  const std::string path = dir / "ro.zip";
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    ASSERT_EQ(archive.Close(), kOk);
  }
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(archive.AddFiles(dir.Path().c_str(), "*", "", nullptr), -1);
  EXPECT_EQ(archive.LastError(), kWriteError);
  EXPECT_EQ(archive.AddFileByPath(path.c_str(), "x"), kWrongMode);
  EXPECT_EQ(archive.EntryCount(), 0);
}

// Records the entry indexes that event 10 names.
int RecordErrors(std::uintptr_t userData, int event, int entryIndex, ArchiveBase*, const char*) {
  if (event == kEventError) reinterpret_cast<std::vector<int>*>(userData)->push_back(entryIndex);
  return 0;
}

TEST(AddingTest, FileVanishingBeforeTheCloseIsCountedButNotWritten) {
  TempDir source;
  TempDir out;
  ASSERT_TRUE(WriteFile(source / "a.txt", TextBytes(1000)));
  ASSERT_TRUE(WriteFile(source / "gone.txt", TextBytes(2000)));
  ASSERT_TRUE(WriteFile(source / "sub/c.txt", TextBytes(3000)));
  const std::string path = out / "v.zip";
  std::vector<int> errors;
  {
    Korbel archive;
    EXPECT_EQ(PackFolder(archive, source.Path(), path), 3);
    const int gone = archive.FindEntry("gone.txt");
    ASSERT_GE(gone, 0);
    ASSERT_EQ(std::remove((source / "gone.txt").c_str()), 0);
    archive.SetCallback(reinterpret_cast<std::uintptr_t>(&errors), RecordErrors);
    archive.SetRawEvents(1u << kEventError, 0);
    ASSERT_EQ(archive.Close(), kOk);
    EXPECT_EQ(archive.WrittenFileCount(), 2);
    EXPECT_EQ(errors, std::vector<int>{gone});
  }
  EXPECT_EQ(NamesOf(path), (std::vector<std::string>{"a.txt", "sub/c.txt"}));
  EXPECT_TRUE(IndependentReadersAccept(path));
}

// A disk that fills up at any write of the close: the close fails, and what is
// left must not read as a complete archive.
TEST(AddingTest, FailingCloseLeavesNoArchivePosingAsComplete) {
  TempDir source;
  ASSERT_TRUE(WriteFile(source / "a.txt", TextBytes(40000)));
  ASSERT_TRUE(WriteFile(source / "b.bin", RandomBytes(30000, 2)));
  ASSERT_TRUE(WriteFile(source / "c/d.txt", TextBytes(500)));
  std::uint32_t writes = 0;
  {
    TempDir out;
    Korbel archive;
    EXPECT_EQ(PackFolder(archive, source.Path(), out / "count.zip"), 3);
    platform::CountCalls();
    ASSERT_EQ(archive.Close(), kOk);
    writes = platform::CallCount(platform::Operation::kWriteFile);
    platform::ClearFaults();
  }
  ASSERT_GT(writes, 3u);
  for (const platform::FaultKind kind : {platform::FaultKind::kDiskFull, platform::FaultKind::kShortWrite}) {
    for (std::uint32_t n = 1; n <= writes; ++n) {
      TempDir out;
      const std::string path = out / "fail.zip";
      Korbel archive;
      ASSERT_EQ(PackFolder(archive, source.Path(), path), 3);
      platform::InjectFault(platform::Operation::kWriteFile, static_cast<int>(n), kind);
      const int result = archive.Close();
      platform::ClearFaults();
      const std::string where = "write " + std::to_string(n) + " of " + std::to_string(writes) + ", fault " +
                                std::to_string(static_cast<int>(kind));
      EXPECT_NE(result, kOk) << where;
      // Only the last bytes, the archive comment, may be cut short and leave
      // a readable archive; it must then hold every file.
      if (testing_support::RequireTool("unzip") && testing_support::FileExists(path) &&
          RunCommand("unzip -tqq " + Quote(path) + " >/dev/null 2>&1") == 0) {
        std::string listing;
        RunCommand("unzip -Z1 " + Quote(path) + " 2>/dev/null | LC_ALL=C sort", &listing);
        EXPECT_EQ(listing, "a.txt\nb.bin\nc/d.txt\n") << where;
      }
    }
  }
}

}  // namespace
}  // namespace korbel
