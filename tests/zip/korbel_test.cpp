// The archive object end to end: archives written by us are checked by the
// independent readers, archives written by them are read by us.
#include "zip/korbel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::Quote;
using testing_support::RunCommand;
using testing_support::TempDir;

using entry_bytes::ReadAll;

// A small project tree with text, random and empty files.
void MakeTree(const TempDir& dir) {
  testing_support::WriteFile(dir / "src/a.c", testing_support::TextBytes(5000));
  testing_support::WriteFile(dir / "src/sub/b.h", std::string("#define B 1\n"));
  testing_support::WriteFile(dir / "random.bin", testing_support::RandomBytes(40000, 3));
  testing_support::WriteFile(dir / "empty.txt", Bytes());
  testing_support::WriteFile(dir / "packed.zip", testing_support::TextBytes(3000));
}

::testing::AssertionResult ToolAccepts(const std::string& archive) {
  using testing_support::Reader;
  return testing_support::ReadersAccept(archive, {Reader::kUnzip, Reader::kSevenZip});
}

std::string PackTree(const TempDir& dir) {
  MakeTree(dir);
  const std::string path = dir / "out.zip";
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  archive.Options(archive.Options(-2) | kRecurse);
  EXPECT_EQ(archive.AddFiles(dir.Path().c_str(), "*", "*.zip2", nullptr), 5);
  EXPECT_EQ(archive.Close(), kOk);
  EXPECT_EQ(archive.WrittenFileCount(), 5);
  return path;
}

TEST(KorbelTest, NewObjectDefaults) {
  Korbel archive;
  EXPECT_EQ(archive.Options(-2), 0u);
  EXPECT_EQ(archive.SetLevel(-2), 9);
  EXPECT_EQ(archive.SetMethod(-2), -1);
  EXPECT_EQ(archive.LastError(), kOk);
  EXPECT_STREQ(archive.ErrorText(), "\nEs ist kein Fehler aufgetreten.");
  EXPECT_EQ(archive.Close(), kBadIndexOrMode);
}

TEST(KorbelTest, InvalidOpenModesAreNotSupported) {
  TempDir dir;
  for (std::uint32_t mode : {0u, 4u, 7u}) {
    Korbel archive;
    EXPECT_EQ(archive.Open((dir / "x.zip").c_str(), mode, 9), kUnsupported) << mode;
  }
}

TEST(KorbelTest, LevelAndMethodSettings) {
  Korbel archive;
  EXPECT_EQ(archive.SetLevel(12), 9);
  EXPECT_EQ(archive.SetLevel(-5), 0);
  EXPECT_EQ(archive.SetMethod(-2), -1);
  EXPECT_EQ(archive.SetLevel(0), 0);
  EXPECT_EQ(archive.SetMethod(-2), 0);
  EXPECT_EQ(archive.SetMethod(5), 8);
  EXPECT_EQ(archive.SetMethod(-1), -1);
}

TEST(KorbelTest, EmptyArchiveHoldsOnlyTheEndRecordAndIdentification) {
  TempDir dir;
  const std::string path = dir / "empty.zip";
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    ASSERT_EQ(archive.Close(), kOk);
    EXPECT_EQ(archive.Close(), kBadIndexOrMode);
  }
  const Bytes bytes = testing_support::ReadFile(path);
  ASSERT_GE(bytes.size(), 22u);
  EXPECT_EQ(std::memcmp(bytes.data(), "PK\x05\x06", 4), 0);
  using archive_builder::EndRecord;
  const std::size_t commentLength = archive_builder::Get(bytes, EndRecord::kCommentLength, 2);
  EXPECT_EQ(bytes.size(), EndRecord::kSize + commentLength);
  EXPECT_NE(std::string(bytes.begin() + EndRecord::kSize, bytes.end()).find("Korbel"), std::string::npos);
  Korbel reader;
  EXPECT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(reader.EntryCount(), 0);
}

