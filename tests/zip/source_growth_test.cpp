// Queued sources read at close: a file is read no further than the size it
// had when it was opened, and a long source path is used whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/archive_change.h"
#include "tests/zip/entry_bytes.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::TempDir;

struct Growth {
  std::string path;
  int grown = 0;
};

// Appends to the source just before its data is read (the file is open by
// then): a log that is written while the project is packed.
int GrowOnCompress(std::uintptr_t userData, int event, int /*entryIndex*/, ArchiveBase* /*archive*/,
                   const char* /*text*/) {
  auto* growth = reinterpret_cast<Growth*>(userData);
  if (event != kEventCompress) return 0;
  std::FILE* file = std::fopen(growth->path.c_str(), "ab");
  if (file == nullptr) return 0;
  const std::string more(50000, 'g');
  const bool written = std::fwrite(more.data(), 1, more.size(), file) == more.size();
  if (std::fclose(file) == 0 && written) ++growth->grown;
  return 0;
}

TEST(SourceGrowth, AFileThatGrowsWhileReadEndsAtItsSizeAtTheOpen) {
  TempDir dir;
  // Stored by its extension, so it streams at its turn, after the open.
  Growth growth{dir / "live.zip"};
  const Bytes original = testing_support::RandomBytes(3000, 11);
  ASSERT_TRUE(testing_support::WriteFile(growth.path, original));
  const std::string archivePath = dir / "out.zip";
  {
    Korbel archive;
    ASSERT_EQ(archive.Open(archivePath.c_str(), kCreate, 9), kOk);
    ASSERT_EQ(archive.AddFileByPath(growth.path.c_str(), "live.zip"), kOk);
    archive.SetCallback(reinterpret_cast<std::uintptr_t>(&growth), GrowOnCompress);
    ASSERT_EQ(archive.Close(), kOk);
  }
  if (growth.grown == 0 && !testing_support::IsPosixBuild()) {
    // Windows shares the open source for reading only: it cannot grow.
    GTEST_SKIP() << "the system lets no one write to a source while it is read";
  }
  ASSERT_GT(growth.grown, 0) << "the source never grew: the test shows nothing";
  ASSERT_GT(std::filesystem::file_size(growth.path), original.size());
  Korbel reader;
  ASSERT_EQ(reader.Open(archivePath.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reader.EntryCount(), 1);
  EXPECT_EQ(reader.Table().At(0)->uncompressedSize, original.size());
  EXPECT_EQ(entry_bytes::ReadAll(reader, 0), original);
  EXPECT_TRUE(testing_support::ReadersAccept(archivePath, {testing_support::Reader::kUnzip}));
}

TEST(SourceGrowth, LongSourcePathsAreNotCut) {
  // The file at the 255-byte cut of the long path holds other data: a cut
  // path would store it under the long file's name.
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "paths beyond MAX_PATH are made on the host";
  TempDir dir;
  std::string folder = dir.Path();
  while (folder.size() < 300) folder += "/" + std::string(60, 'f');
  const std::string longPath = folder + "/" + std::string(380 - folder.size() - 1, 'n');
  ASSERT_EQ(longPath.size(), 380u);
  const std::string cutPath = longPath.substr(0, 255);
  std::filesystem::create_directories(std::filesystem::path(cutPath).parent_path());
  std::filesystem::create_directories(folder);
  ASSERT_TRUE(testing_support::WriteFile(longPath, std::string("long file")));
  ASSERT_TRUE(testing_support::WriteFile(cutPath, std::string("short file")));
  const std::string archivePath = dir / "out.zip";
  ASSERT_EQ(archive_change::PackFile(archivePath, longPath, "long.txt"), kOk);
  Korbel reader;
  ASSERT_EQ(reader.Open(archivePath.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reader.EntryCount(), 1);
  const Bytes data = entry_bytes::ReadAll(reader, 0);
  EXPECT_EQ(std::string(data.begin(), data.end()), "long file");
}

}  // namespace
}  // namespace korbel
