// Archives made to hurt their reader: entries that share bytes, sizes that
// lie, directories that point into themselves, names that climb out of the
// target folder, and links planted in it. Each must end with a clear code,
// with output bounded by what the directory declares, and with nothing
// written outside the target folder.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using archive_builder::CentralHeader;
using archive_builder::Deflated;
using archive_builder::EndRecord;
using archive_builder::LocalHeader;
using archive_builder::Set16;
using archive_builder::Set32;
using archive_builder::Stored;
using archive_builder::Zip64EndRecord;
using testing_support::Bytes;
using testing_support::TempDir;
// One entry as the archive states it; the sizes and CRC are what the headers
// claim, whatever the data holds.
using Piece = archive_builder::Entry;
using Layout = archive_builder::Archive;

// Every entry needs version 2.0, or 4.5 with its sizes in a Zip64 field.
Layout Lay(std::vector<Piece> pieces) {
  for (Piece& piece : pieces) piece.versionNeeded = piece.zip64Sizes ? kVersionZip64 : kVersionDeflate;
  return archive_builder::Build(pieces);
}

const Bytes kText = testing_support::TextBytes(3000);

// Three plain entries, the base that most rows damage.
Layout Plain() {
  return Lay({Stored("one.txt", testing_support::TextBytes(100)),
              Stored("two.txt", testing_support::TextBytes(200)),
              Stored("three.txt", testing_support::TextBytes(300))});
}

// The quoted-overlap shape: each local header's data region runs over the
// local headers of every entry behind it, so that n entries of a file of
// size s would give about n * s bytes.
Layout QuotedOverlap() {
  Layout a = Plain();
  const std::size_t dataEnd = a.directoryStart;
  for (std::size_t i = 0; i < a.local.size(); ++i) {
    const std::size_t nameLength = a.bytes[a.local[i] + LocalHeader::kNameLength];
    const std::uint32_t span =
        static_cast<std::uint32_t>(dataEnd - (a.local[i] + LocalHeader::kSize + nameLength));
    for (const std::size_t at :
         {a.local[i] + LocalHeader::kCompressedSize, a.local[i] + LocalHeader::kUncompressedSize})
      Set32(&a.bytes, at, span);
    for (const std::size_t at :
         {a.central[i] + CentralHeader::kCompressedSize, a.central[i] + CentralHeader::kUncompressedSize}) {
      Set32(&a.bytes, at, span);
    }
  }
  return a;
}

struct LoadCase {
  const char* what;
  std::function<Bytes()> build;
  int code;  // of a strict Open
};

class HostileLoadTest : public ::testing::TestWithParam<LoadCase> {};

// Every row is refused (or bounded) when the directory is loaded, before any
// entry is read.
TEST_P(HostileLoadTest, LoadEndsWithItsCode) {
  TempDir dir;
  const std::string path = dir / "hostile.zip";
  const Bytes bytes = GetParam().build();
  ASSERT_TRUE(testing_support::WriteFile(path, bytes));
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kReadOnly, 9), GetParam().code);
  // Whatever the archive claims, no more entries than its bytes can hold.
  EXPECT_LE(archive.EntryCount(), static_cast<int>(bytes.size() / 46));
}