TEST(KorbelTest, OpenModesOnExistingFiles) {
  TempDir dir;
  const std::string path = PackTree(dir);
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    EXPECT_EQ(archive.EntryCount(), 5);
  }
  {
    Korbel archive;  // modify mode on an existing file starts it empty
    ASSERT_EQ(archive.Open(path.c_str(), kModify, 9), kOk);
    EXPECT_EQ(archive.EntryCount(), 0);
  }
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(archive.EntryCount(), 0);
  const std::string zero = dir / "zero.zip";
  testing_support::WriteFile(zero, Bytes());
  Korbel empty;
  EXPECT_EQ(empty.Open(zero.c_str(), kReadOnly, 9), kBadFormat);
  EXPECT_EQ(empty.Mode(), kClosed);
}

TEST(KorbelTest, PackedTreeReadsBackAndPassesIndependentReaders) {
  TempDir dir;
  const std::string path = PackTree(dir);
  EXPECT_TRUE(ToolAccepts(path));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  struct Expected {
    const char* name;
    int method;
  };
  // b.h is too short to gain from Deflate: it is stored.
  for (const Expected& expected :
       {Expected{"src/a.c", 8}, Expected{"src/sub/b.h", 0}, Expected{"random.bin", 0},
        Expected{"empty.txt", 0}, Expected{"packed.zip", 0}}) {
    const int index = archive.FindEntry(expected.name);
    ASSERT_GE(index, 0) << expected.name;
    EXPECT_EQ(archive.Table().At(index)->method, expected.method) << expected.name;
    EXPECT_EQ(ReadAll(archive, index), testing_support::ReadFile(dir / expected.name)) << expected.name;
    EXPECT_EQ(archive.TestEntry(index), kOk);
  }
  EXPECT_EQ(archive.Table().At(archive.FindEntry("empty.txt"))->versionNeeded, 10);
}

TEST(KorbelTest, FindEntryIgnoresCaseSeparatorsAndOneLeadingSlash) {
  TempDir dir;
  const std::string path = PackTree(dir);
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  const int index = archive.FindEntry("src/a.c");
  ASSERT_GE(index, 0);
  EXPECT_EQ(archive.FindEntry("/src/a.c"), index);
  EXPECT_EQ(archive.FindEntry("SRC/A.C"), index);
  EXPECT_EQ(archive.FindEntry("src\\a.c"), index);
  EXPECT_EQ(archive.FindEntry("src/a.c2"), -1);
}

TEST(KorbelTest, DeletingAnEntryCompactsTheArchive) {
  TempDir dir;
  const std::string path = PackTree(dir);
  const auto before = testing_support::ReadFile(path).size();
  std::uint64_t span = 0;
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive.SwitchMode(kModify), kOk);
    const int index = archive.FindEntry("src/a.c");
    ASSERT_GE(index, 0);
    const ZipEntry* entry = archive.Table().At(index);
    span = 30 + entry->nameLength + entry->localExtraLength + entry->compressedSize;
    ASSERT_EQ(archive.DeleteEntry(index), kOk);
    EXPECT_EQ(archive.Table().Live(), 4);
    ASSERT_EQ(archive.Close(), kOk);
  }
  const Bytes after = testing_support::ReadFile(path);
  // The central header of the entry goes too: 46 + name + 53 bytes of extra.
  EXPECT_EQ(after.size(), before - span - (46 + 7 + 53));
  EXPECT_TRUE(ToolAccepts(path));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(archive.EntryCount(), 4);
  EXPECT_EQ(archive.FindEntry("src/a.c"), -1);
  for (int i = 0; i < archive.EntryCount(); ++i) {
    const std::uint64_t offset = archive.Table().At(i)->localHeaderOffset;
    ASSERT_LE(offset + 4, after.size());
    EXPECT_EQ(std::memcmp(after.data() + offset, "PK\x03\x04", 4), 0) << archive.EntryName(i);
    EXPECT_EQ(archive.TestEntry(i), kOk) << archive.EntryName(i);
  }
}

