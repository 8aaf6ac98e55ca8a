#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::Bytes;
using testing_support::TempDir;

constexpr std::uint32_t kNoError = 0xDEADBEEF;  // marks "last error not looked at"

std::string ReadAll(Handle file) {
  std::string text(4096, '\0');
  const std::int64_t got = ReadFile(file, &text[0], text.size());
  text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return text;
}

bool WriteText(const std::string& path, const std::string& text) {
  return testing_support::WriteFile(path, text);
}

std::string FileText(const std::string& path) {
  const Bytes bytes = testing_support::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(Files, WrittenBytesReadBackAfterSeek) {
  TempDir dir;
  const std::string path = dir / "data.bin";
  FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kCreateNew));
  ASSERT_NE(file.Get(), kInvalidHandle) << LastError();
  const Bytes data = testing_support::RandomBytes(100000, 7);
  EXPECT_EQ(WriteFile(file.Get(), data.data(), data.size()), 100000);
  EXPECT_EQ(FileSize(file.Get()), 100000);
  EXPECT_EQ(SeekFile(file.Get(), 0, kSeekCurrent), 100000);
  ASSERT_EQ(SeekFile(file.Get(), 0, kSeekBegin), 0);
  Bytes back(data.size() + 10);
  EXPECT_EQ(ReadFile(file.Get(), back.data(), back.size()), 100000);
  back.resize(data.size());
  EXPECT_EQ(back, data);
  EXPECT_EQ(ReadFile(file.Get(), back.data(), back.size()), 0) << "at the end a read gives 0";
  EXPECT_EQ(SeekFile(file.Get(), -10, kSeekEnd), 99990);
  unsigned char tail[10];
  EXPECT_EQ(ReadFile(file.Get(), tail, sizeof tail), 10);
  EXPECT_EQ(0, std::memcmp(tail, data.data() + 99990, 10));
  EXPECT_EQ(SeekFile(file.Get(), -5, kSeekCurrent), 99995);
}

struct DispositionCase {
  const char* name;
  std::uint32_t disposition;
  bool exists;
  bool opens;
  std::uint32_t error;  // LastError after the call
  const char* content;  // of the file afterwards
};

class Disposition : public testing::TestWithParam<DispositionCase> {};

