// The entry table: sorting when the option word changes its sort bits,
// deleting queued and written entries, and the answers for bad indexes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::TempDir;

// Data that Deflate shrinks, so each add makes exactly one entry.
const std::string kData(200, 'q');

std::vector<std::string> Names(const Korbel& archive) {
  std::vector<std::string> names;
  for (int i = 0; i < archive.EntryCount(); ++i) names.push_back(archive.EntryName(i));
  return names;
}

// Entries added in this order, each with a size of its own.
void AddSample(Korbel& archive) {
  struct Sample {
    const char* name;
    std::size_t size;
  };
  const std::string data(600, 'z');
  for (const Sample& s : {Sample{"b10", 300}, Sample{"a2", 100}, Sample{"B1", 500}, Sample{"a10", 200}}) {
    ASSERT_EQ(archive.AddFromMemory(s.name, data.data(), s.size, nullptr), kOk) << s.name;
  }
}

TEST(EntryTableTest, ChangingTheSortBitsSortsAtOnce) {
  struct Case {
    std::uint32_t options;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {kSortBySize, {"a2", "a10", "b10", "B1"}},
      {kSortByNameNumeric, {"a2", "a10", "B1", "b10"}},
      {kSortByOffset, {"b10", "a2", "B1", "a10"}},
      {kKeepSorted | kSortByName, {"a10", "a2", "B1", "b10"}},
      {kKeepSorted | kSortByOffset, {"b10", "a2", "B1", "a10"}},
  };
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(reinterpret_cast<void*>(1), 1 << 20, 0, 0), kOk);
  AddSample(archive);
  ASSERT_EQ(Names(archive), (std::vector<std::string>{"b10", "a2", "B1", "a10"}));
  for (const Case& c : cases) {
    archive.Options(c.options);
    EXPECT_EQ(Names(archive), c.order) << std::hex << c.options;
    EXPECT_EQ(archive.Options(-2) & (kSortKeyBits | kKeepSorted), c.options);
  }
  // Bits outside the sort bits leave the order alone.
  archive.Options(kSortBySize);
  archive.SortEntries(kSortByName);
  archive.Options(kSortByName | kRecurse | kSkipNameCheck);
  EXPECT_EQ(Names(archive), (std::vector<std::string>{"a10", "a2", "B1", "b10"}));
}

TEST(EntryTableTest, DeletingAQueuedEntryRemovesItAtOnce) {
  TempDir dir;
  const std::string source = dir / "queued.txt";
  ASSERT_TRUE(testing_support::WriteFile(source, std::string("queued data")));
  const std::string path = dir / "out.zip";
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  ASSERT_EQ(archive.AddFromMemory("first", kData.data(), kData.size(), nullptr), kOk);
  ASSERT_EQ(archive.AddFileByPath(source.c_str(), "queued.txt"), kOk);
  ASSERT_EQ(archive.AddFileByPath(source.c_str(), "kept.txt"), kOk);
  ASSERT_EQ(archive.EntryCount(), 3);
  const int queued = archive.FindEntry("queued.txt");
  ASSERT_GE(queued, 0);
  ASSERT_NE(archive.EntryStatus(queued) & kStatusQueued, 0);
  ASSERT_EQ(archive.DeleteEntry(queued), kOk);
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.LiveEntries(), 2);
  EXPECT_EQ(archive.FindEntry("queued.txt"), -1);
  // A written entry stays in the table, marked, until its space is reclaimed.
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("first")), kOk);
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.LiveEntries(), 1);
  EXPECT_EQ(archive.FindEntry("first"), -1);
  EXPECT_EQ(archive.DeleteEntry(5), kBadIndexOrMode);
  ASSERT_EQ(archive.Close(), kOk);

  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(Names(reread), (std::vector<std::string>{"kept.txt"}));
  EXPECT_EQ(reread.Entry(0)->localHeaderOffset, 0u);
  EXPECT_EQ(reread.TestEntry(0), kOk);
  EXPECT_EQ(reread.DeleteEntry(0), kWriteError);  // read-only
}

TEST(EntryTableTest, BadIndexesGetNeutralAnswers) {
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(reinterpret_cast<void*>(1), 1 << 20, 0, 0), kOk);
  ASSERT_EQ(archive.AddFromMemory("one", kData.data(), kData.size(), nullptr), kOk);
  for (int index : {-2, 1, 1000}) {
    EXPECT_EQ(archive.EntryStatus(index), 0) << index;
    EXPECT_EQ(archive.SetFaulty(index, 1), -1);
    EXPECT_EQ(archive.IsFaulty(index), -1);
    EXPECT_EQ(archive.IsDeleted(index), 0);
    EXPECT_EQ(archive.IsFolder(index), 0);
    EXPECT_EQ(archive.EntrySize(index, false), 0u);
    EXPECT_EQ(archive.EntryTimeOf(index, 0), -1);
    EXPECT_EQ(archive.EntryMode(index), -1);
    EXPECT_EQ(archive.SetProcessingState(index, 1), -1);
    EXPECT_EQ(archive.EntryUserData(index), nullptr);
  }
  EXPECT_EQ(archive.EntryTimeOf(0, 3), -1);
  EXPECT_STREQ(archive.EntryName(-1), archive.FullPath());
  EXPECT_EQ(archive.EntryName(2), nullptr);
  EXPECT_EQ(archive.SetFaulty(0, 5), 0);
  EXPECT_EQ(archive.SetFaulty(0, 0), 1);
  EXPECT_EQ(archive.SetProcessingState(0, 2), 0);
  EXPECT_EQ(archive.ProcessingState(0), 2);
  EXPECT_EQ(archive.EntryMode(0), 0x800001A4);
}

}  // namespace
}  // namespace korbel