TEST(KorbelTest, SortBySizePutsDeletedEntriesLast) {
  TempDir dir;
  const std::string path = dir / "sizes.zip";
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  for (const auto& [name, size] : std::vector<std::pair<std::string, std::size_t>>{
           {"ten", 1000}, {"thirty", 3000}, {"twenty", 2000}, {"five", 500}}) {
    const Bytes data = testing_support::TextBytes(size);
    ASSERT_EQ(archive.AddFromMemory(name.c_str(), data.data(), data.size(), nullptr), kOk);
  }
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("five")), kOk);
  EXPECT_EQ(archive.SortEntries(kSortBySize), 4);
  EXPECT_STREQ(archive.EntryName(0), "ten");
  EXPECT_STREQ(archive.EntryName(1), "twenty");
  EXPECT_STREQ(archive.EntryName(2), "thirty");
  EXPECT_STREQ(archive.EntryName(3), "five");
  EXPECT_EQ(archive.Options(-2) & kSortKeyBits, static_cast<std::uint32_t>(kSortBySize));
  ASSERT_EQ(archive.Close(), kOk);
  EXPECT_TRUE(ToolAccepts(path));
}

TEST(KorbelTest, NumericAwareNameOrder) {
  TempDir dir;
  Korbel archive;
  ASSERT_EQ(archive.Open((dir / "n.zip").c_str(), kCreate, 9), kOk);
  for (const char* name : {"a10", "a2", "B1", "a1"}) ASSERT_EQ(archive.AddFolderEntry(name), kOk);
  archive.SortEntries(kSortByNameNumeric);
  EXPECT_STREQ(archive.EntryName(0), "a1");
  EXPECT_STREQ(archive.EntryName(1), "a2");
  EXPECT_STREQ(archive.EntryName(2), "a10");
  EXPECT_STREQ(archive.EntryName(3), "B1");
  archive.SortEntries(kSortByName);
  EXPECT_STREQ(archive.EntryName(1), "a10");
}

// A loaded table takes the room its directory counts, no more: a million
// entries must not cost room for two million.
TEST(KorbelTest, LoadedTableIsSizedByTheDirectory) {
  TempDir dir;
  const std::string path = dir / "t.zip";
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(archive.AddFolderEntry(("d" + std::to_string(i)).c_str()), kOk);
  EXPECT_GE(archive.Table().Capacity(), 300);
  ASSERT_EQ(archive.Close(), kOk);
  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reread.EntryCount(), 300);
  EXPECT_EQ(reread.Table().Capacity(), 300);
  for (int i = 0; i < 300; i += 37) EXPECT_EQ(reread.FindEntry(("D" + std::to_string(i)).c_str()), i);
}

TEST(KorbelTest, DestructorFinishesAnOpenArchive) {
  TempDir dir;
  const std::string path = dir / "d.zip";
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    const Bytes data = testing_support::TextBytes(1000);
    ASSERT_EQ(archive.AddFromMemory("text.txt", data.data(), data.size(), nullptr), kOk);
  }
  Korbel reader;
  ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reader.EntryCount(), 1);
  EXPECT_EQ(ReadAll(reader, 0), testing_support::TextBytes(1000));
}

