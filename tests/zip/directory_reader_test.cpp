// Loading the directory of damaged and hostile archives: every structural
// fault gives its code, a tolerant load keeps what can be kept, and no input
// makes the loader read outside the source.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using archive_builder::Archive;
using archive_builder::CentralHeader;
using archive_builder::EndRecord;
using archive_builder::LocalHeader;
using archive_builder::Set16;
using archive_builder::Set32;
using archive_builder::Set64;
using archive_builder::Stored;
using archive_builder::Zip64EndRecord;
using archive_builder::Zip64Locator;
using testing_support::Bytes;
using testing_support::TempDir;

Archive BuildArchive(const std::vector<archive_builder::Entry>& items, bool zip64 = false,
                     const std::string& comment = "") {
  return archive_builder::Build(items, {zip64, comment});
}

std::vector<archive_builder::Entry> ThreeItems(bool descriptor = false) {
  return {Stored("a.txt", "alpha"), Stored("b.txt", "bravo!", descriptor), Stored("c.txt", "charlie")};
}

int Load(const TempDir& dir, const Bytes& bytes, std::uint32_t options = 0, Korbel* keep = nullptr) {
  // A file of its own each time: a kept archive holds its file open.
  static int loads = 0;
  const std::string path = dir / ("case" + std::to_string(++loads) + ".zip");
  EXPECT_TRUE(testing_support::WriteFile(path, bytes));
  Korbel local;
  Korbel& archive = keep ? *keep : local;
  const int result = archive.Open(path.c_str(), kReadOnly | options, 9);
  if (result != kOk) {
    EXPECT_EQ(archive.Mode(), kClosed);
    EXPECT_EQ(archive.EntryCount(), 0);
    EXPECT_EQ(archive.LastError(), result);
  }
  return result;
}

TEST(DirectoryReaderTest, WellFormedArchivesLoad) {
  TempDir dir;
  for (bool zip64 : {false, true}) {
    for (bool descriptor : {false, true}) {
      Korbel archive;
      ASSERT_EQ(Load(dir, BuildArchive(ThreeItems(descriptor), zip64, "note").bytes, 0, &archive), kOk)
          << zip64 << descriptor;
      ASSERT_EQ(archive.EntryCount(), 3);
      EXPECT_STREQ(archive.EntryName(1), "b.txt");
      EXPECT_EQ(archive.EntrySize(2, false), 7u);
      EXPECT_STREQ(archive.ArchiveComment(), "note");
      for (int i = 0; i < 3; ++i) EXPECT_EQ(archive.IsFaulty(i), 0);
    }
  }
}

// Writers such as Info-ZIP add the Zip64 records when the counts overflow
// but keep the real offset and a size that ends before those records.
TEST(DirectoryReaderTest, Zip64RecordsBehindAnOffsetThatFits) {
  TempDir dir;
  Archive built = BuildArchive(ThreeItems(false), true);
  const std::size_t sizeField = built.end + EndRecord::kDirectorySize;
  const std::uint32_t size = static_cast<std::uint32_t>(built.zip64Record - built.directoryStart);
  for (int i = 0; i < 4; ++i) built.bytes[sizeField + i] = static_cast<unsigned char>(size >> (8 * i));
  for (int i = 0; i < 4; ++i)
    built.bytes[built.end + EndRecord::kDirectoryOffset + i] =
        static_cast<unsigned char>(built.directoryStart >> (8 * i));
  Korbel archive;
  ASSERT_EQ(Load(dir, built.bytes, 0, &archive), kOk);
  ASSERT_EQ(archive.EntryCount(), 3);
  EXPECT_EQ(archive.TestEntry(2), kOk);
}

// Five entries as the engine writes them, stored and deflated.
Archive WrittenByTheEngine(const TempDir& dir) {
  const std::string path = dir / "written.zip";
  Korbel writer;
  EXPECT_EQ(writer.Open(path.c_str(), kCreate, 9), kOk);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"src/a.c", testing_support::TextBytes(5000)},
      {"src/sub/b.h", Bytes{'#', 'd', 'e', 'f', 'i', 'n', 'e', ' ', 'B', ' ', '1', '\n'}},
      {"random.bin", testing_support::RandomBytes(40000, 3)},
      {"empty.txt", Bytes()},
      {"packed.zip", testing_support::TextBytes(3000)}};
  for (const auto& file : files) {
    // An empty vector may have no data pointer at all.
    const void* data = file.second.empty() ? static_cast<const void*>("") : file.second.data();
    EXPECT_EQ(writer.AddFromMemory(file.first.c_str(), data, file.second.size(), nullptr), kOk);
  }
  EXPECT_EQ(writer.Close(), kOk);
  return archive_builder::Survey(testing_support::ReadFile(path));
}

