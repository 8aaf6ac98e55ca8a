// Extraction to disk: target paths, the overwrite options, restored times and
// folders, damaged entries, and names that try to leave the target folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fs/file_info.h"
#include "platform/platform.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/archive_change.h"
#include "tests/zip/crafted_zip.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr std::uint32_t kEntryTime = 1600000000;  // 2020-09-13, even seconds
constexpr std::uint32_t kOlder = kEntryTime - 86400;
constexpr std::uint32_t kNewer = kEntryTime + 86400;

struct Item {
  std::string name;
  Bytes data;
  bool folder = false;
  bool readOnly = false;
};

// Our own archive of the items, each modified at kEntryTime.
std::string Pack(const TempDir& dir, const std::vector<Item>& items) {
  const std::string path = dir / "archive.zip";
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  for (const Item& item : items) {
    if (item.folder) {
      EXPECT_EQ(archive.AddFolderEntry(item.name.c_str()), kOk) << item.name;
      continue;
    }
    EntrySource source{};
    source.info.attributes = fs::InfoAlways | (item.readOnly ? 0u : fs::InfoWritable);
    source.info.size = static_cast<std::uint32_t>(item.data.size());
    source.info.modified = kEntryTime;
    source.info.created = kEntryTime - 3600;
    source.info.accessed = kEntryTime;
    EXPECT_EQ(archive.AddFromMemory(item.name.c_str(), item.data.data(), item.data.size(), &source), kOk)
        << item.name;
  }
  EXPECT_EQ(archive.Close(), kOk);
  return path;
}

fs::FileInfo InfoOf(const std::string& path) {
  fs::FileRecord<char> record{};
  EXPECT_EQ(fs::GetFileInfo(path.c_str(), &record), fs::InfoOk) << path;
  return record.info;
}

void SetModified(const std::string& path, std::uint32_t seconds) {
  platform::FileCloser file(platform::OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kShareNone,
                                               platform::kOpenExisting));
  ASSERT_NE(file.Get(), platform::kInvalidHandle) << path;
  const platform::FileTime time = fs::SecondsToFileTime(seconds);
  ASSERT_TRUE(platform::SetFileTimes(file.Get(), nullptr, nullptr, &time));
}

bool Near(std::int64_t actual, std::int64_t expected) {
  return std::llabs(static_cast<long long>(actual - expected)) <= 2;
}

// Offset of the first byte of an entry's data in the archive file.
std::size_t DataOffset(const std::string& path, int index) {
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  const ZipEntry* entry = archive.Table().At(index);
  return static_cast<std::size_t>(entry->localHeaderOffset + 30 + entry->nameLength +
                                  entry->localExtraLength);
}

TEST(ExtractionTest, ExtractAllRestoresFilesFoldersAndTimes) {
  TempDir dir;
  const Bytes text = testing_support::TextBytes(70000);
  const Bytes random = testing_support::RandomBytes(20000, 4);
  const std::string path = Pack(dir, {{"src/main.c", text},
                                      {"src/deep/er/random.bin", random},
                                      {"empty.txt", {}},
                                      {"locked.txt", testing_support::TextBytes(100), false, true},
                                      {"docs/none", {}, true}});
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  int errors = -1;
  const std::string out = dir / "out";
  EXPECT_EQ(archive.ExtractAll(out.c_str(), &errors), kOk);  // no trailing separator
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(ReadFile(out + "/src/main.c"), text);
  EXPECT_EQ(ReadFile(out + "/src/deep/er/random.bin"), random);
  EXPECT_TRUE(FileExists(out + "/empty.txt"));
  EXPECT_TRUE(ReadFile(out + "/empty.txt").empty());
  EXPECT_NE(InfoOf(out + "/docs/none").attributes & fs::InfoFolder, 0u);
  for (int i = 0; i < archive.EntryCount(); ++i) EXPECT_EQ(archive.ProcessingState(i), 2) << i;

  for (const char* name : {"/src/main.c", "/src/deep/er/random.bin", "/empty.txt"}) {
    const fs::FileInfo info = InfoOf(out + name);
    EXPECT_TRUE(Near(info.modified, kEntryTime)) << name << " " << info.modified;
  }
  // A read-only entry keeps the time of its extraction and a writable file.
  const fs::FileInfo locked = InfoOf(out + "/locked.txt");
  EXPECT_FALSE(Near(locked.modified, kEntryTime));
  EXPECT_NE(locked.attributes & fs::InfoWritable, 0u);

  // Extracting again finds the folder there: state 1.
  EXPECT_EQ(archive.ExtractEntry(archive.FindEntry("docs/none"), (out + "/").c_str()), kOk);
  EXPECT_EQ(archive.ProcessingState(archive.FindEntry("docs/none")), 1);
}