const LoadCase kLoadCases[] = {
    {"TwoEntriesShareOneLocalHeader",
     [] {
       // Both names must match the one local header for the sharing to be
       // the only fault: the second entry takes the first one's name.
       Layout b = Lay({Stored("one.txt", testing_support::TextBytes(100)),
                       Stored("one.txt", testing_support::TextBytes(100))});
       Set32(&b.bytes, b.central[1] + CentralHeader::kLocalHeaderOffset,
             static_cast<std::uint32_t>(b.local[0]));
       return b.bytes;
     },
     kBadFormat},
    {"QuotedOverlapBomb", [] { return QuotedOverlap().bytes; }, kBadFormat},
    {"CompressedSizeRunsIntoTheDirectory",
     [] {
       Layout a = Plain();
       Set32(&a.bytes, a.central[2] + CentralHeader::kCompressedSize, 5000);
       return a.bytes;
     },
     kBadFormat},
    {"Zip64CompressedSizeFarPastTheFile",
     [] {
       Piece piece = Stored("big.txt", kText);
       piece.zip64Sizes = true;
       piece.compressedSize = std::uint64_t{1} << 40;
       return Lay({piece}).bytes;
     },
     kBadFormat},
    {"Zip64CompressedSizeThatWouldWrap",
     [] {
       Piece piece = Stored("wrap.txt", kText);
       piece.zip64Sizes = true;
       piece.compressedSize = ~std::uint64_t{0} - 10;
       return Lay({piece}).bytes;
     },
     kBadFormat},
    {"DirectorySizePastTheFileStart",
     [] {
       Layout a = Plain();
       Set32(&a.bytes, a.end + EndRecord::kDirectorySize, 0x7FFFFFFF);
       return a.bytes;
     },
     kBadFormat},
    {"LocalOffsetPointsIntoTheDirectory",
     [] {
       Layout a = Plain();
       Set32(&a.bytes, a.central[1] + CentralHeader::kLocalHeaderOffset,
             static_cast<std::uint32_t>(a.central[0]));
       return a.bytes;
     },
     kBadFormat},
    {"LocalOffsetPastTheFile",
     [] {
       Layout a = Plain();
       Set32(&a.bytes, a.central[0] + CentralHeader::kLocalHeaderOffset, 0xFFFFFFF0u);
       return a.bytes;
     },
     kBadFormat},
    {"EntryCountFarAboveWhatFits",
     [] {
       Layout a = Plain();
       Set16(&a.bytes, a.end + EndRecord::kEntriesOnDisk, 0xFFFF);
       Set16(&a.bytes, a.end + EndRecord::kEntries, 0xFFFF);
       return a.bytes;
     },
     kBadFormat},
    {"DirectoryRepeatedAsItsOwnTail",
     [] {
       // The directory bytes stand twice; the end record's size covers
       // both, so the same headers are read as twice the entries, each
       // pair sharing its local header.
       Layout a = Plain();
       Bytes directory(a.bytes.begin() + static_cast<std::ptrdiff_t>(a.directoryStart),
                       a.bytes.begin() + static_cast<std::ptrdiff_t>(a.end));
       Bytes out(a.bytes.begin(), a.bytes.begin() + static_cast<std::ptrdiff_t>(a.end));
       out.insert(out.end(), directory.begin(), directory.end());
       const std::size_t end = out.size();
       out.insert(out.end(), a.bytes.begin() + static_cast<std::ptrdiff_t>(a.end), a.bytes.end());
       Set16(&out, end + EndRecord::kEntriesOnDisk, 6);
       Set16(&out, end + EndRecord::kEntries, 6);
       Set32(&out, end + EndRecord::kDirectorySize, static_cast<std::uint32_t>(2 * directory.size()));
       return out;
     },
     kBadFormat},
    {"Zip64RecordPointsBackIntoTheDirectory",
     [] {
       Layout a =
           archive_builder::Build({Stored("one.txt", "first"), Stored("two.txt", "second")}, {true, ""});
       // The Zip64 record claims the directory starts at its own second
       // header and holds one entry more than there are.
       archive_builder::Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectoryOffset, a.central[1]);
       return a.bytes;
     },
     kBadFormat},
};

INSTANTIATE_TEST_SUITE_P(Rows, HostileLoadTest, ::testing::ValuesIn(kLoadCases),
                         [](const ::testing::TestParamInfo<LoadCase>& paramInfo) {
                           return std::string(paramInfo.param.what);
                         });

// ---- Reading: the declared size bounds the output ----------------------------

std::int64_t CountOnly(void* context, const void* data, std::size_t length) {
  if (data != nullptr) *static_cast<std::uint64_t*>(context) += length;
  return static_cast<std::int64_t>(length);
}

struct ReadCase {
  const char* what;
  std::function<Piece()> build;
};

class LyingSizeTest : public ::testing::TestWithParam<ReadCase> {};

