// Reading ahead on worker threads: the files and codes come out exactly as
// an entry-by-entry read on the archive's thread gives them, whatever the
// method, encryption, size or order in which the caller asks.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/host_tools.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::Quote;
using testing_support::TempDir;

// Small files around one above the size that is decoded ahead, an empty
// file and an empty folder.
void MakeTree(const std::string& root) {
  for (int i = 0; i < 30; ++i) {
    const std::string folder = i < 15 ? "a" : "z/deep";
    testing_support::WriteFile(root + "/" + folder + "/f" + std::to_string(i) + ".txt",
                               testing_support::TextBytes(100 + i * 997));
    testing_support::WriteFile(root + "/" + folder + "/r" + std::to_string(i) + ".bin",
                               testing_support::RandomBytes(50 + i * 311, i));
  }
  testing_support::WriteFile(root + "/m/big.txt", testing_support::TextBytes(9u << 20));
  testing_support::WriteFile(root + "/m/empty.txt", Bytes());
  std::filesystem::create_directories(root + "/m/hollow");
}

std::vector<int> FileEntries(Korbel& archive) {
  std::vector<int> files;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    if (!archive.IsFolder(i)) files.push_back(i);
  }
  return files;
}

// Every method and both kinds of encryption, made by the tools of the
// machine, extract to the tree unzip (or 7zz) extracts.
TEST(ReadAheadTest, ExtractionGivesTheTreeAnIndependentReaderGives) {
  struct Row {
    const char* what;
    const char* tool;
    const char* command;  // run in the tree; %s is the archive
    const char* password;
    bool by7zz;  // the reference: unzip reads neither LZMA nor AES entries
  };
  const Row rows[] = {
      {"deflate and stored", "zip", "zip -q -r -X %s .", nullptr, false},
      {"stored only", "zip", "zip -q -r -X -0 %s .", nullptr, false},
      {"traditional encryption", "zip", "zip -q -r -X -P secret %s .", "secret", false},
      {"bzip2", "python3",
       "python3 -c 'import shutil,sys,zipfile,os\n"
       "z=zipfile.ZipFile(sys.argv[1],\"w\",zipfile.ZIP_BZIP2)\n"
       "[z.write(os.path.join(d,n)) for d,ds,fs in os.walk(\".\") for n in ds+fs]' %s",
       nullptr, false},
      {"lzma", "python3",
       "python3 -c 'import shutil,sys,zipfile,os\n"
       "z=zipfile.ZipFile(sys.argv[1],\"w\",zipfile.ZIP_LZMA)\n"
       "[z.write(os.path.join(d,n)) for d,ds,fs in os.walk(\".\") for n in ds+fs]' %s",
       nullptr, true},
      {"AES-256", "7zz", "7zz a -bd -bso0 -tzip -mem=AES256 -psecret %s .", "secret", true},
  };
  if (!testing_support::HaveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
  TempDir dir;
  MakeTree(dir / "tree");
  int ran = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const bool aes = row.by7zz;
    if (!testing_support::HaveTool(row.tool) || (aes && !testing_support::HaveTool("7zz"))) {
      std::printf("skipped: %s (%s or 7zz is not installed)\n", row.what, row.tool);
      continue;
    }
    const std::string archivePath = dir / (std::string("a") + std::to_string(ran) + ".zip");
    char command[1024];
    std::snprintf(command, sizeof command, row.command, Quote(archivePath).c_str());
    ASSERT_EQ(testing_support::RunCommand("cd " + Quote(dir / "tree") + " && " + command), 0);
    const std::string ours = dir / ("ours" + std::to_string(ran));
    const std::string theirs = dir / ("theirs" + std::to_string(ran));
    const std::string pass = row.password ? std::string(aes ? " -p" : " -P ") + row.password : "";
    const std::string reference =
        aes ? "7zz x -bd -bso0" + pass + " -o" + Quote(theirs) + " " + Quote(archivePath)
            : "unzip -q" + pass + " " + Quote(archivePath) + " -d " + Quote(theirs);
    ASSERT_EQ(testing_support::RunCommand(reference), 0);
    Korbel archive;
    ASSERT_EQ(archive.Open(archivePath.c_str(), kReadOnly, 9), kOk);
    if (row.password != nullptr) archive.SetPassword(row.password);
    int errors = -1;
    EXPECT_EQ(archive.ExtractAll(ours.c_str(), &errors), kOk);
    EXPECT_EQ(errors, 0);
    // The test of every entry through the workers passes as well.
    archive.PlanReads(FileEntries(archive), true);
    for (int index : FileEntries(archive))
      EXPECT_EQ(archive.TestEntry(index), kOk) << archive.EntryName(index);
    archive.Close();
    EXPECT_EQ(testing_support::RunCommand("diff -r " + Quote(ours) + " " + Quote(theirs)), 0);
    ++ran;
  }
  if (ran == 0) GTEST_SKIP() << "no archiver to make the archives";
}