// Small entries of a read-only archive come through a window read ahead; an
// archive rewritten between two openings of the same object is read anew.
// A 32-bit extended timestamp with its top bit set is 2038 or later when the
// entry's DOS date says so; Info-ZIP writes such times for files of 2040.
TEST(ExtractionTest, TimestampsFrom2038OnAreRestoredWhenTheDosDateAgrees) {
  PAKKARO_REQUIRE_TOOLS("zip");
  TempDir dir;
  const std::uint32_t when = 2222222223u;  // 2040-06-02, an odd second: not from the DOS field
  ASSERT_TRUE(WriteFile(dir / "in/future.txt", testing_support::TextBytes(300)));
  SetModified(dir / "in/future.txt", when);
  ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(dir / "in") + " && zip -q " +
                                        testing_support::Quote(dir / "f.zip") + " future.txt"),
            0);
  Korbel archive;
  ASSERT_EQ(archive.Open((dir / "f.zip").c_str(), kReadOnly, 9), kOk);
  ASSERT_GE(archive.Table().At(0)->dosDateTime >> 25, 2038u - 1980u);
  ASSERT_EQ(archive.ExtractEntry(0, (dir / "out/").c_str()), kOk);
  EXPECT_EQ(InfoOf(dir / "out/future.txt").modified, when);
}

// A file's times outside 1970-2038 go through the walk's record, the
// archive and extraction whole.
TEST(ExtractionTest, TimesBefore1970AndAfter2038SurviveTheRoundTrip) {
  const std::int64_t times[] = {-315619200 /* 1960 */, 299635201 /* 1979, odd */, 2209032000 /* 2040 */,
                                4102444800 /* 2100 */, 4354819200 /* 2108, past DOS */};
  for (std::int64_t when : times) {
    SCOPED_TRACE(when);
    TempDir dir;
    const std::string source = dir / "in/dated.txt";
    ASSERT_TRUE(WriteFile(source, testing_support::TextBytes(100)));
    {
      platform::FileCloser file(platform::OpenFile(source.c_str(), platform::kAccessReadWrite,
                                                   platform::kShareNone, platform::kOpenExisting));
      ASSERT_NE(file.Get(), platform::kInvalidHandle);
      const platform::FileTime time = fs::SecondsToFileTime(when);
      ASSERT_TRUE(platform::SetFileTimes(file.Get(), nullptr, &time, &time));
    }
    EXPECT_EQ(InfoOf(source).modified, when);
    EXPECT_EQ(InfoOf(source).accessed, when);
    const std::string path = dir / "dated.zip";
    ASSERT_EQ(archive_change::PackFile(path, source, "dated.txt"), kOk);
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    EXPECT_EQ(archive.EntryTime(0), when);
    EXPECT_EQ(archive.EntryTimeOf(0, 2), when);
    ASSERT_EQ(archive.ExtractEntry(0, (dir / "out/").c_str()), kOk);
    EXPECT_EQ(InfoOf(dir / "out/dated.txt").modified, when);
  }
}

TEST(ExtractionTest, ReopenedArchiveIsReadAfresh) {
  TempDir dir;
  TempDir target;
  Korbel reader;
  for (const char* content : {"first content", "second, longer content"}) {
    std::vector<Item> items;
    for (int i = 0; i < 30; ++i) {
      items.push_back({"f" + std::to_string(i) + ".txt", testing_support::TextBytes(i * 50)});
    }
    items.push_back({"probe.txt", Bytes(content, content + std::strlen(content))});
    const std::string path = Pack(dir, items);
    ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
    for (const Item& item : items) {
      const std::string out = target / item.name;
      ASSERT_EQ(reader.ExtractEntry(reader.FindEntry(item.name.c_str()), out.c_str()), kOk) << item.name;
      EXPECT_EQ(ReadFile(out), item.data) << item.name;
    }
    ASSERT_EQ(reader.Close(), kOk);
  }
}