// The entry loads, but its stream and its declared size disagree: reading,
// testing and extracting all fail with 22, and never deliver a byte beyond
// the declared size.
TEST_P(LyingSizeTest, ReadingFailsWithinTheDeclaredSize) {
  TempDir dir;
  const std::string path = dir / "lying.zip";
  const Piece piece = GetParam().build();
  ASSERT_TRUE(testing_support::WriteFile(path, Lay({piece}).bytes));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  std::uint64_t delivered = 0;
  EXPECT_EQ(archive.ReadEntry(0, &delivered, CountOnly, nullptr), kDecompressError);
  EXPECT_LE(delivered, piece.uncompressedSize);
  EXPECT_EQ(archive.TestEntry(0), kDecompressError);
  const std::string target = dir / "out";
  int errors = 0;
  EXPECT_EQ(archive.ExtractAll(target.c_str(), &errors), kDecompressError);
  EXPECT_EQ(errors, 1);
  const std::string written = target + "/" + piece.name;
  if (testing_support::FileExists(written)) {
    EXPECT_LE(testing_support::ReadFile(written).size(), piece.uncompressedSize);
  }
}

const ReadCase kReadCases[] = {
    {"DeflateBombDeclaresTooLittle",
     [] {
       // 8 MiB of zeros in a few KiB, declared as 1000 bytes, CRC of the whole.
       Piece piece = Deflated("bomb.bin", Bytes(8u << 20, 0));
       piece.uncompressedSize = 1000;
       return piece;
     }},
    {"DeflateDeclaresTooMuch",
     [] {
       Piece piece = Deflated("short.txt", kText);
       piece.uncompressedSize = kText.size() * 2;
       return piece;
     }},
    {"StoredDeclaresLessThanItHolds",
     [] {
       Piece piece = Stored("stored.txt", kText);
       piece.uncompressedSize = 10;
       return piece;
     }},
    {"Zip64UncompressedSizeFarTooLarge",
     [] {
       Piece piece = Deflated("huge.txt", kText);
       piece.zip64Sizes = true;
       piece.uncompressedSize = std::uint64_t{1} << 40;
       return piece;
     }},
};

INSTANTIATE_TEST_SUITE_P(Rows, LyingSizeTest, ::testing::ValuesIn(kReadCases),
                         [](const ::testing::TestParamInfo<ReadCase>& paramInfo) {
                           return std::string(paramInfo.param.what);
                         });

// A tolerant load keeps the overlapping entries; extracting them still
// yields no more than the sizes the directory declares.
TEST(HostileArchiveTest, TolerantLoadOfAnOverlapBombStaysWithinTheDeclaredSizes) {
  TempDir dir;
  const std::string path = dir / "bomb.zip";
  const Layout a = QuotedOverlap();
  ASSERT_TRUE(testing_support::WriteFile(path, a.bytes));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly | kTolerant, 9), kOk);
  ASSERT_EQ(archive.EntryCount(), 3);
  EXPECT_FALSE(archive.IsFaulty(0) && archive.IsFaulty(1) && archive.IsFaulty(2));
  std::uint64_t declared = 0;
  std::uint64_t delivered = 0;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    declared += archive.EntrySize(i, false);
    std::uint64_t one = 0;
    archive.ReadEntry(i, &one, CountOnly, nullptr);
    EXPECT_LE(one, archive.EntrySize(i, false)) << archive.EntryName(i);
    delivered += one;
  }
  EXPECT_LE(delivered, declared);
  EXPECT_LE(declared, 3 * a.bytes.size());
}

// ---- Shared bytes in any directory order ----------------------------------------

// The archive with its central headers in reverse order: the table then runs
// against the order of the local headers.
Bytes ReversedDirectory(const Layout& a) {
  const auto at = [&a](std::size_t offset) { return a.bytes.begin() + static_cast<std::ptrdiff_t>(offset); };
  Bytes out(a.bytes.begin(), at(a.directoryStart));
  for (std::size_t i = a.central.size(); i-- > 0;) {
    out.insert(out.end(), at(a.central[i]), at(i + 1 < a.central.size() ? a.central[i + 1] : a.end));
  }
  out.insert(out.end(), at(a.end), a.bytes.end());
  return out;
}

