// Looking entries up by name while the table changes under the index: every
// answer of FindEntry is checked against a scan of the whole table, through
// adds (equal names allowed), deletions of written and queued entries,
// sorts and a reload.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fs/path_order.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::TempDir;

// Names that the lookup must tell apart or take as one: case and the two
// separators do not count, anything else does.
const char* const kNames[] = {"a.txt", "A.TXT", "dir/a.txt", "DIR\\A.txt", "dir/b.txt",
                              "b",     "B",     "dir",       "dir2/a.txt", "a.txt2"};

// The first live entry whose name the path order calls equal, or -1.
int ScanFor(const Korbel& archive, const char* name) {
  for (int i = 0; i < archive.EntryCount(); ++i) {
    if (!archive.IsDeleted(i) && fs::PathOrder(archive.EntryName(i), name) == 0) return i;
  }
  return -1;
}

void ExpectLookupsMatchScan(const Korbel& archive, const std::string& step) {
  for (const char* name : kNames) {
    EXPECT_EQ(archive.FindEntry(name), ScanFor(archive, name)) << name << " after " << step;
  }
}

// Random changes, a lookup of every name after each.
void Churn(Korbel& archive, std::mt19937& random, int steps) {
  const std::string data(50, 'd');
  for (int step = 0; step < steps; ++step) {
    const int action = static_cast<int>(random() % 6);
    const char* name = kNames[random() % (sizeof kNames / sizeof kNames[0])];
    std::string what;
    if (action <= 1) {
      // Equal names stay side by side when the check is off.
      archive.Options(action == 0 ? (archive.Options(-2) | kSkipNameCheck)
                                  : (archive.Options(-2) & ~kSkipNameCheck));
      ASSERT_EQ(archive.AddFromMemory(name, data.data(), data.size(), nullptr), kOk);
      what = std::string("add ") + name;
    } else if (action == 2) {
      ASSERT_EQ(archive.AddFolderEntry(name), kOk);  // queued until the close
      what = std::string("folder ") + name;
    } else if (action == 3 && archive.EntryCount() > 0) {
      const int index = static_cast<int>(random() % static_cast<unsigned>(archive.EntryCount()));
      if (archive.IsDeleted(index)) continue;
      ASSERT_EQ(archive.DeleteEntry(index), kOk);
      what = "delete " + std::to_string(index);
    } else if (action == 4) {
      const int key = static_cast<int>(random() % 4);
      archive.SortEntries(key);
      what = "sort " + std::to_string(key);
    } else {
      const int found = archive.FindEntry(name);
      if (found >= 0) {
        ASSERT_EQ(archive.DeleteEntry(found), kOk);
      }
      what = std::string("delete found ") + name;
    }
    ExpectLookupsMatchScan(archive, what);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(NameIndexTest, LookupsAgreeWithAScanWhileTheTableChanges) {
  TempDir dir;
  const std::string path = dir / "churn.zip";
  std::mt19937 random(20261208);
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    Churn(archive, random, 400);
    ASSERT_EQ(archive.Close(), kOk);
  }
  // Loaded entries, equal names among them, are indexed by the reader.
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(archive.SwitchMode(kModify), kOk);
  ASSERT_GT(archive.EntryCount(), 0);
  ExpectLookupsMatchScan(archive, "reload");
  Churn(archive, random, 400);
  ASSERT_EQ(archive.Close(), kOk);
}

TEST(NameIndexTest, ManyEntriesOfOneNameFindTheFirstLiveOne) {
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(reinterpret_cast<void*>(1), 1 << 24, 0, kSkipNameCheck), kOk);
  const std::string data(10, 'x');
  for (int i = 0; i < 2000; ++i)
    ASSERT_EQ(archive.AddFromMemory("same.txt", data.data(), data.size(), nullptr), kOk);
  ASSERT_EQ(archive.AddFromMemory("other.txt", data.data(), data.size(), nullptr), kOk);
  EXPECT_EQ(archive.FindEntry("SAME.TXT"), 0);
  // Deleted entries gather behind the live ones; the first live one is found.
  for (int i = 0; i < 1999; ++i) ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("same.txt")), kOk);
  const int last = archive.FindEntry("same.txt");
  ASSERT_GE(last, 0);
  EXPECT_EQ(ScanFor(archive, "same.txt"), last);
  EXPECT_EQ(archive.FindEntry("other.txt"), ScanFor(archive, "other.txt"));
  ASSERT_EQ(archive.DeleteEntry(last), kOk);
  EXPECT_EQ(archive.FindEntry("same.txt"), -1);
  EXPECT_EQ(archive.Table().Live(), 1);
}

}  // namespace
}  // namespace korbel
