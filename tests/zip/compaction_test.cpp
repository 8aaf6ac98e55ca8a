// Reclaiming the space of deleted entries: data descriptors, data in front of
// the archive, memory archives, stopped moves and spans that overlap.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using archive_builder::Build;
using archive_builder::CentralHeader;
using archive_builder::Entry;
using archive_builder::Set32;
using archive_builder::Stored;
using testing_support::Bytes;
using testing_support::TempDir;

std::int64_t Collect(void* context, const void* data, std::size_t length) {
  if (data != nullptr) static_cast<std::string*>(context)->append(static_cast<const char*>(data), length);
  return static_cast<std::int64_t>(length);
}

::testing::AssertionResult IndependentToolsAccept(const std::string& path) {
  using testing_support::Reader;
  return testing_support::ReadersAccept(path, {Reader::kUnzip, Reader::kSevenZip});
}

// Every remaining entry's local header sits where the directory says, the
// entries follow each other without gaps from `first`, and each reads back.
void ExpectCompacted(const std::string& path, std::size_t first, const std::vector<Entry>& kept) {
  const Bytes bytes = testing_support::ReadFile(path);
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(archive.EntryCount(), static_cast<int>(kept.size()));
  archive.SortEntries(kSortByOffset);
  std::uint64_t expected = first;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    const ZipEntry& entry = *archive.Table().At(i);
    EXPECT_EQ(entry.name, kept[static_cast<std::size_t>(i)].name);
    EXPECT_EQ(entry.localHeaderOffset, expected) << entry.name;
    ASSERT_LE(entry.localHeaderOffset + 4, bytes.size());
    EXPECT_EQ(std::memcmp(bytes.data() + entry.localHeaderOffset, "PK\x03\x04", 4), 0) << entry.name;
    std::string data;
    EXPECT_EQ(archive.ReadEntry(i, &data, Collect, nullptr), kOk) << entry.name;
    EXPECT_EQ(Bytes(data.begin(), data.end()), kept[static_cast<std::size_t>(i)].data);
    expected += archive_builder::LocalHeader::kSize + entry.name.size() + entry.compressedSize +
                ((entry.flags & kFlagDataDescriptor) ? archive_builder::DataDescriptor::kSize : 0);
  }
  EXPECT_EQ(archive.DirectoryStart(), static_cast<std::int64_t>(expected));
}

TEST(CompactionTest, EntriesWithDescriptorsAndDataInFrontMoveDown) {
  const std::vector<Entry> items = {Stored("one.txt", "first entry", true),
                                    Stored("two.txt", "second entry, to be deleted", true),
                                    Stored("three.txt", "third"), Stored("four.txt", "fourth entry", true)};
  struct Case {
    const char* what;
    std::size_t stub;  // bytes in front of the archive
    std::vector<int> deleted;
  };
  const Case cases[] = {
      {"middle entry", 0, {1}},
      {"first entry behind a stub", 100, {0}},
      {"two entries behind a stub", 37, {1, 3}},
      {"every entry", 10, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir / "a.zip";
    Bytes bytes(c.stub, 'S');
    archive_builder::Archive archive = Build(items);
    // Offsets counted from the start of the file, stub included.
    for (std::size_t i = 0; i < items.size(); ++i) {
      Set32(&archive.bytes, archive.central[i] + CentralHeader::kLocalHeaderOffset,
            static_cast<std::uint32_t>(archive.local[i] + c.stub));
    }
    bytes.insert(bytes.end(), archive.bytes.begin(), archive.bytes.end());
    ASSERT_TRUE(testing_support::WriteFile(path, bytes));
    std::vector<Entry> kept;
    {
      Korbel loaded;
      ASSERT_EQ(loaded.Open(path.c_str(), kReadOnly, 9), kOk) << c.what;
      ASSERT_EQ(loaded.SwitchMode(kModify), kOk);
      for (int index : c.deleted) {
        const char* name = items[static_cast<std::size_t>(index)].name.c_str();
        ASSERT_EQ(loaded.DeleteEntry(loaded.FindEntry(name)), kOk) << name;
      }
      ASSERT_EQ(loaded.Close(), kOk) << c.what;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      bool gone = false;
      for (int index : c.deleted) gone = gone || index == static_cast<int>(i);
      if (!gone) kept.push_back(items[i]);
    }
    const Bytes after = testing_support::ReadFile(path);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(c.stub)), Bytes(c.stub, 'S'))
        << c.what;
    ExpectCompacted(path, c.stub, kept);
    if (c.stub == 0) {
      EXPECT_TRUE(IndependentToolsAccept(path)) << c.what;
    }
  }
}