// One row per fault of the loader's failure table.
TEST(DirectoryReaderTest, EachStructuralFaultGivesItsCode) {
  using Damage = std::function<void(Archive&)>;
  // The archive a row damages: built here, or written by the engine.
  enum Source { kBuilt, kWritten };
  struct Case {
    const char* what;
    bool zip64;
    bool descriptor;
    Damage damage;
    int code;
    Source source = kBuilt;
  };
  const Case cases[] = {
      {"empty source", false, false, [](Archive& a) { a.bytes.clear(); }, kBadFormat},
      {"no end record signature", false, false, [](Archive& a) { a.bytes[a.end + 3] = 0x07; }, kBadFormat},
      {"offset field asks for Zip64 but no locator", false, false,
       [](Archive& a) { Set32(&a.bytes, a.end + EndRecord::kDirectoryOffset, 0xFFFFFFFF); }, kBadFormat},
      {"locator points at no Zip64 end record", true, false, [](Archive& a) { a.bytes[a.zip64Record] = 'X'; },
       kBadFormat},
      {"locator points past the source", true, false,
       [](Archive& a) { Set64(&a.bytes, a.locator + Zip64Locator::kRecordOffset, 0x7FFFFFFFFFFFull); },
       kBadFormat},
      {"directory start negative", false, false,
       [](Archive& a) {
         Set32(&a.bytes, a.end + EndRecord::kDirectorySize, static_cast<std::uint32_t>(a.end + 1));
       },
       kBadFormat},
      {"Zip64 directory start past the source", true, false,
       [](Archive& a) {
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectoryOffset, a.bytes.size() + 1);
       },
       kBadFormat},
      {"Zip64 directory start far outside", true, false,
       [](Archive& a) {
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectoryOffset, 0xFFFFFFFFFFFFFF00ull);
       },
       kBadFormat},
      {"empty name", false, false,
       [](Archive& a) { Set16(&a.bytes, a.central[1] + CentralHeader::kNameLength, 0); }, kBadFormat},
      {"name past the end record", false, false,
       [](Archive& a) { Set16(&a.bytes, a.central[2] + CentralHeader::kNameLength, 200); }, kBadFormat},
      {"extra field past the end record", false, false,
       [](Archive& a) { Set16(&a.bytes, a.central[2] + CentralHeader::kExtraLength, 40); }, kBadFormat},
      {"comment past the end record", false, false,
       [](Archive& a) { Set16(&a.bytes, a.central[2] + CentralHeader::kCommentLength, 23); }, kBadFormat},
      {"local header behind the directory start", false, false,
       [](Archive& a) {
         Set32(&a.bytes, a.central[1] + CentralHeader::kLocalHeaderOffset,
               static_cast<std::uint32_t>(a.directoryStart - 29));
       },
       kBadFormat},
      {"local header far out", false, false,
       [](Archive& a) { Set32(&a.bytes, a.central[1] + CentralHeader::kLocalHeaderOffset, 0xFFFFFFF0u); },
       kBadFormat},
      {"local header without signature", false, false, [](Archive& a) { a.bytes[a.local[1] + 1] = 'Q'; },
       kBadFormat},
      {"local header with another name", false, false,
       [](Archive& a) { a.bytes[a.local[1] + LocalHeader::kSize] = 'x'; }, kBadFormat},
      {"local name longer than the central one", false, false,
       [](Archive& a) { Set16(&a.bytes, a.local[1] + LocalHeader::kNameLength, 6); }, kBadFormat},
      {"local lengths run past the source", false, false,
       [](Archive& a) { Set16(&a.bytes, a.local[2] + LocalHeader::kExtraLength, 0xFFFF); }, kBadFormat},
      {"data descriptor without signature", false, true, [](Archive& a) { a.bytes[a.descriptor[1]] = 'X'; },
       kBadFormat},
      {"descriptor behind a size running past the source", false, true,
       [](Archive& a) { Set32(&a.bytes, a.central[1] + CentralHeader::kCompressedSize, 0xFFFFFFF0u); },
       kBadFormat},
      {"disk number 2", false, false, [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kDisk, 2); },
       kSpanned},
      {"start disk 1", false, false,
       [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kDirectoryDisk, 1); }, kSpanned},
      {"entry counts differ", false, false,
       [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kEntriesOnDisk, 2); }, kSpanned},
      {"locator counts 2 disks", true, false,
       [](Archive& a) { Set32(&a.bytes, a.locator + Zip64Locator::kDiskCount, 2); }, kSpanned},
      {"Zip64 start disk 1", true, false,
       [](Archive& a) {
         Set32(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectoryDisk, 1);
         Set16(&a.bytes, a.end + EndRecord::kDirectoryDisk, 0xFFFF);
       },
       kSpanned},
      {"Zip64 entry counts differ", true, false,
       [](Archive& a) {
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kEntriesOnDisk, 9);
         Set16(&a.bytes, a.end + EndRecord::kEntriesOnDisk, 0xFFFF);
       },
       kSpanned},
      {"end record cut short", false, false, [](Archive& a) { a.bytes.resize(a.end + EndRecord::kEntries); },
       kReadError},
      {"archive comment cut short", false, false,
       [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kCommentLength, 50); }, kReadError},
      {"cut inside the locator: no end record", true, false,
       [](Archive& a) { a.bytes.resize(a.locator + 12); }, kBadFormat},
      {"central header cut by the end record", false, false,
       [](Archive& a) {
         // The directory now ends 20 bytes into the last central header.
         Bytes tail(a.bytes.begin() + static_cast<std::ptrdiff_t>(a.end), a.bytes.end());
         a.bytes.resize(a.central[2] + CentralHeader::kCompressedSize);
         const std::size_t end = a.bytes.size();
         a.bytes.insert(a.bytes.end(), tail.begin(), tail.end());
         Set32(&a.bytes, end + EndRecord::kDirectorySize, static_cast<std::uint32_t>(end - a.directoryStart));
       },
       kReadError},
      {"written: two disks", false, false, [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kDisk, 2); },
       kSpanned, kWritten},
      {"written: start disk 1", false, false,
       [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kDirectoryDisk, 1); }, kSpanned, kWritten},
      {"written: entry counts differ", false, false,
       [](Archive& a) { Set16(&a.bytes, a.end + EndRecord::kEntriesOnDisk, 1); }, kSpanned, kWritten},
      {"written: directory size past the file start", false, false,
       [](Archive& a) { a.bytes[a.end + EndRecord::kDirectorySize + 3] = 0x7F; }, kBadFormat, kWritten},
      {"written: central name length zero", false, false,
       [](Archive& a) { Set16(&a.bytes, a.central[0] + CentralHeader::kNameLength, 0); }, kBadFormat,
       kWritten},
      {"written: first local signature broken", false, false, [](Archive& a) { a.bytes[a.local[0]] = 'X'; },
       kBadFormat, kWritten},
      {"random bytes without an end record", false, false,
       [](Archive& a) { a.bytes = testing_support::RandomBytes(5000, 1); }, kBadFormat},
  };
  TempDir dir;
  const Archive written = WrittenByTheEngine(dir);
  ASSERT_EQ(written.central.size(), 5u);
  for (const Case& c : cases) {
    Archive archive = c.source == kWritten ? written : BuildArchive(ThreeItems(c.descriptor), c.zip64);
    c.damage(archive);
    EXPECT_EQ(Load(dir, archive.bytes), c.code) << c.what;
  }
}