struct OrderCase {
  const char* what;
  bool reversed;  // the directory lists the entries against their data's order
  bool overlap;   // two.txt's data claims the start of three.txt's local header
  int code;       // of a strict Open
};

class OverlapOrderTest : public ::testing::TestWithParam<OrderCase> {};

// Whatever order the directory lists them in, the entries are compared in
// the order of their data: a strict load refuses an overlap, and a tolerant
// one marks the entry whose local header lies inside the other's bytes.
TEST_P(OverlapOrderTest, TheEntryInsideAnotherIsTheFaultyOne) {
  const OrderCase& row = GetParam();
  Layout a = Plain();
  if (row.overlap) {
    Set32(&a.bytes, a.local[1] + LocalHeader::kCompressedSize, 250);
    Set32(&a.bytes, a.central[1] + CentralHeader::kCompressedSize, 250);
  }
  TempDir dir;
  const std::string path = dir / "order.zip";
  ASSERT_TRUE(testing_support::WriteFile(path, row.reversed ? ReversedDirectory(a) : a.bytes));
  Korbel archive;
  EXPECT_EQ(archive.Open(path.c_str(), kReadOnly, 9), row.code);
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly | kTolerant, 9), kOk);
  ASSERT_EQ(archive.EntryCount(), 3);
  EXPECT_STREQ(archive.EntryName(0), row.reversed ? "three.txt" : "one.txt");
  for (const char* name : {"one.txt", "two.txt", "three.txt"}) {
    const bool inside = row.overlap && std::string(name) == "three.txt";
    EXPECT_EQ(archive.IsFaulty(archive.FindEntry(name)) != 0, inside) << name;
  }
}

const OrderCase kOrderCases[] = {
    {"InOrder", false, false, kOk},
    {"InOrderOverlapping", false, true, kBadFormat},
    {"Reversed", true, false, kOk},
    {"ReversedOverlapping", true, true, kBadFormat},
};

INSTANTIATE_TEST_SUITE_P(Rows, OverlapOrderTest, ::testing::ValuesIn(kOrderCases),
                         [](const ::testing::TestParamInfo<OrderCase>& paramInfo) {
                           return std::string(paramInfo.param.what);
                         });

// ---- Names --------------------------------------------------------------------

struct NameCase {
  const char* what;
  std::string name;
  int code;             // of ExtractAll
  const char* landsAt;  // relative to the target when the entry is written; null: nothing written
};

class HostileNameTest : public ::testing::TestWithParam<NameCase> {};