TEST(KorbelTest, AppendedAndPrependedDataDoNotHideTheArchive) {
  TempDir dir;
  const std::string path = PackTree(dir);
  const Bytes archive = testing_support::ReadFile(path);
  Bytes appended = archive;
  const Bytes tail = testing_support::RandomBytes(100000, 9);
  appended.insert(appended.end(), tail.begin(), tail.end());
  const std::string file = dir / "appended.zip";
  testing_support::WriteFile(file, appended);
  Korbel reader;
  ASSERT_EQ(reader.Open(file.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(reader.EntryCount(), 5);
  for (int i = 0; i < reader.EntryCount(); ++i) EXPECT_EQ(reader.TestEntry(i), kOk);

  // A stub in front, with the offsets counted from the start of the file
  // (as zip -A leaves a self-extractor).
  if (!testing_support::RequireTool("zip")) return;
  Bytes prepended = testing_support::RandomBytes(7777, 4);
  prepended.insert(prepended.end(), archive.begin(), archive.end());
  const std::string stubbed = dir / "stubbed.zip";
  testing_support::WriteFile(stubbed, prepended);
  ASSERT_EQ(RunCommand("zip -qA " + Quote(stubbed)), 0);
  Korbel withStub;
  ASSERT_EQ(withStub.Open(stubbed.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(withStub.EntryCount(), 5);
  for (int i = 0; i < withStub.EntryCount(); ++i) EXPECT_EQ(withStub.TestEntry(i), kOk);
}

TEST(KorbelTest, ArchivesOfIndependentToolsLoadAndExtract) {
  PAKKARO_REQUIRE_TOOLS("zip", "7zz", "python3");
  TempDir dir;
  MakeTree(dir);
  const std::string tree = Quote(dir.Path());
  const std::vector<std::pair<std::string, std::string>> makers = {
      {"info-zip", "cd " + tree + " && zip -qr -X out/info.zip src random.bin empty.txt"},
      {"7zz", "cd " + tree + " && 7zz a -tzip -bd out/7z.zip src random.bin empty.txt >/dev/null"},
      {"python", "cd " + tree +
                     " && python3 -c \"import zipfile; z = zipfile.ZipFile('out/py.zip', 'w', "
                     "zipfile.ZIP_DEFLATED); [z.write(p) for p in ['src/a.c', 'src/sub/b.h', 'random.bin', "
                     "'empty.txt']]; "
                     "z.comment = b'made by python'; z.close()\""},
      {"zip64",
       "cd " + tree +
           " && python3 -c \"import zipfile; z = zipfile.ZipFile('out/z64.zip', 'w', "
           "zipfile.ZIP_DEFLATED, allowZip64=True); [z.write(p) for p in ['src/a.c', 'random.bin']]; "
           "z.close()\" && python3 -c \"import sys; d = open(sys.argv[1], 'rb').read(); "
           "import struct; i = d.rfind(b'PK\\x05\\x06'); "
           "print(i)\" out/z64.zip >/dev/null"},
  };
  for (const auto& [label, command] : makers) {
    testing_support::RunCommand("mkdir -p " + Quote(dir / "out"));
    ASSERT_EQ(RunCommand(command), 0) << label;
  }
  for (const char* file : {"info.zip", "7z.zip", "py.zip", "z64.zip"}) {
    Korbel archive;
    ASSERT_EQ(archive.Open((dir / ("out/" + std::string(file))).c_str(), kReadOnly, 9), kOk) << file;
    ASSERT_GE(archive.EntryCount(), 2) << file;
    for (const char* name : {"src/a.c", "random.bin"}) {
      const int index = archive.FindEntry(name);
      ASSERT_GE(index, 0) << file << " " << name;
      EXPECT_EQ(ReadAll(archive, index), testing_support::ReadFile(dir / name)) << file << " " << name;
      EXPECT_GT(archive.EntryTime(index), 0);
    }
  }
  Korbel commented;
  ASSERT_EQ(commented.Open((dir / "out/py.zip").c_str(), kReadOnly, 9), kOk);
  ASSERT_NE(commented.ArchiveComment(), nullptr);
  EXPECT_STREQ(commented.ArchiveComment(), "made by python");
}

TEST(KorbelTest, TolerantLoadKeepsEntriesAroundADamagedHeader) {
  TempDir dir;
  const Bytes good = testing_support::ReadFile(PackTree(dir));
  Korbel strict;
  ASSERT_EQ(strict.Open((dir / "out.zip").c_str(), kReadOnly, 9), kOk);
  const std::uint64_t secondOffset = strict.Table().At(1)->localHeaderOffset;
  strict.Close();
  Bytes damaged = good;
  damaged[secondOffset] = 'X';  // the second entry's local header
  const std::string file = dir / "damaged.zip";
  testing_support::WriteFile(file, damaged);
  Korbel archive;
  EXPECT_EQ(archive.Open(file.c_str(), kReadOnly, 9), kBadFormat);
  ASSERT_EQ(archive.Open(file.c_str(), kReadOnly | kTolerant, 9), kOk);
  EXPECT_EQ(archive.EntryCount(), 5);
  EXPECT_EQ(archive.IsFaulty(1), 1);
  EXPECT_EQ(archive.IsFaulty(0), 0);
  EXPECT_EQ(archive.TestEntry(0), kOk);
}

TEST(KorbelTest, GrowableMemoryArchiveRoundTrip) {
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(reinterpret_cast<void*>(1), 1000000, 0, 0), kOk);
  EXPECT_EQ(std::string(archive.FullPath()).rfind("mem:\\\\", 0), 0u);
  const Bytes data = testing_support::RandomBytes(300000, 5);
  ASSERT_EQ(archive.AddFromMemory("blob", data.data(), data.size(), nullptr), kOk);
  // The header and the data arrive in pieces: the block grew once by half plus 64 KiB.
  EXPECT_EQ(archive.Store().Capacity(), 458752);
  ASSERT_EQ(archive.SwitchMode(kReadOnly), kOk);
  ASSERT_EQ(archive.EntryCount(), 1);
  EXPECT_EQ(ReadAll(archive, 0), data);
  EXPECT_EQ(archive.Table().At(0)->method, 0);  // random data is stored
}

TEST(KorbelTest, MemoryArchiveThatCannotGrowFailsWithWriteError) {
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(reinterpret_cast<void*>(1), 300000, 0, 0), kOk);
  const Bytes data = testing_support::RandomBytes(400000, 6);
  EXPECT_NE(archive.AddFromMemory("blob", data.data(), data.size(), nullptr), kOk);
  EXPECT_EQ(archive.LastError(), kWriteError);
}

TEST(KorbelTest, ErrorTextNamesTheArchiveAndTheEntryThatFailed) {
  TempDir dir;
  const std::string plain = dir / "plain.zip";
  {
    Korbel writer;
    ASSERT_EQ(writer.Open(plain.c_str(), kCreate, 9), kOk);
    const Bytes data = testing_support::TextBytes(3000);
    ASSERT_EQ(writer.AddFromMemory("bad.txt", data.data(), data.size(), nullptr), kOk);
    ASSERT_EQ(writer.AddFromMemory("good.txt", data.data(), data.size(), nullptr), kOk);
    ASSERT_EQ(writer.Close(), kOk);
  }
  Korbel archive;
  ASSERT_EQ(archive.Open(plain.c_str(), kReadOnly, 9), kOk);
  archive.Close();
  // The refusal names the archive asked for, not the one opened before.
  const std::string missing = dir / "missing.zip";
  EXPECT_EQ(archive.Open(missing.c_str(), kReadOnly, 9), kOpenError);
  EXPECT_EQ(std::string(archive.ErrorText()),
            "\nBei Datei : " + missing + "\nFehler beim \326ffnen der Datei !");

  // A folder in the way of the first entry; the second one succeeds after it.
  ASSERT_EQ(archive.Open(plain.c_str(), kReadOnly, 9), kOk);
  ASSERT_TRUE(std::filesystem::create_directories(dir / "out/bad.txt"));
  int errors = 0;
  EXPECT_EQ(archive.ExtractAll((dir / "out").c_str(), &errors), kFileCreateError);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(std::string(archive.ErrorText()),
            "\nBei Datei : " + plain + "\nFehler beim Erzeugen der Datei: bad.txt");
}

}  // namespace
}  // namespace korbel