// A Zip64 compressed size near 2^64 must not wrap the descriptor's place
// around onto another entry's descriptor.
TEST(DirectoryReaderTest, DescriptorPlaceThatWouldWrapIsRefused) {
  TempDir dir;
  Archive a = BuildArchive({Stored("a.txt", "alpha", true), Stored("b.txt", "bravo!", true)});
  const std::uint64_t dataAt = a.local[1] + LocalHeader::kSize + 5;
  const std::uint64_t wrapped = 0 - (dataAt - a.descriptor[0]);  // lands on a's descriptor
  Bytes extra;
  archive_builder::Put16(&extra, 1);
  archive_builder::Put16(&extra, 8);
  archive_builder::Put64(&extra, wrapped);
  Set32(&a.bytes, a.central[1] + CentralHeader::kCompressedSize, 0xFFFFFFFF);
  Set16(&a.bytes, a.central[1] + CentralHeader::kExtraLength, static_cast<std::uint32_t>(extra.size()));
  a.bytes.insert(a.bytes.begin() + static_cast<std::ptrdiff_t>(a.central[1] + CentralHeader::kSize + 5),
                 extra.begin(), extra.end());
  const std::size_t end = a.end + extra.size();
  Set32(&a.bytes, end + EndRecord::kDirectorySize, static_cast<std::uint32_t>(end - a.directoryStart));
  EXPECT_EQ(Load(dir, a.bytes), kBadFormat);
  Korbel tolerant;
  ASSERT_EQ(Load(dir, a.bytes, kTolerant, &tolerant), kOk);
  EXPECT_EQ(tolerant.IsFaulty(0), 0);
  EXPECT_EQ(tolerant.IsFaulty(1), 1);
  EXPECT_EQ(tolerant.EntrySize(1, true), wrapped);
}

