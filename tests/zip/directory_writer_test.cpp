// Writing the directory of archives whose names came from other tools: names
// that no longer fit a header are refused before the file changes, and names
// outside ASCII reach independent readers as the right characters.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tests/support/independent_readers.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "tests/zip/archive_change.h"
#include "zip/format/extra_fields.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using archive_builder::Archive;
using archive_builder::Build;
using archive_builder::Entry;
using archive_builder::Stored;
using testing_support::Bytes;
using testing_support::TempDir;

// "Übung.c" as the running system holds it in memory.
std::string UbungInMemory() { return platform::NarrowIsUtf8() ? "\xC3\234bung.c" : "\334bung.c"; }

// Rewrites the directory of a loaded archive by one of the changes that mark
// it changed.
struct Change {
  const char* what;
  void (*apply)(Korbel& archive);
};

TEST(DirectoryWriterTest, LoadedNameIsWrittenBackAsStoredEvenWhereEncodingItAgainWouldNotFit) {
  // 0xC6 is 'ã' in code page 850; encoded again it would become UTF-8 (two
  // bytes each), too long for a header: the stored bytes go back unchanged.
  const Change changes[] = {
      {"comment", [](Korbel& a) { a.SetArchiveComment("changed"); }},
      {"deleted entry", [](Korbel& a) { ASSERT_EQ(a.DeleteEntry(a.FindEntry("small")), kOk); }},
  };
  const std::string longName(65535, '\xC6');
  for (const Change& change : changes) {
    TempDir dir;
    const std::string path = dir / "long.zip";
    const Bytes original = Build({Stored("small", "s"), Stored(longName, "x")}).bytes;
    ASSERT_TRUE(testing_support::WriteFile(path, original));
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive.EntryCount(), 2);
    EXPECT_EQ(archive.Table().At(1)->nameLength, 65535);
    ASSERT_EQ(archive.SwitchMode(kModify), kOk);
    change.apply(archive);
    EXPECT_EQ(archive.Close(), kOk) << change.what;
    const Bytes written = testing_support::ReadFile(path);
    // The stored name appears twice, in the local and in the central header.
    const std::string text(written.begin(), written.end());
    const std::size_t first = text.find(longName);
    ASSERT_NE(first, std::string::npos) << change.what;
    EXPECT_NE(text.find(longName, first + 1), std::string::npos) << change.what;
    Korbel reread;
    ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk) << change.what;
    const int index = reread.EntryCount() - 1;
    EXPECT_EQ(reread.Table().At(index)->nameLength, 65535) << change.what;
  }
}

TEST(DirectoryWriterTest, LongestAsciiNameIsWrittenBackUnchanged) {
  TempDir dir;
  const std::string path = dir / "long.zip";
  const std::string name(65535, 'q');
  ASSERT_TRUE(testing_support::WriteFile(path, Build({Stored("small", "s"), Stored(name, "x")}).bytes));
  ASSERT_EQ(archive_change::DeleteEntry(path, "small"), kOk);
  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reread.EntryCount(), 1);
  EXPECT_EQ(reread.EntryName(0), name);
  EXPECT_EQ(reread.Table().At(0)->localHeaderOffset, 0u);
  EXPECT_EQ(reread.TestEntry(0), kOk);
}

TEST(DirectoryWriterTest, NonAsciiNamesRoundTrip) {
  TempDir dir;
  const std::string path = dir / "names.zip";
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    ASSERT_EQ(archive.AddFromMemory(UbungInMemory().c_str(), "int x;\n", 7, nullptr), kOk);
    ASSERT_EQ(archive.Close(), kOk);
  }
  const testing_support::FirstEntry first = testing_support::ParseFirstEntry(testing_support::ReadFile(path));
  ASSERT_TRUE(first.ok);
  // Code page 850 on both builds (437 reads the umlaut the same), with the
  // name as UTF-8 in a Unicode Path block for readers on UTF-8 systems.
  EXPECT_EQ(first.name, "\232bung.c");
  EXPECT_EQ(first.flags & kFlagUtf8Name, 0);
  std::size_t at = 0;
  std::size_t size = 0;
  ASSERT_TRUE(FindExtraBlock(first.extra.data(), first.extra.size(), kUnicodePathExtraId, &at, &size));
  const std::uint8_t stored[] = {0x9A, 'b', 'u', 'n', 'g', '.', 'c'};
  const std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0L, stored, sizeof stored));
  const std::vector<std::uint8_t> expected = {1,
                                              static_cast<std::uint8_t>(crc),
                                              static_cast<std::uint8_t>(crc >> 8),
                                              static_cast<std::uint8_t>(crc >> 16),
                                              static_cast<std::uint8_t>(crc >> 24),
                                              0xC3,
                                              0x9C,
                                              'b',
                                              'u',
                                              'n',
                                              'g',
                                              '.',
                                              'c'};
  EXPECT_EQ(std::vector<std::uint8_t>(first.extra.begin() + at, first.extra.begin() + at + size), expected);
  Korbel reread;
  ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(reread.FindEntry(UbungInMemory().c_str()), 0);

  // A code page 850 name written by another tool (bit 11 clear), and the
  // same name as UTF-8 with bit 11.
  const std::string other = dir / "other.zip";
  ASSERT_TRUE(testing_support::WriteFile(
      other, Build({Stored("\232bung.c", "a"), Stored("\xC3\234bung.h", "b", false, kFlagUtf8Name)}).bytes));
  Korbel foreign;
  ASSERT_EQ(foreign.Open(other.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(foreign.EntryName(0), UbungInMemory());
  std::string header = UbungInMemory();
  header.back() = 'h';
  EXPECT_EQ(foreign.EntryName(1), header);

  if (!testing_support::RequireTool("python3")) return;
  std::string listed;
  ASSERT_EQ(testing_support::RunCommand("python3 -c \"import sys, zipfile; "
                                        "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).namelist()[0]"
                                        ".encode('utf-8'))\" " +
                                            testing_support::Quote(path),
                                        &listed),
            0);
  EXPECT_EQ(listed, "\xC3\234bung.c");
}

}  // namespace
}  // namespace korbel