TEST(ExtractionTest, TargetIsAFileOrAFolder) {
  TempDir dir;
  const Bytes data = testing_support::TextBytes(3000);
  Korbel archive;
  ASSERT_EQ(archive.Open(Pack(dir, {{"sub/a.txt", data}}).c_str(), kReadOnly, 9), kOk);
  // Without a trailing separator the target is the file itself.
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "renamed.bin").c_str()), kOk);
  EXPECT_EQ(ReadFile(dir / "renamed.bin"), data);
  // Missing folders of a file target are made.
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "new/folder/b.bin").c_str()), kOk);
  EXPECT_EQ(ReadFile(dir / "new/folder/b.bin"), data);
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "into\\").c_str()), kOk);
  EXPECT_EQ(ReadFile(dir / "into/sub/a.txt"), data);
  // A folder target of 256 characters or more is refused.
  const std::string longTarget = dir / (std::string(300 - dir.Path().size(), 'f') + "/");
  EXPECT_EQ(archive.ExtractEntry(0, longTarget.c_str()), kBadPath);
  EXPECT_EQ(archive.LastError(), kBadPath);
  EXPECT_EQ(archive.ExtractEntry(5, (dir / "x/").c_str()), kBadIndexOrMode);
}

// The place a caller may look at before extracting is where the entry then
// lands; asking makes nothing.
TEST(ExtractionTest, TargetPathIsWhereTheEntryGoes) {
  TempDir dir;
  const Bytes data = testing_support::TextBytes(100);
  Korbel archive;
  ASSERT_EQ(archive.Open(Pack(dir, {{"sub/a.txt", data}, {"../../up.txt", data}}).c_str(), kReadOnly, 9),
            kOk);
  std::string path;
  ASSERT_EQ(archive.ExtractTargetPath(0, (dir / "out/").c_str(), &path), kOk);
  EXPECT_FALSE(testing_support::FileExists(dir / "out"));
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "out/").c_str()), kOk);
  EXPECT_EQ(ReadFile(path), data);
  // A name that climbs out is refused by both alike.
  EXPECT_EQ(archive.ExtractTargetPath(1, (dir / "out/").c_str(), &path), kBadPath);
  EXPECT_EQ(archive.ExtractEntry(1, (dir / "out/").c_str()), kBadPath);
  // Without a trailing separator the target is the file itself.
  ASSERT_EQ(archive.ExtractTargetPath(0, (dir / "file.bin").c_str(), &path), kOk);
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "file.bin").c_str()), kOk);
  EXPECT_EQ(ReadFile(path), data);
  const std::string longTarget = dir / (std::string(300 - dir.Path().size(), 'f') + "/");
  EXPECT_EQ(archive.ExtractTargetPath(0, longTarget.c_str(), &path), kBadPath);
  EXPECT_EQ(archive.ExtractTargetPath(5, (dir / "x/").c_str(), &path), kBadIndexOrMode);
}

TEST(ExtractionTest, OverwriteOptionsDecideOverAnExistingTarget) {
  struct Case {
    const char* what;
    std::uint32_t options;
    bool exists;
    std::uint32_t targetTime;
    bool readOnly;
    bool replaced;
  };
  const Case cases[] = {
      {"no option: overwritten", 0, true, kNewer, false, true},
      {"no option: read-only target replaced", 0, true, kNewer, true, true},
      {"Freshen, target as new as the entry", kFreshen, true, kEntryTime, false, false},
      {"Freshen, target newer", kFreshen, true, kNewer, false, false},
      {"Freshen, target older", kFreshen, true, kOlder, false, true},
      {"Freshen, target missing", kFreshen, false, 0, false, true},
      {"KeepExisting, target there", kKeepExisting, true, kOlder, false, false},
      {"KeepExisting, target missing", kKeepExisting, false, 0, false, true},
      {"KeepDrive, read-only target", kKeepDrive, true, kOlder, true, false},
      {"KeepDrive, writable target", kKeepDrive, true, kOlder, false, true},
  };
  TempDir dir;
  const Bytes data = testing_support::TextBytes(5000);
  const std::string path = Pack(dir, {{"file.txt", data}});
  const Bytes old(40, 'o');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string target = dir / "t/file.txt";
    if (FileExists(target)) platform::SetAttributes(target.c_str(), platform::kAttrNormal);
    std::remove(target.c_str());
    if (c.exists) {
      ASSERT_TRUE(WriteFile(target, old));
      SetModified(target, c.targetTime);
      if (c.readOnly) {
        ASSERT_TRUE(platform::SetAttributes(target.c_str(), platform::kAttrReadOnly));
      }
    }
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly | c.options, 9), kOk);
    EXPECT_EQ(archive.ExtractEntry(0, (dir / "t/").c_str()), kOk) << archive.ErrorText();
    EXPECT_EQ(ReadFile(target), c.replaced ? data : old);
    EXPECT_EQ(archive.ProcessingState(0), c.replaced ? 2 : 1);
    platform::SetAttributes(target.c_str(), platform::kAttrNormal);
  }
}