// The target folder lies inside a box; after the extraction the box holds
// the target folder and nothing else, and the target holds at most the one
// file the row expects.
TEST_P(HostileNameTest, NothingLandsOutsideTheTarget) {
  const NameCase& row = GetParam();
  TempDir box;
  const std::string target = box / "deep/target";
  ASSERT_TRUE(std::filesystem::create_directories(target));
  const std::string path = box / "names.zip";
  ASSERT_TRUE(testing_support::WriteFile(path, Lay({Stored(row.name, kText)}).bytes));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(archive.EntryCount(), 1);
  int errors = 0;
  EXPECT_EQ(archive.ExtractAll(target.c_str(), &errors), row.code);
  EXPECT_EQ(errors, row.code == kOk ? 0 : 1);
  archive.Close();

  std::vector<std::string> written;
  for (const auto& item : std::filesystem::recursive_directory_iterator(box.Path())) {
    if (item.is_regular_file())
      written.push_back(std::filesystem::relative(item.path(), box.Path()).generic_string());
  }
  std::vector<std::string> expected = {"names.zip"};
  if (row.landsAt != nullptr) expected.push_back(std::string("deep/target/") + row.landsAt);
  std::sort(written.begin(), written.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(written, expected);
}

const NameCase kNameCases[] = {
    {"DotDot", "../evil.txt", kBadPath, nullptr},
    {"DotDotDeeper", "a/../../evil.txt", kBadPath, nullptr},
    {"DotDotBackslashes", "a\\..\\..\\evil.txt", kBadPath, nullptr},
    {"DotDotAtTheEnd", "a/..", kBadPath, nullptr},
    // A leading root or drive is dropped, as when the archive was made: the
    // entry lands inside the target.
    {"AbsoluteSlash", "/abs.txt", kOk, "abs.txt"},
    {"AbsoluteBackslash", "\\abs.txt", kOk, "abs.txt"},
    {"DriveBackslash", "C:\\abs.txt", kOk, "abs.txt"},
    {"DriveSlash", "C:/abs.txt", kOk, "abs.txt"},
    {"ServerShare", "//server/share/x.txt", kBadPath, nullptr},
    {"DriveAndServer", "C:\\\\server\\x.txt", kBadPath, nullptr},
    {"NulInside", std::string("ok.txt\0/../../evil.txt", 22), kBadPath, nullptr},
    {"NulFirst", std::string("\0evil.txt", 9), kBadPath, nullptr},
    {"LongestName", std::string(65535, 'n'), kBadPath, nullptr},
    {"LongestNameOfComponents",
     [] {
       std::string name;
       while (name.size() + 2 <= 65535) name += "d/";
       return name + "x";
     }(),
     kBadPath, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Rows, HostileNameTest, ::testing::ValuesIn(kNameCases),
                         [](const ::testing::TestParamInfo<NameCase>& paramInfo) {
                           return std::string(paramInfo.param.what);
                         });

// ---- Links in the target folder (POSIX) ---------------------------------------

// Opens the archive at `path` and extracts all of it into `target`, the
// archive closed again on return: ExtractAll's code (or the opening's, when
// that fails), the refused entries in `errors`.
int ExtractAllOf(const std::string& path, const std::string& target, int* errors) {
  Korbel archive;
  const int opened = archive.Open(path.c_str(), kReadOnly, 9);
  if (opened != kOk) return opened;
  return archive.ExtractAll(target.c_str(), errors);
}

// A link planted inside the target, pointing outside it: an entry whose path
// runs through the link, or names the link itself, is refused with 20, and
// the folder the link points to stays as it was.
TEST(HostileArchiveTest, EntriesThroughALinkInTheTargetAreRefused) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "links need a POSIX file system here";
  TempDir box;
  const std::string target = box / "target";
  const std::string outside = box / "outside";
  ASSERT_TRUE(std::filesystem::create_directories(target));
  ASSERT_TRUE(std::filesystem::create_directories(outside));
  ASSERT_TRUE(testing_support::WriteFile(outside + "/victim.txt", std::string("keep me")));
  std::filesystem::create_directory_symlink(outside, target + "/link");
  std::filesystem::create_symlink(outside + "/victim.txt", target + "/file.txt");
  const std::string path = box / "links.zip";
  ASSERT_TRUE(testing_support::WriteFile(
      path, Lay({Stored("link/evil.txt", kText), Stored("link/sub/evil.txt", kText),
                 Stored("file.txt", kText), Stored("plain/ok.txt", kText)})
                .bytes));
  int errors = 0;
  EXPECT_EQ(ExtractAllOf(path, target, &errors), kBadPath);
  EXPECT_EQ(errors, 3);
  std::vector<std::string> outsideFiles;
  for (const auto& item : std::filesystem::recursive_directory_iterator(outside)) {
    outsideFiles.push_back(item.path().filename().string());
  }
  EXPECT_EQ(outsideFiles, std::vector<std::string>{"victim.txt"});
  EXPECT_EQ(testing_support::ReadFile(outside + "/victim.txt"), Bytes({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
  // The entry that needs no link is written.
  EXPECT_EQ(testing_support::ReadFile(target + "/plain/ok.txt"), kText);
}

// Files of one folder reuse the folder checked for the one before; a folder
// replaced by a link between two entries must be noticed all the same, and
// one removed must be made again rather than written into while unlinked.
TEST(HostileArchiveTest, AFolderChangedBetweenTwoEntriesIsCheckedAgain) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "links need a POSIX file system here";
  struct Change {
    const char* what;
    bool link;         // d becomes a link to outside/, else it is removed
    int secondResult;  // what extracting d/b.txt then gives
  };
  const Change changes[] = {{"swapped for a link", true, kBadPath}, {"removed", false, kOk}};
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    TempDir box;
    const std::string target = box / "target";
    const std::string outside = box / "outside";
    ASSERT_TRUE(std::filesystem::create_directories(target));
    ASSERT_TRUE(std::filesystem::create_directories(outside));
    const std::string path = box / "two.zip";
    ASSERT_TRUE(
        testing_support::WriteFile(path, Lay({Stored("d/a.txt", kText), Stored("d/b.txt", kText)}).bytes));
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive.ExtractEntry(0, (target + "/").c_str()), kOk);
    std::filesystem::rename(target + "/d", box / "d-old");
    if (change.link) std::filesystem::create_directory_symlink(outside, target + "/d");
    EXPECT_EQ(archive.ExtractEntry(1, (target + "/").c_str()), change.secondResult);
    archive.Close();
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    EXPECT_FALSE(testing_support::FileExists(box / "d-old/b.txt"));
    EXPECT_EQ(testing_support::FileExists(target + "/d/b.txt"), !change.link);
  }
}

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    names.push_back(item.path().lexically_relative(folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A dangling link in the place of an entry's file: the create must neither
// loop nor make the file the link names.
TEST(HostileArchiveTest, ADanglingLinkAtAnEntrysNameIsRefusedAtOnce) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "links need a POSIX file system here";
  TempDir box;
  const std::string target = box / "target";
  ASSERT_TRUE(std::filesystem::create_directories(target));
  std::filesystem::create_symlink(box / "nowhere/planted.txt", target + "/a.txt");
  std::filesystem::create_symlink(box / "planted.txt", target + "/b.txt");
  const std::string path = box / "dangling.zip";
  ASSERT_TRUE(testing_support::WriteFile(path, Lay({Stored("a.txt", kText), Stored("b.txt", kText)}).bytes));
  int errors = 0;
  EXPECT_EQ(ExtractAllOf(path, target, &errors), kBadPath);
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(FilesBelow(box.Path()),
            (std::vector<std::string>{"dangling.zip", "target", "target/a.txt", "target/b.txt"}));
  EXPECT_TRUE(std::filesystem::is_symlink(target + "/a.txt"));
}

// A folder on the way swapped for a link to outside while extraction runs:
// the check and the create must not be two steps a swap can fall between.
TEST(HostileArchiveTest, AFolderSwappedForALinkDuringExtractionLandsNothingOutside) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "links need a POSIX file system here";
  TempDir box;
  const std::string target = box / "target";
  const std::string outside = box / "outside";
  ASSERT_TRUE(std::filesystem::create_directories(target + "/sub/deep"));
  ASSERT_TRUE(std::filesystem::create_directories(outside + "/deep"));
  const std::string path = box / "race.zip";
  ASSERT_TRUE(testing_support::WriteFile(
      path, Lay({Stored("sub/evil.txt", kText), Stored("sub/deep/evil.txt", kText)}).bytes));
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);

  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    std::error_code ignored;
    const std::string sub = target + "/sub";
    const std::string parked = target + "/parked";
    while (!stop.load()) {
      std::filesystem::rename(sub, parked, ignored);
      std::filesystem::create_directory_symlink(outside, sub, ignored);
      std::this_thread::yield();
      std::filesystem::remove(sub, ignored);
      std::filesystem::rename(parked, sub, ignored);
      // Some room for extractions that find the real folder.
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  // Bounded by tries and by time, so that a slow machine still ends soon.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int tries = 0;
  int written = 0;
  for (; tries < 20000 && std::chrono::steady_clock::now() < until; ++tries) {
    if (archive.ExtractEntry(tries % 2, (target + "/").c_str()) == kOk) ++written;
  }
  stop = true;
  swapper.join();
  archive.Close();
  std::printf("%d tries, %d entries written\n", tries, written);
  EXPECT_EQ(FilesBelow(outside), std::vector<std::string>{"deep"});
  EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace korbel