TEST(DirectoryReaderTest, LocalNameComparisonIgnoresCaseAndTrailingSlash) {
  TempDir dir;
  Archive archive = BuildArchive(ThreeItems());
  archive.bytes[archive.local[0] + LocalHeader::kSize] = 'A';
  Korbel loaded;
  ASSERT_EQ(Load(dir, archive.bytes, 0, &loaded), kOk);
  EXPECT_STREQ(loaded.EntryName(0), "a.txt");
  Archive folder = BuildArchive({Stored("docs/", ""), Stored("docs/x", "x")});
  Korbel withFolder;
  ASSERT_EQ(Load(dir, folder.bytes, 0, &withFolder), kOk);
  EXPECT_STREQ(withFolder.EntryName(0), "docs");
  EXPECT_EQ(withFolder.IsFolder(0), 1);
}

int StopOnFound(std::uintptr_t, int event, int entryIndex, ArchiveBase*, const char*) {
  return event == kEventFound && entryIndex == 1 ? 1 : 0;
}

TEST(DirectoryReaderTest, StopAnswerDuringTheLoadEndsIt) {
  TempDir dir;
  const std::string path = dir / "three.zip";
  ASSERT_TRUE(testing_support::WriteFile(path, BuildArchive(ThreeItems()).bytes));
  Korbel archive;
  archive.SetCallback(0, StopOnFound);
  EXPECT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kUserAbort);
  EXPECT_EQ(archive.Mode(), kClosed);
  EXPECT_EQ(archive.EntryCount(), 0);
  archive.DisableEvents(kEventFound, false);
  EXPECT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(archive.EntryCount(), 3);
}

struct FoundReport {
  int index;
  std::string text;
  std::uint32_t parts[3];
};

int RecordFound(std::uintptr_t userData, int event, int entryIndex, ArchiveBase* archive, const char* text) {
  if (event != kEventFound) return 0;
  const std::uint32_t* parts = archive->PartLengths();
  reinterpret_cast<std::vector<FoundReport>*>(userData)->push_back(
      {entryIndex, text ? text : "<raw>", {parts[0], parts[1], parts[2]}});
  return 0;
}