TEST_P(Disposition, OpensCreatesOrRefusesAsWindows) {
  const DispositionCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "file.txt";
  if (c.exists) {
    ASSERT_TRUE(WriteText(path, "old"));
  }
  SetLastError(kNoError);
  const Handle file = OpenFile(path.c_str(), kAccessReadWrite, kShareNone, c.disposition);
  EXPECT_EQ(LastError(), c.error);
  if (c.opens) {
    ASSERT_NE(file, kInvalidHandle);
    EXPECT_EQ(ReadAll(file), c.content);
    EXPECT_TRUE(CloseFile(file));
  } else {
    EXPECT_EQ(file, kInvalidHandle);
  }
  EXPECT_EQ(testing_support::FileExists(path), c.exists || c.opens);
  if (c.exists || c.opens) {
    EXPECT_EQ(FileText(path), c.content);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, Disposition,
    testing::Values(
        DispositionCase{"OpenExistingMissing", kOpenExisting, false, false, kErrorFileNotFound, ""},
        DispositionCase{"OpenExistingPresent", kOpenExisting, true, true, kErrorSuccess, "old"},
        DispositionCase{"CreateAlwaysMissing", kCreateAlways, false, true, kErrorSuccess, ""},
        DispositionCase{"CreateAlwaysPresent", kCreateAlways, true, true, kErrorAlreadyExists, ""},
        DispositionCase{"OpenAlwaysMissing", kOpenAlways, false, true, kErrorSuccess, ""},
        DispositionCase{"OpenAlwaysPresent", kOpenAlways, true, true, kErrorAlreadyExists, "old"},
        DispositionCase{"CreateNewMissing", kCreateNew, false, true, kErrorSuccess, ""},
        DispositionCase{"CreateNewPresent", kCreateNew, true, false, kErrorFileExists, "old"}),
    [](const testing::TestParamInfo<DispositionCase>& paramInfo) {
      return std::string(paramInfo.param.name);
    });

TEST(Files, OpenReportsMissingFoldersAndRefusesFolders) {
  TempDir dir;
  ASSERT_TRUE(WriteText(dir / "file.txt", "x"));
  const std::string missingFolder = dir / "none/file.txt";
  const std::string underFile = dir / "file.txt/inner.txt";
  for (const std::string& path : {missingFolder, underFile}) {
    SetLastError(kNoError);
    EXPECT_EQ(OpenFile(path.c_str(), kAccessRead, kShareRead, kOpenExisting), kInvalidHandle) << path;
    EXPECT_EQ(LastError(), kErrorPathNotFound) << path;
    SetLastError(kNoError);
    EXPECT_EQ(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kCreateAlways), kInvalidHandle) << path;
    EXPECT_EQ(LastError(), kErrorPathNotFound) << path;
  }
  SetLastError(kNoError);
  EXPECT_EQ(OpenFile(dir.Path().c_str(), kAccessRead, kShareRead, kOpenExisting), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST(Files, BackslashSeparatesFoldersOnEveryBuild) {
  TempDir dir;
  ASSERT_TRUE(WriteText(dir / "sub/inner.txt", "inner"));
  const std::string path = dir.Path() + "\\sub\\inner.txt";
  FileCloser file(OpenFile(path.c_str(), kAccessRead, kShareRead, kOpenExisting));
  ASSERT_NE(file.Get(), kInvalidHandle) << LastError();
  EXPECT_EQ(ReadAll(file.Get()), "inner");
}

struct ShareCase {
  const char* name;
  std::uint32_t firstAccess, firstShare, secondAccess, secondShare;
  bool secondOpens;
};

class Sharing : public testing::TestWithParam<ShareCase> {};

TEST_P(Sharing, SecondOpenNeedsWhatTheFirstShares) {
  const ShareCase& c = GetParam();
  TempDir dir;
  const std::string path = dir / "shared.txt";
  ASSERT_TRUE(WriteText(path, "shared"));
  FileCloser first(OpenFile(path.c_str(), c.firstAccess, c.firstShare, kOpenExisting));
  ASSERT_NE(first.Get(), kInvalidHandle) << LastError();
  SetLastError(kNoError);
  FileCloser second(OpenFile(path.c_str(), c.secondAccess, c.secondShare, kOpenExisting));
  if (c.secondOpens) {
    EXPECT_NE(second.Get(), kInvalidHandle) << LastError();
  } else {
    EXPECT_EQ(second.Get(), kInvalidHandle);
    EXPECT_EQ(LastError(), kErrorSharingViolation);
  }
  // Once the first is closed, any open succeeds.
  first.Reset();
  second.Reset();
  FileCloser third(OpenFile(path.c_str(), c.secondAccess, c.secondShare, kOpenExisting));
  EXPECT_NE(third.Get(), kInvalidHandle) << LastError();
}

INSTANTIATE_TEST_SUITE_P(
    All, Sharing,
    testing::Values(ShareCase{"ExclusiveBlocksReader", kAccessReadWrite, kShareNone, kAccessRead,
                              kShareRead | kShareWrite, false},
                    ShareCase{"ReadersShareReading", kAccessRead, kShareRead, kAccessRead, kShareRead, true},
                    ShareCase{"WriterNotSharedWithReadOnlySharer", kAccessRead, kShareRead, kAccessWrite,
                              kShareRead, false},
                    ShareCase{"ReaderMustShareTheWriter", kAccessWrite, kShareRead, kAccessRead, kShareRead,
                              false},
                    ShareCase{"ReaderSharingWriteJoinsWriter", kAccessWrite, kShareRead, kAccessRead,
                              kShareRead | kShareWrite, true},
                    ShareCase{"TwoWritersSharingAll", kAccessReadWrite, kShareRead | kShareWrite,
                              kAccessReadWrite, kShareRead | kShareWrite, true}),
    [](const testing::TestParamInfo<ShareCase>& paramInfo) { return std::string(paramInfo.param.name); });

TEST(Files, OpenFileCannotBeDeletedOrRecreated) {
  TempDir dir;
  const std::string path = dir / "busy.txt";
  FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareRead, kCreateAlways));
  ASSERT_NE(file.Get(), kInvalidHandle);
  ASSERT_EQ(WriteFile(file.Get(), "abc", 3), 3);
  EXPECT_FALSE(DeleteFile(path.c_str()));
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  EXPECT_EQ(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kCreateAlways), kInvalidHandle);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  EXPECT_EQ(FileText(path), "abc") << "the refused open must not empty the file";
  file.Reset();
  EXPECT_TRUE(DeleteFile(path.c_str())) << LastError();
}

