// The entry table: on its own (adding, finding, deleting, removing and
// sorting, with every lookup checked against a scan of the table), and
// through Korbel (sorting when the option word changes its sort bits,
// deleting queued and written entries, the answers for bad indexes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/path_order.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"
#include "zip/table/entry_table.h"

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
  EXPECT_EQ(archive.Table().Live(), 2);
  EXPECT_EQ(archive.FindEntry("queued.txt"), -1);
  // A written entry stays in the table, marked, until its space is reclaimed.
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("first")), kOk);
  EXPECT_EQ(archive.EntryCount(), 2);
  EXPECT_EQ(archive.Table().Live(), 1);
  EXPECT_EQ(archive.FindEntry("first"), -1);
  EXPECT_EQ(archive.DeleteEntry(5), kBadIndexOrMode);
  ASSERT_EQ(archive.Close(), kOk);

  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(Names(reread), (std::vector<std::string>{"kept.txt"}));
  EXPECT_EQ(reread.Table().At(0)->localHeaderOffset, 0u);
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
    EXPECT_EQ(archive.EntryTimeOf(index, 0), platform::kNoTime);
    EXPECT_EQ(archive.EntryMode(index), -1);
    EXPECT_EQ(archive.SetProcessingState(index, 1), -1);
    EXPECT_EQ(archive.EntryUserData(index), nullptr);
  }
  EXPECT_EQ(archive.EntryTimeOf(0, 3), platform::kNoTime);
  EXPECT_STREQ(archive.EntryName(-1), archive.FullPath());
  EXPECT_EQ(archive.EntryName(2), nullptr);
  EXPECT_EQ(archive.SetFaulty(0, 5), 0);
  EXPECT_EQ(archive.SetFaulty(0, 0), 1);
  EXPECT_EQ(archive.SetProcessingState(0, 2), 0);
  EXPECT_EQ(archive.ProcessingState(0), 2);
  EXPECT_EQ(archive.EntryMode(0), 0x800001A4);
}

// ---- EntryTable on its own. ------------------------------------------------

struct TableEntry {
  const char* name;
  std::uint64_t size;
  std::uint64_t offset;
};

// b10, a2, B1, a10 (and a second a2) in this order; the sizes and offsets
// order them otherwise.
const TableEntry kTableEntries[] = {
    {"b10", 300, 400}, {"a2", 100, 0}, {"B1", 500, 100}, {"a10", 200, 300}, {"A2", 400, 200},
};

void Fill(EntryTable& table) {
  for (const TableEntry& e : kTableEntries) {
    const int index = table.New();
    ZipEntry& entry = *table.At(index);
    entry.name = std::string(e.name);
    entry.uncompressedSize = e.size;
    entry.localHeaderOffset = e.offset;
    table.IndexName(index);
  }
  // The first a2 is added but not yet written.
  table.At(1)->queued = 1;
}

std::vector<std::string> TableNames(const EntryTable& table) {
  std::vector<std::string> names;
  for (int i = 0; i < table.Count(); ++i) names.push_back(table.At(i)->name.c_str());
  return names;
}

int ScanFor(const EntryTable& table, const char* name) {
  for (int i = 0; i < table.Count(); ++i) {
    if (!table.At(i)->deleted && fs::PathOrder(table.At(i)->name.c_str(), name) == 0) return i;
  }
  return -1;
}

// Every name of the sample, and a few that are in no table, looked up.
void ExpectFindMatchesScan(const EntryTable& table, const std::string& step) {
  int live = 0;
  for (int i = 0; i < table.Count(); ++i) live += table.At(i)->deleted ? 0 : 1;
  EXPECT_EQ(table.Live(), live) << step;
  for (const char* name : {"b10", "a2", "A2", "B1", "b1", "a10", "a", "a100", ""}) {
    EXPECT_EQ(table.Find(name), ScanFor(table, name)) << name << " after " << step;
  }
}

TEST(EntryTableTest, NewEntriesAreFoundByNameAndCounted) {
  EntryTable table;
  EXPECT_EQ(table.At(0), nullptr);
  EXPECT_EQ(table.Find("a2"), -1);
  Fill(table);
  EXPECT_EQ(table.Count(), 5);
  EXPECT_EQ(table.Live(), 5);
  EXPECT_GE(table.Capacity(), 5);
  EXPECT_EQ(table.At(-1), nullptr);
  EXPECT_EQ(table.At(5), nullptr);
  // Case does not count: the first of the two a2 answers.
  EXPECT_EQ(table.Find("A2"), 1);
  EXPECT_EQ(table.Find("b1"), 2);
  ExpectFindMatchesScan(table, "filling");
  // Added once the index is built, an entry is found at once.
  const int index = table.New();
  table.At(index)->name = std::string("dir/late");
  table.IndexName(index);
  EXPECT_EQ(table.Find("DIR\\LATE"), index);
  EXPECT_EQ(table.LastLiveIndex(), index);
  table.Clear();
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.Live(), 0);
  EXPECT_EQ(table.Find("a2"), -1);
  EXPECT_EQ(table.SortedBy(), EntryTable::kNotSorted);
}