TEST(DirectoryReaderTest, FoundEventNamesEachEntryWithItsPartLengths) {
  TempDir dir;
  const std::string longName(65535, 'n');
  const std::string path = dir / "found.zip";
  ASSERT_TRUE(
      testing_support::WriteFile(path, BuildArchive({Stored("a.txt", "1"), Stored(longName, "2")}).bytes));
  std::vector<FoundReport> reports;
  Korbel archive;
  archive.SetCallback(reinterpret_cast<std::uintptr_t>(&reports), RecordFound);
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].index, 0);
  EXPECT_EQ(reports[0].text, "\nDatei: a.txt gefunden.");
  EXPECT_EQ(reports[0].parts[0], 8u);
  EXPECT_EQ(reports[0].parts[1], 5u);
  EXPECT_EQ(reports[0].parts[2], 11u);
  // A name longer than the status line is cut, and the parts say so.
  const FoundReport& cut = reports[1];
  EXPECT_EQ(cut.index, 1);
  EXPECT_LT(cut.text.size(), std::size_t{kStatusLineCapacity});
  EXPECT_EQ(cut.text.size() + 1, std::size_t{cut.parts[0]} + cut.parts[1] + cut.parts[2]);
  EXPECT_EQ(cut.text.rfind("\nDatei: nnn", 0), 0u);
  EXPECT_EQ(cut.parts[2], 11u);
}

// Tolerant loads: a damaged central header costs at most its own entry.
TEST(DirectoryReaderTest, TolerantLoadRecoversEntriesAroundADamagedCentralHeader) {
  struct Case {
    const char* what;
    std::function<void(Archive&)> damage;
    int strictCode;
    int strictCount;
    std::vector<std::string> names;  // after a tolerant load
    std::vector<int> faulty;
  };
  const Case cases[] = {
      // A strict load that finds fewer headers than the end record counts
      // refuses the archive rather than show a part of it.
      {"signature of the middle header",
       [](Archive& a) { a.bytes[a.central[1] + 2] = 'X'; },
       kBadFormat,
       0,
       {"a.txt", "c.txt"},
       {0, 0}},
      {"signature of the first header",
       [](Archive& a) { a.bytes[a.central[0]] = 0; },
       kBadFormat,
       0,
       {"b.txt", "c.txt"},
       {0, 0}},
      {"name running past the end record",
       [](Archive& a) { Set16(&a.bytes, a.central[1] + CentralHeader::kNameLength, 0xFFFF); },
       kBadFormat,
       0,
       {"a.txt", "", "c.txt"},
       {0, 1, 0}},
      {"empty name",
       [](Archive& a) { Set16(&a.bytes, a.central[1] + CentralHeader::kNameLength, 0); },
       kBadFormat,
       0,
       {"a.txt", "", "c.txt"},
       {0, 1, 0}},
      {"extra field running past the end record",
       [](Archive& a) { Set16(&a.bytes, a.central[1] + CentralHeader::kExtraLength, 0xFFF0); },
       kBadFormat,
       0,
       {"a.txt", "b.txt", "c.txt"},
       {0, 0, 0}},
      {"local header of the middle entry",
       [](Archive& a) { a.bytes[a.local[1]] = 'X'; },
       kBadFormat,
       0,
       {"a.txt", "b.txt", "c.txt"},
       {0, 1, 0}},
  };
  TempDir dir;
  for (const Case& c : cases) {
    Archive archive = BuildArchive(ThreeItems());
    c.damage(archive);
    Korbel strict;
    EXPECT_EQ(Load(dir, archive.bytes, 0, &strict), c.strictCode) << c.what;
    EXPECT_EQ(strict.EntryCount(), c.strictCount) << c.what;
    Korbel tolerant;
    ASSERT_EQ(Load(dir, archive.bytes, kTolerant, &tolerant), kOk) << c.what;
    ASSERT_EQ(tolerant.EntryCount(), static_cast<int>(c.names.size())) << c.what;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      const int index = static_cast<int>(i);
      EXPECT_EQ(tolerant.EntryName(index), c.names[i]) << c.what << " " << i;
      EXPECT_EQ(tolerant.IsFaulty(index), c.faulty[i]) << c.what << " " << i;
      EXPECT_NE(tolerant.EntryStatus(index) & kStatusWritten, 0) << c.what;
    }
  }
}

// Loads a copy of `bytes` from a caller's block of exactly its size, so that
// the sanitizers see any read outside the source.
int LoadFromMemory(const Bytes& bytes, std::uint32_t options, int* count) {
  std::vector<std::uint8_t> block(bytes);
  Korbel archive;
  const int code = archive.OpenMemory(block.data(), static_cast<std::int64_t>(block.size()), -1, options);
  *count = archive.EntryCount();
  if (code != kOk) {
    EXPECT_EQ(archive.Mode(), kClosed);
  }
  return code;
}