TEST(Files, SeeksAndTruncatesPastFourGibibytes) {
  TempDir dir;
  const std::string path = dir / "sparse.bin";
  FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kCreateAlways));
  ASSERT_NE(file.Get(), kInvalidHandle);
  const std::int64_t far = (std::int64_t{5} << 30) + 3;
  ASSERT_EQ(SeekFile(file.Get(), far, kSeekBegin), far);
  ASSERT_EQ(WriteFile(file.Get(), "tail", 4), 4);
  EXPECT_EQ(FileSize(file.Get()), far + 4);
  EXPECT_EQ(SeekFile(file.Get(), -4, kSeekEnd), far);
  char text[5] = {};
  EXPECT_EQ(ReadFile(file.Get(), text, 4), 4);
  EXPECT_STREQ(text, "tail");
  // A hole reads as zeros.
  ASSERT_EQ(SeekFile(file.Get(), std::int64_t{1} << 32, kSeekBegin), std::int64_t{1} << 32);
  unsigned char hole[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(ReadFile(file.Get(), hole, sizeof hole), 8);
  for (unsigned char byte : hole) {
    EXPECT_EQ(byte, 0);
  }

  const std::int64_t cut = (std::int64_t{1} << 32) + 1;
  ASSERT_EQ(SeekFile(file.Get(), cut, kSeekBegin), cut);
  EXPECT_TRUE(TruncateFile(file.Get()));
  EXPECT_EQ(FileSize(file.Get()), cut);
  ASSERT_EQ(SeekFile(file.Get(), 10, kSeekBegin), 10);
  EXPECT_TRUE(TruncateFile(file.Get()));
  EXPECT_EQ(FileSize(file.Get()), 10);
  EXPECT_EQ(SeekFile(file.Get(), 0, kSeekCurrent), 10);
}

TEST(Files, SeekBeforeTheStartFails) {
  TempDir dir;
  const std::string path = dir / "f.bin";
  FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kCreateAlways));
  ASSERT_NE(file.Get(), kInvalidHandle);
  ASSERT_EQ(WriteFile(file.Get(), "12345", 5), 5);
  EXPECT_EQ(SeekFile(file.Get(), -6, kSeekEnd), -1);
  EXPECT_EQ(SeekFile(file.Get(), 0, kSeekCurrent), 5) << "a failed seek keeps the position";
  EXPECT_EQ(SeekFile(file.Get(), 0, 7), -1);
}

TEST(Files, InvalidHandleIsRefused) {
  char byte = 0;
  SetLastError(kNoError);
  EXPECT_EQ(ReadFile(kInvalidHandle, &byte, 1), -1);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  SetLastError(kNoError);
  EXPECT_EQ(WriteFile(kInvalidHandle, &byte, 1), -1);
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  SetLastError(kNoError);
  EXPECT_FALSE(CloseFile(kInvalidHandle));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_EQ(FileSize(kInvalidHandle), -1);
  EXPECT_EQ(SeekFile(kInvalidHandle, 0, kSeekBegin), -1);
  EXPECT_FALSE(TruncateFile(kInvalidHandle));
}