TEST(ExtractionTest, FolderInTheWayOfAFileFails) {
  TempDir dir;
  const std::string path = Pack(dir, {{"name", testing_support::TextBytes(100)}, {"folder", {}, true}});
  ASSERT_TRUE(WriteFile(dir / "t/name/inside.txt", std::string("x")));
  ASSERT_TRUE(WriteFile(dir / "t/folder/inside.txt", std::string("x")));
  for (std::uint32_t options : {0u, static_cast<std::uint32_t>(kFreshen)}) {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly | options, 9), kOk);
    EXPECT_EQ(archive.ExtractEntry(archive.FindEntry("name"), (dir / "t/").c_str()), kFileCreateError)
        << options;
    EXPECT_EQ(archive.ExtractEntry(archive.FindEntry("folder"), (dir / "t/").c_str()), kOk) << options;
    EXPECT_EQ(archive.ProcessingState(archive.FindEntry("folder")), 1);
  }
}

TEST(ExtractionTest, AlteredStoredDataFailsAndLeavesNoFile) {
  TempDir dir;
  const Bytes random = testing_support::RandomBytes(50000, 8);  // incompressible: stored
  const std::string path = Pack(dir, {{"random.bin", random}});
  Bytes archiveBytes = ReadFile(path);
  archiveBytes[DataOffset(path, 0) + 30000] ^= 0x40;
  ASSERT_TRUE(WriteFile(path, archiveBytes));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(archive.Table().At(0)->method, 0);
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "out/").c_str()), kDecompressError);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
  EXPECT_EQ(archive.IsFaulty(0), 0);
  EXPECT_EQ(archive.TestEntry(0), kCrcError);
  EXPECT_EQ(archive.IsFaulty(0), 1);
  EXPECT_NE(std::string(archive.ErrorText()).find("random.bin"), std::string::npos) << archive.ErrorText();
}