TEST(EntryTableTest, DeletionsKeepLookupsAndTheLiveCountRight) {
  struct Step {
    const char* what;
    void (*change)(EntryTable&);
    std::vector<std::string> names;
    int live;
  };
  const Step steps[] = {
      {"marking a2 deleted",
       [](EntryTable& t) { t.MarkDeleted(t.At(1)); },
       {"b10", "a2", "B1", "a10", "A2"},
       4},
      {"marking it again",
       [](EntryTable& t) { t.MarkDeleted(t.At(1)); },
       {"b10", "a2", "B1", "a10", "A2"},
       4},
      {"moving it behind the live ones",
       [](EntryTable& t) { t.MoveBehindLive(1); },
       {"b10", "A2", "B1", "a10", "a2"},
       4},
      {"unmarking it", [](EntryTable& t) { t.UnmarkDeleted(4); }, {"b10", "A2", "B1", "a10", "a2"}, 5},
      {"erasing b10", [](EntryTable& t) { t.Erase(0); }, {"A2", "B1", "a10", "a2"}, 4},
      {"marking A2 and removing the deleted and a10",
       [](EntryTable& t) {
         t.MarkDeleted(t.At(0));
         t.Remove([](const ZipEntry& e) { return e.deleted != 0 || e.name == std::string("a10"); });
       },
       {"B1", "a2"},
       2},
      {"erasing past the end", [](EntryTable& t) { t.Erase(7); }, {"B1", "a2"}, 2},
  };
  EntryTable table;
  Fill(table);
  ExpectFindMatchesScan(table, "filling");  // builds the index
  for (const Step& step : steps) {
    step.change(table);
    EXPECT_EQ(TableNames(table), step.names) << step.what;
    EXPECT_EQ(table.Live(), step.live) << step.what;
    ExpectFindMatchesScan(table, step.what);
  }
  // With the last live entry in front of it, nothing moves.
  table.MarkDeleted(table.At(1));
  table.MoveBehindLive(1);
  EXPECT_EQ(TableNames(table), (std::vector<std::string>{"B1", "a2"}));
  EXPECT_EQ(table.LastLiveIndex(), 0);
  table.MarkDeleted(table.At(0));
  EXPECT_EQ(table.LastLiveIndex(), -1);
  ExpectFindMatchesScan(table, "deleting all");
}

TEST(EntryTableTest, SortOrdersByEachKeyAndLookupsFollow) {
  struct Case {
    int key;
    std::vector<std::string> order;
  };
  // a2 is deleted: it goes last except by offset, where the queued entry does.
  const Case cases[] = {
      {kSortByName, {"a10", "A2", "B1", "b10", "a2"}},
      {kSortBySize, {"a10", "b10", "A2", "B1", "a2"}},
      {kSortByOffset, {"B1", "A2", "a10", "b10", "a2"}},
      {kSortByNameNumeric, {"A2", "a10", "B1", "b10", "a2"}},
  };
  for (const Case& c : cases) {
    EntryTable table;
    Fill(table);
    table.MarkDeleted(table.At(1));
    ExpectFindMatchesScan(table, "filling");
    table.Sort(c.key);
    EXPECT_EQ(TableNames(table), c.order) << std::hex << c.key;
    EXPECT_EQ(table.SortedBy(), c.key);
    ExpectFindMatchesScan(table, "sorting");
  }
}

TEST(EntryTableTest, SortTrustsItsOrderButSortByOffsetDoesNot) {
  EntryTable table;
  Fill(table);
  table.Sort(kSortBySize);
  const std::vector<std::string> bySize{"a2", "a10", "b10", "A2", "B1"};
  ASSERT_EQ(TableNames(table), bySize);
  // A size changed under the table: sorting by the same key keeps the
  // order until the order is forgotten.
  table.At(0)->uncompressedSize = 1000;
  table.Sort(kSortBySize);
  EXPECT_EQ(TableNames(table), bySize);
  table.ForgetOrder();
  EXPECT_EQ(table.SortedBy(), EntryTable::kNotSorted);
  table.Sort(kSortBySize);
  EXPECT_EQ(TableNames(table), (std::vector<std::string>{"a10", "b10", "A2", "B1", "a2"}));

  // Offsets change when entries are written or moved: SortByOffset sorts
  // whatever order the table believes it has.
  table.SortByOffset();
  EXPECT_EQ(TableNames(table), (std::vector<std::string>{"B1", "A2", "a10", "b10", "a2"}));
  EXPECT_EQ(table.SortedBy(), kSortByOffset);
  table.At(0)->localHeaderOffset = 900;
  table.Sort(kSortByOffset);
  EXPECT_EQ(TableNames(table), (std::vector<std::string>{"B1", "A2", "a10", "b10", "a2"}));
  table.SortByOffset();
  EXPECT_EQ(TableNames(table), (std::vector<std::string>{"A2", "a10", "b10", "B1", "a2"}));
  ExpectFindMatchesScan(table, "sorting by offset");
}

}  // namespace
}  // namespace korbel