TEST(Files, ReadOnlyAccessCannotWrite) {
  TempDir dir;
  const std::string path = dir / "r.txt";
  ASSERT_TRUE(WriteText(path, "keep"));
  FileCloser file(OpenFile(path.c_str(), kAccessRead, kShareRead, kOpenExisting, true));
  ASSERT_NE(file.Get(), kInvalidHandle);
  EXPECT_EQ(WriteFile(file.Get(), "x", 1), -1);
  EXPECT_EQ(ReadAll(file.Get()), "keep");
}

TEST(Files, ReadOnlyFileRefusesWritingOpens) {
  // Wine running as root lets the owner write anyway; the POSIX build keeps
  // the Windows answer whoever runs it.
  if (LogicalDrives() != 0) GTEST_SKIP() << "checked on the POSIX build";
  TempDir dir;
  const std::string path = dir / "ro.txt";
  ASSERT_TRUE(WriteText(path, "keep"));
  ASSERT_TRUE(SetAttributes(path.c_str(), kAttrReadOnly));
  for (std::uint32_t disposition : {kOpenExisting, kOpenAlways, kCreateAlways}) {
    SetLastError(kNoError);
    EXPECT_EQ(OpenFile(path.c_str(), kAccessWrite, kShareNone, disposition), kInvalidHandle);
    EXPECT_EQ(LastError(), kErrorAccessDenied);
  }
  EXPECT_EQ(OpenFile(path.c_str(), kAccessRead, kShareNone, kCreateAlways), kInvalidHandle);
  EXPECT_EQ(FileText(path), "keep");
  FileCloser reader(OpenFile(path.c_str(), kAccessRead, kShareNone, kOpenExisting));
  EXPECT_NE(reader.Get(), kInvalidHandle);
}

// A dangling link once made the create-or-open loop spin for ever; a link
// to a file would have been written through.
TEST(Files, CreatingOpensRefuseALinkAtThePath) {
  if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "links need a POSIX file system here";
  TempDir dir;
  const std::string victim = dir / "victim.txt";
  ASSERT_TRUE(WriteText(victim, "keep"));
  std::filesystem::create_symlink(dir / "missing/nothing.txt", dir / "dangling.zip");
  std::filesystem::create_symlink(victim, dir / "pointing.zip");
  for (const char* name : {"dangling.zip", "pointing.zip"}) {
    for (std::uint32_t disposition : {kOpenAlways, kCreateAlways, kCreateNew}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(disposition));
      SetLastError(kNoError);
      EXPECT_EQ(OpenFile((dir / name).c_str(), kAccessReadWrite, kShareNone, disposition), kInvalidHandle);
      EXPECT_NE(LastError(), kNoError);
    }
  }
  EXPECT_EQ(FileText(victim), "keep");
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  // Reading through a link stays allowed.
  FileCloser reader(OpenFile((dir / "pointing.zip").c_str(), kAccessRead, kShareRead, kOpenExisting));
  EXPECT_NE(reader.Get(), kInvalidHandle);
}

TEST(Files, FileCloserClosesAtScopeEnd) {
  TempDir dir;
  const std::string path = dir / "c.txt";
  {
    FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kCreateAlways));
    ASSERT_NE(file.Get(), kInvalidHandle);
  }
  // Exclusive opens succeed only when no handle is left.
  FileCloser again(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
  ASSERT_NE(again.Get(), kInvalidHandle);
  const Handle released = again.Release();
  EXPECT_EQ(again.Get(), kInvalidHandle);
  EXPECT_EQ(OpenFile(path.c_str(), kAccessRead, kShareRead, kOpenExisting), kInvalidHandle);
  EXPECT_TRUE(CloseFile(released));
}

TEST(Files, StandardOutputTakesWrites) {
  const Handle output = StandardOutput();
  ASSERT_NE(output, kInvalidHandle);
  EXPECT_EQ(WriteFile(output, "", 0), 0);
}

}  // namespace
}  // namespace platform