TEST(CompactionTest, MemoryArchiveCompactsInPlace) {
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(reinterpret_cast<void*>(1), 1 << 20, 0, 0), kOk);
  const std::vector<std::string> texts = {std::string(3000, 'a'), std::string(4000, 'b'),
                                          std::string(5000, 'c')};
  ASSERT_EQ(archive.AddFromMemory("a", texts[0].data(), texts[0].size(), nullptr), kOk);
  ASSERT_EQ(archive.AddFromMemory("b", texts[1].data(), texts[1].size(), nullptr), kOk);
  ASSERT_EQ(archive.AddFromMemory("c", texts[2].data(), texts[2].size(), nullptr), kOk);
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("a")), kOk);
  ASSERT_EQ(archive.SwitchMode(kReadOnly), kOk);
  ASSERT_EQ(archive.EntryCount(), 2);
  archive.SortEntries(kSortByOffset);
  EXPECT_EQ(archive.Table().At(0)->localHeaderOffset, 0u);
  for (int i = 0; i < 2; ++i) {
    std::string data;
    ASSERT_EQ(archive.ReadEntry(i, &data, Collect, nullptr), kOk);
    EXPECT_EQ(data, texts[static_cast<std::size_t>(i) + 1]);
  }
}

int StopSecondMove(std::uintptr_t userData, int event, int, ArchiveBase*, const char*) {
  if (event != kEventCompress) return 0;
  return ++*reinterpret_cast<int*>(userData) == 2 ? 1 : 0;
}

// A stopped compaction leaves every entry readable where the directory says.
TEST(CompactionTest, StopAnswerLeavesAConsistentArchive) {
  TempDir dir;
  const std::string path = dir / "a.zip";
  const std::vector<Entry> items = {Stored("gone.txt", "deleted data"), Stored("one.txt", "first"),
                                    Stored("two.txt", "second"), Stored("three.txt", "third")};
  ASSERT_TRUE(testing_support::WriteFile(path, Build(items).bytes));
  int moves = 0;
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive.SwitchMode(kModify), kOk);
    ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("gone.txt")), kOk);
    archive.SetCallback(reinterpret_cast<std::uintptr_t>(&moves), StopSecondMove);
    archive.DisableEvents(0xFFFFFFFFu, true);
    archive.EnableEvents(kEventCompress, false);
    archive.Close();
  }
  EXPECT_EQ(moves, 2);
  EXPECT_TRUE(IndependentToolsAccept(path));
  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reread.EntryCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(reread.TestEntry(i), kOk) << reread.EntryName(i);
}

TEST(CompactionTest, SpanReachingIntoTheNextEntryIsAnInternalError) {
  TempDir dir;
  const std::string path = dir / "a.zip";
  archive_builder::Archive built =
      Build({Stored("one.txt", "first"), Stored("two.txt", "second"), Stored("three.txt", "third")});
  // The first entry claims 20 more bytes than it has.
  Set32(&built.bytes, built.central[0] + CentralHeader::kCompressedSize, 25);
  Set32(&built.bytes, built.local[0] + archive_builder::LocalHeader::kCompressedSize, 25);
  ASSERT_TRUE(testing_support::WriteFile(path, built.bytes));
  Korbel archive;
  // A strict load refuses the overlap; a tolerant one marks the entry and
  // leaves the guard of the move to catch it.
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kBadFormat);
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly | kTolerant, 9), kOk);
  EXPECT_TRUE(archive.IsFaulty(archive.FindEntry("two.txt")));
  ASSERT_EQ(archive.SwitchMode(kModify), kOk);
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("three.txt")), kOk);
  EXPECT_EQ(archive.Close(), kInternalError);
  EXPECT_EQ(archive.Mode(), kClosed);
}

}  // namespace
}  // namespace korbel