// The loader must stay inside the source whatever the bytes say; run under
// the sanitizers this sweep is the out-of-bounds check.
TEST(DirectoryReaderTest, EveryTruncationAndEveryByteDamageIsRefusedCleanly) {
  for (bool zip64 : {false, true}) {
    const Archive archive = BuildArchive(ThreeItems(true), zip64, "c");
    for (std::size_t length = 1; length < archive.bytes.size(); ++length) {
      const Bytes cut(archive.bytes.begin(), archive.bytes.begin() + static_cast<std::ptrdiff_t>(length));
      int count = 0;
      const int code = LoadFromMemory(cut, 0, &count);
      EXPECT_TRUE(code == kBadFormat || code == kReadError) << length << " " << code;
      EXPECT_EQ(count, 0) << length;
    }
    for (std::size_t at = 0; at < archive.bytes.size(); ++at) {
      for (const std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
        Bytes damaged = archive.bytes;
        if (damaged[at] == value) continue;
        damaged[at] = value;
        for (std::uint32_t options : {0u, static_cast<std::uint32_t>(kTolerant)}) {
          int count = 0;
          const int code = LoadFromMemory(damaged, options, &count);
          EXPECT_TRUE(code == kOk || code == kBadFormat || code == kReadError || code == kSpanned)
              << at << " " << code;
          EXPECT_LE(count, 3);
        }
      }
    }
  }
}

// Both entry counts of the plain end record.
void SetPlainCounts(Archive* a, std::uint16_t count) {
  Set16(&a->bytes, a->end + EndRecord::kEntriesOnDisk, count);
  Set16(&a->bytes, a->end + EndRecord::kEntries, count);
}

// Strict: the directory does not hold what the count says. Tolerant: the
// three entries it holds, and never more.
void ExpectCountRefusedAndTolerated(const TempDir& dir, const Bytes& bytes) {
  Korbel strict;
  EXPECT_EQ(Load(dir, bytes, 0, &strict), kBadFormat);
  Korbel loaded;
  ASSERT_EQ(Load(dir, bytes, kTolerant, &loaded), kOk);
  EXPECT_EQ(loaded.EntryCount(), 3);
}

TEST(DirectoryReaderTest, CountsClaimingMoreEntriesThanTheDirectoryHolds) {
  TempDir dir;
  Archive archive = BuildArchive(ThreeItems());
  SetPlainCounts(&archive, 0xFFFE);
  ExpectCountRefusedAndTolerated(dir, archive.bytes);
  Archive big = BuildArchive(ThreeItems(), true);
  Set64(&big.bytes, big.zip64Record + Zip64EndRecord::kEntriesOnDisk, 0xFFFFFFFFFFFFull);
  Set64(&big.bytes, big.zip64Record + Zip64EndRecord::kEntries, 0xFFFFFFFFFFFFull);
  SetPlainCounts(&big, 0xFFFF);
  ExpectCountRefusedAndTolerated(dir, big.bytes);
  // A count that did not fit in 16 bits is marked 0xFFFF; fewer headers
  // than that are refused too.
  SetPlainCounts(&archive, 0xFFFF);
  Korbel marked;
  EXPECT_EQ(Load(dir, archive.bytes, 0, &marked), kBadFormat);
}

TEST(DirectoryReaderTest, NamesOfTheLargestStoredLength) {
  TempDir dir;
  const std::string longName(65535, 'n');
  Archive archive = BuildArchive({Stored("short", "y"), Stored(longName, "x")});
  Korbel loaded;
  ASSERT_EQ(Load(dir, archive.bytes, 0, &loaded), kOk);
  int length = 0;
  EXPECT_EQ(loaded.EntryNameAndLength(1, &length), longName);
  EXPECT_EQ(length, 65535);
  EXPECT_EQ(loaded.FindEntry(longName.c_str()), 1);
  // The same name running one byte into the end record.
  Bytes cut = archive.bytes;
  cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(archive.end - 1));
  Set32(&cut, archive.end - 1 + EndRecord::kDirectorySize,
        static_cast<std::uint32_t>(archive.end - 1 - archive.directoryStart));
  EXPECT_EQ(Load(dir, cut), kBadFormat);
}

}  // namespace
}  // namespace korbel