TEST(ExtractionTest, ExtractAllGoesOnPastFailingEntries) {
  TempDir dir;
  const Bytes first = testing_support::TextBytes(4000);
  const Bytes broken = testing_support::RandomBytes(30000, 9);
  const Bytes blocked = testing_support::TextBytes(300);
  const Bytes last = testing_support::RandomBytes(100, 10);
  const std::string path =
      Pack(dir, {{"first.txt", first}, {"broken.bin", broken}, {"blocked", blocked}, {"last.bin", last}});
  Bytes archiveBytes = ReadFile(path);
  archiveBytes[DataOffset(path, 1) + 100] ^= 0x01;
  ASSERT_TRUE(WriteFile(path, archiveBytes));
  const std::string out = dir / "out";
  ASSERT_TRUE(WriteFile(out + "/blocked/x", std::string("a folder where a file goes")));

  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  int errors = 0;
  EXPECT_EQ(archive.ExtractAll((out + "/").c_str(), &errors), kFileCreateError);
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(archive.LastError(), kFileCreateError);
  EXPECT_EQ(ReadFile(out + "/first.txt"), first);
  EXPECT_EQ(ReadFile(out + "/last.bin"), last);
  EXPECT_EQ(archive.ProcessingState(0), 2);
  EXPECT_EQ(archive.ProcessingState(3), 2);

  // Without the folder in the way only the damaged entry fails.
  Korbel again;
  ASSERT_EQ(again.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(again.ExtractAll((dir / "clean").c_str(), &errors), kDecompressError);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(ReadFile(dir / "clean/blocked"), blocked);
}

TEST(ExtractionTest, NamesLeavingTheTargetFolderAreRefused) {
  struct Case {
    const char* name;
    int code;
    const char* landsAt;  // below the target, when extracted
  };
  const Case cases[] = {
      {"../../x", kBadPath, nullptr},
      {"a/../../x", kBadPath, nullptr},
      {"a\\..\\..\\x", kBadPath, nullptr},
      {"..", kBadPath, nullptr},
      {"//abs", kBadPath, nullptr},
      // One leading separator and a drive are dropped: these stay inside.
      {"/abs", kOk, "abs"},
      {"C:/drive/x", kOk, "drive/x"},
      {"a/..b/x", kOk, "a/..b/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    crafted_zip::Entry entry;
    entry.name = c.name;
    entry.plain = testing_support::TextBytes(50);
    ASSERT_TRUE(WriteFile(dir / "evil.zip", crafted_zip::Build({entry})));
    Korbel archive;
    ASSERT_EQ(archive.Open((dir / "evil.zip").c_str(), kReadOnly, 9), kOk);
    const std::string target = dir / "one/two/target/";
    EXPECT_EQ(archive.ExtractEntry(0, target.c_str()), c.code);
    if (c.landsAt != nullptr) {
      EXPECT_EQ(ReadFile(target + c.landsAt), entry.plain);
    }
    EXPECT_FALSE(FileExists(dir / "one/x"));
    EXPECT_FALSE(FileExists(dir / "one/two/x"));
    EXPECT_FALSE(FileExists("/abs"));
    int errors = 0;
    EXPECT_EQ(archive.ExtractAll((dir / "one/two/all").c_str(), &errors), c.code);
    EXPECT_EQ(errors, c.code == kOk ? 0 : 1);
    EXPECT_FALSE(FileExists(dir / "one/x"));
  }
}

// Answers nonzero for one event of one entry and records every event.
struct Listener {
  int event = -1;
  int entry = -1;
  std::vector<std::pair<int, int>> seen;

  static int Answer(std::uintptr_t self, int kind, int index, ArchiveBase*, const char*) {
    auto* listener = reinterpret_cast<Listener*>(self);
    listener->seen.emplace_back(kind, index);
    return kind == listener->event && index == listener->entry ? 1 : 0;
  }
  bool Saw(int kind, int index) const {
    for (const auto& pair : seen) {
      if (pair.first == kind && pair.second == index) return true;
    }
    return false;
  }
};

TEST(ExtractionTest, CallbackSkipsAndCancels) {
  TempDir dir;
  const Bytes data = testing_support::TextBytes(1000);
  const std::string path = Pack(dir, {{"a.txt", data}, {"b.txt", data}, {"c.txt", data}});
  struct Case {
    const char* what;
    int event;
    int single;     // ExtractEntry of entry 1
    int all;        // ExtractAll
    bool cWritten;  // whether ExtractAll went on after entry 1
  };
  const Case cases[] = {
      {"skip question answered yes", kEventSkip, kSkipped, kOk, true},
      {"cancelled before extraction", kEventExtract, kUserAbort, kOk, false},
      {"cancelled after extraction", kEventExtracted, kUserAbort, kOk, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir / (std::string("out") + std::to_string(c.event));
    Listener listener;
    listener.event = c.event;
    listener.entry = 1;
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    archive.SetCallback(reinterpret_cast<std::uintptr_t>(&listener), &Listener::Answer);
    EXPECT_EQ(archive.ExtractEntry(99, (out + "/single/").c_str()), kBadIndexOrMode);
    EXPECT_EQ(archive.ExtractEntry(1, (out + "/single/").c_str()), c.single);
    EXPECT_EQ(archive.LastError(), c.single == kSkipped ? kOk : c.single);
    EXPECT_EQ(FileExists(out + "/single/b.txt"), c.event == kEventExtracted);
    EXPECT_EQ(listener.Saw(kEventError, 1), c.single == kUserAbort);
    int errors = -1;
    EXPECT_EQ(archive.ExtractAll((out + "/all").c_str(), &errors), c.all);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(ReadFile(out + "/all/a.txt"), data);
    EXPECT_EQ(FileExists(out + "/all/c.txt"), c.cWritten);
  }
}

std::int64_t ShortSink(void*, const void* data, std::size_t length) {
  return data == nullptr ? 0 : static_cast<std::int64_t>(length / 2);
}

std::int64_t TakeAll(void*, const void*, std::size_t length) { return static_cast<std::int64_t>(length); }

std::int64_t RefusingEndSink(void*, const void* data, std::size_t length) {
  return data == nullptr ? -1 : static_cast<std::int64_t>(length);
}

TEST(ExtractionTest, SinkFailuresGiveTheirCodes) {
  TempDir dir;
  const Bytes text = testing_support::TextBytes(50000);
  const std::string path =
      Pack(dir, {{"text.txt", text}, {"stored.bin", testing_support::RandomBytes(30000, 2)}});
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  for (int index = 0; index < 2; ++index) {
    SCOPED_TRACE(index);
    EXPECT_EQ(archive.ReadEntry(index, nullptr, ShortSink, nullptr), kWriteError);
    EXPECT_EQ(archive.ReadEntry(index, nullptr, RefusingEndSink, nullptr), kFileWriteError);
    EXPECT_EQ(archive.ReadEntry(index, nullptr, nullptr, nullptr), kBadIndexOrMode);
  }
  EXPECT_EQ(archive.ReadEntry(2, nullptr, RefusingEndSink, nullptr), kBadIndexOrMode);
  // The info record describes the entry.
  fs::FileInfo info{};
  EXPECT_EQ(archive.ReadEntry(0, nullptr, TakeAll, &info), kOk);
  EXPECT_EQ(info.size, text.size());
  EXPECT_EQ(info.attributes, 1u);
  EXPECT_TRUE(Near(info.modified, kEntryTime));
  EXPECT_TRUE(Near(info.created, kEntryTime - 3600));
}

// The entry goes to a temporary file that replaces the target only once the
// entry tested good: whatever fails, an existing file keeps its bytes and
// nothing else is left in the folder.
TEST(ExtractionTest, AFailedEntryLeavesAnExistingFileAsItWas) {
  auto make = [](crafted_zip::Crypt crypt) {
    crafted_zip::Entry entry;
    entry.name = "secret.txt";
    entry.plain = testing_support::TextBytes(40000);
    entry.crypt = crypt;
    entry.password = "right";
    return entry;
  };
  struct Case {
    const char* what;
    crafted_zip::Entry entry;
    const char* password;
    int code;
  };
  std::vector<Case> cases = {
      {"AES, wrong password", make(crafted_zip::Crypt::kAes), "wrong", kWrongPassword},
      {"traditional, wrong password", make(crafted_zip::Crypt::kTraditional), "wrong", kWrongPassword},
      {"stored, flipped data byte", make(crafted_zip::Crypt::kNone), nullptr, kDecompressError},
      {"AES, flipped data byte", make(crafted_zip::Crypt::kAes), "right", kReadError},
      {"stored, truncated entry", make(crafted_zip::Crypt::kNone), nullptr, kDecompressError},
      {"AES, truncated entry", make(crafted_zip::Crypt::kAes), "right", kReadError},
  };
  cases[2].entry.flipAt = 30000;
  cases[3].entry.flipAt = 18 + 20000;
  cases[4].entry.truncateTo = 20000;
  cases[5].entry.truncateTo = 20000;
  const Bytes old = testing_support::RandomBytes(777, 3);
  for (const Case& c : cases) {
    for (const bool existing : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (existing ? ", file there" : ", no file"));
      TempDir dir;
      ASSERT_TRUE(WriteFile(dir / "enc.zip", crafted_zip::Build({c.entry})));
      ASSERT_TRUE(std::filesystem::create_directories(dir / "out"));
      if (existing) {
        ASSERT_TRUE(WriteFile(dir / "out/secret.txt", old));
      }
      Korbel archive;
      ASSERT_EQ(archive.Open((dir / "enc.zip").c_str(), kReadOnly, 9), kOk);
      archive.SetPassword(c.password);
      EXPECT_EQ(archive.ExtractEntry(0, (dir / "out/").c_str()), c.code);
      std::vector<std::string> names;
      for (const auto& item : std::filesystem::directory_iterator(dir / "out")) {
        names.push_back(item.path().filename().string());
      }
      EXPECT_EQ(names, existing ? std::vector<std::string>{"secret.txt"} : std::vector<std::string>{});
      if (existing) {
        EXPECT_EQ(ReadFile(dir / "out/secret.txt"), old);
      }
    }
  }
  // With the right password the same target is replaced.
  TempDir dir;
  const crafted_zip::Entry entry = make(crafted_zip::Crypt::kAes);
  ASSERT_TRUE(WriteFile(dir / "enc.zip", crafted_zip::Build({entry})));
  ASSERT_TRUE(WriteFile(dir / "out/secret.txt", old));
  Korbel archive;
  ASSERT_EQ(archive.Open((dir / "enc.zip").c_str(), kReadOnly, 9), kOk);
  archive.SetPassword("right");
  EXPECT_EQ(archive.ExtractEntry(0, (dir / "out/").c_str()), kOk);
  EXPECT_EQ(ReadFile(dir / "out/secret.txt"), entry.plain);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir / "out"), std::filesystem::directory_iterator()),
      1);
}

}  // namespace
}  // namespace korbel