// Forty stored entries, the one at `bad` with a CRC its data does not have.
std::string DamagedArchive(const TempDir& dir, int bad) {
  std::vector<archive_builder::Entry> entries;
  for (int i = 0; i < 40; ++i) {
    entries.push_back(
        archive_builder::Stored("e" + std::to_string(i) + ".txt", testing_support::TextBytes(500 + i)));
  }
  entries[bad].crc ^= 1;
  const std::string path = dir / "damaged.zip";
  EXPECT_TRUE(testing_support::WriteFile(path, archive_builder::Build(entries).bytes));
  return path;
}

// A bad entry between good ones: the others land, the bad one leaves no
// file and keeps an existing one, and each code comes at its own entry -
// with the read-ahead as without it, extracting as testing.
TEST(ReadAheadTest, ABadEntryFailsAloneAndInItsPlace) {
  struct Row {
    const char* what;
    bool planned;
    bool testing;
    bool existing;  // the bad entry's file is there before
    int badCode;
  };
  const Row rows[] = {
      {"extracting, read ahead", true, false, false, kDecompressError},
      {"extracting, entry by entry", false, false, false, kDecompressError},
      {"extracting over a file, read ahead", true, false, true, kDecompressError},
      {"testing, read ahead", true, true, false, kCrcError},
      {"testing, entry by entry", false, true, false, kCrcError},
  };
  constexpr int kBad = 17;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string path = DamagedArchive(dir, kBad);
    const std::string target = dir / "out";
    std::filesystem::create_directories(target);
    if (row.existing) testing_support::WriteFile(target + "/e17.txt", std::string("old"));
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    if (row.planned) archive.PlanReads(FileEntries(archive), row.testing);
    for (int i = 0; i < archive.EntryCount(); ++i) {
      const int code = row.testing ? archive.TestEntry(i) : archive.ExtractEntry(i, (target + "/").c_str());
      EXPECT_EQ(code, i == kBad ? row.badCode : kOk) << i;
      if (row.testing) continue;
      const std::string file = target + "/e" + std::to_string(i) + ".txt";
      if (i != kBad) {
        EXPECT_EQ(testing_support::ReadFile(file), testing_support::TextBytes(500 + i)) << i;
      } else if (row.existing) {
        EXPECT_EQ(testing_support::ReadFile(file), Bytes({'o', 'l', 'd'}));
      } else {
        EXPECT_FALSE(std::filesystem::exists(file));
      }
    }
    archive.Close();
    std::size_t left = 0;
    for (const auto& item : std::filesystem::directory_iterator(target))
      left += item.is_regular_file() ? 1 : 0;
    EXPECT_EQ(left, row.testing ? 0u : (row.existing ? 40u : 39u)) << "no temporary file stays";
  }
}

// The caller may pass over announced entries, go back to one, or set the
// password only after the read-ahead began: each entry still comes out right.
TEST(ReadAheadTest, EntriesLeftOutOrAskedAgainComeOutRight) {
  if (!testing_support::HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  TempDir dir;
  MakeTree(dir / "tree");
  const std::string path = dir / "e.zip";
  ASSERT_EQ(testing_support::RunCommand("cd " + Quote(dir / "tree") + " && zip -q -r -X -P secret " +
                                        Quote(path) + " a z"),
            0);
  Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  const std::vector<int> files = FileEntries(archive);
  ASSERT_GT(files.size(), 20u);
  archive.PlanReads(files, false);
  const std::string target = dir / "out/";
  // No password, then a wrong one: the entries decoded meanwhile are read
  // again once the right one is set.
  EXPECT_EQ(archive.ExtractEntry(files[0], target.c_str()), kWrongPassword);
  archive.SetPassword("wrong");
  EXPECT_EQ(archive.ExtractEntry(files[1], target.c_str()), kWrongPassword);
  archive.SetPassword("secret");
  std::vector<int> asked;
  for (std::size_t i = 2; i < files.size(); i += 3) asked.push_back(files[i]);
  asked.push_back(files[0]);  // out of the announced order
  asked.push_back(files[1]);
  for (int index : asked)
    EXPECT_EQ(archive.ExtractEntry(index, target.c_str()), kOk) << archive.EntryName(index);
  std::vector<std::string> names;
  for (int index : asked) names.push_back(archive.EntryName(index));
  archive.Close();
  for (const std::string& name : names) {
    EXPECT_EQ(testing_support::ReadFile(target + name), testing_support::ReadFile(dir / ("tree/" + name)))
        << name;
  }
  std::size_t written = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(target))
    written += item.is_regular_file();
  EXPECT_EQ(written, names.size());
}

}  // namespace
}  // namespace korbel
