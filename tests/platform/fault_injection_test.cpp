#include "platform/fault_injection.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::TempDir;

class FaultInjection : public testing::Test {
 protected:
  void SetUp() override {
    ClearFaults();
    path_ = dir_ / "data.txt";
    ASSERT_TRUE(testing_support::WriteFile(path_, std::string("0123456789")));
  }
  void TearDown() override { ClearFaults(); }

  Handle Open(std::uint32_t access = kAccessReadWrite) {
    return OpenFile(path_.c_str(), access, kShareNone, kOpenExisting);
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(FaultInjection, NthReadFailsOnceAndCallsAreCounted) {
  FileCloser file(Open());
  ASSERT_NE(file.Get(), kInvalidHandle);
  InjectFault(Operation::kReadFile, 2, FaultKind::kFail);
  char buffer[4];
  EXPECT_EQ(ReadFile(file.Get(), buffer, 2), 2);
  SetLastError(0);
  EXPECT_EQ(ReadFile(file.Get(), buffer, 2), -1);
  EXPECT_EQ(LastError(), kErrorGeneric);
  EXPECT_EQ(ReadFile(file.Get(), buffer, 2), 2) << "the fault fires once";
  EXPECT_EQ(std::string(buffer, 2), "23") << "the failed read consumed nothing";
  EXPECT_EQ(CallCount(Operation::kReadFile), 3u);
  EXPECT_EQ(CallCount(Operation::kWriteFile), 0u);
}

TEST_F(FaultInjection, ShortWriteWritesHalfAndReportsAFullDisk) {
  FileCloser file(OpenFile(path_.c_str(), kAccessReadWrite, kShareNone, kCreateAlways));
  ASSERT_NE(file.Get(), kInvalidHandle);
  InjectFault(Operation::kWriteFile, 1, FaultKind::kShortWrite);
  SetLastError(0);
  EXPECT_EQ(WriteFile(file.Get(), "abcdefghij", 10), 5);
  EXPECT_EQ(LastError(), kErrorDiskFull);
  EXPECT_EQ(FileSize(file.Get()), 5);
  InjectFault(Operation::kWriteFile, 1, FaultKind::kDiskFull);
  EXPECT_EQ(WriteFile(file.Get(), "klm", 3), -1);
  EXPECT_EQ(LastError(), kErrorDiskFull);
  EXPECT_EQ(WriteFile(file.Get(), "klm", 3), 3);
  file.Reset();
  const testing_support::Bytes bytes = testing_support::ReadFile(path_);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdeklm");
}

TEST_F(FaultInjection, ShortReadReadsHalf) {
  FileCloser file(Open());
  InjectFault(Operation::kReadFile, 1, FaultKind::kShortRead);
  char buffer[10];
  EXPECT_EQ(ReadFile(file.Get(), buffer, 10), 5);
  EXPECT_EQ(std::string(buffer, 5), "01234");
  EXPECT_EQ(ReadFile(file.Get(), buffer, 10), 5);
  EXPECT_EQ(std::string(buffer, 5), "56789");
}

struct OperationCase {
  const char* name;
  Operation op;
  FaultKind kind;
};

class FailingOperation : public FaultInjection, public testing::WithParamInterface<OperationCase> {};

TEST_P(FailingOperation, FailsWithTheChosenErrorAndChangesNothing) {
  const OperationCase& c = GetParam();
  const std::string folder = dir_ / "folder";
  FileCloser file(c.op == Operation::kOpenFile || c.op == Operation::kDeleteFile ? kInvalidHandle : Open());
  if (c.op != Operation::kOpenFile && c.op != Operation::kDeleteFile) {
    ASSERT_NE(file.Get(), kInvalidHandle);
    ASSERT_EQ(SeekFile(file.Get(), 4, kSeekBegin), 4);
  }
  InjectFault(c.op, 1, c.kind);
  SetLastError(0);
  FileMapping mapping;
  bool failed = false;
  switch (c.op) {
    case Operation::kOpenFile:
      failed = Open() == kInvalidHandle;
      break;
    case Operation::kSeekFile:
      failed = SeekFile(file.Get(), 0, kSeekEnd) == -1;
      break;
    case Operation::kTruncateFile:
      failed = !TruncateFile(file.Get());
      break;
    case Operation::kCloseFile:
      failed = !CloseFile(file.Release());
      break;
    case Operation::kCreateDirectory:
      failed = !CreateDirectory(folder.c_str());
      break;
    case Operation::kDeleteFile:
      failed = !DeleteFile(path_.c_str());
      break;
    case Operation::kFileMapping:
      failed = !mapping.Map(file.Get(), 10);
      break;
    case Operation::kFlushFile:
      failed = !FlushFile(file.Get());
      break;
    default:
      FAIL() << "no case for this operation";
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(LastError(), FaultError(c.kind));
  EXPECT_EQ(CallCount(c.op), 1u);
  ClearFaults();

  // Nothing happened, except that a closed handle is gone all the same.
  switch (c.op) {
    case Operation::kSeekFile:
      EXPECT_EQ(SeekFile(file.Get(), 0, kSeekCurrent), 4);
      break;
    case Operation::kTruncateFile:
      EXPECT_EQ(FileSize(file.Get()), 10);
      break;
    case Operation::kCloseFile: {
      FileCloser again(Open());
      EXPECT_NE(again.Get(), kInvalidHandle) << "an exclusive open finds the handle released";
      break;
    }
    case Operation::kCreateDirectory:
      EXPECT_EQ(GetAttributes(folder.c_str()), kInvalidAttributes);
      break;
    case Operation::kDeleteFile:
      EXPECT_TRUE(testing_support::FileExists(path_));
      break;
    case Operation::kFileMapping:
      EXPECT_EQ(mapping.Data(), nullptr);
      break;
    default:
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, FailingOperation,
    testing::Values(OperationCase{"OpenFile", Operation::kOpenFile, FaultKind::kAccessDenied},
                    OperationCase{"SeekFile", Operation::kSeekFile, FaultKind::kFail},
                    OperationCase{"TruncateFile", Operation::kTruncateFile, FaultKind::kDiskFull},
                    OperationCase{"CloseFile", Operation::kCloseFile, FaultKind::kFail},
                    OperationCase{"CreateDirectory", Operation::kCreateDirectory, FaultKind::kAccessDenied},
                    OperationCase{"DeleteFile", Operation::kDeleteFile, FaultKind::kAccessDenied},
                    OperationCase{"FileMapping", Operation::kFileMapping, FaultKind::kFail},
                    OperationCase{"FlushFile", Operation::kFlushFile, FaultKind::kFail}),
    [](const testing::TestParamInfo<OperationCase>& paramInfo) { return std::string(paramInfo.param.name); });

TEST_F(FaultInjection, ClearFaultsDisarmsAndResetsCounters) {
  InjectFault(Operation::kOpenFile, 2, FaultKind::kFail);
  FileCloser first(Open(kAccessRead));
  EXPECT_NE(first.Get(), kInvalidHandle);
  first.Reset();
  EXPECT_EQ(CallCount(Operation::kOpenFile), 1u);
  ClearFaults();
  EXPECT_EQ(CallCount(Operation::kOpenFile), 0u);
  FileCloser second(Open(kAccessRead));
  EXPECT_NE(second.Get(), kInvalidHandle) << "the second open was disarmed";
  EXPECT_EQ(CallCount(Operation::kOpenFile), 0u) << "nothing is counted while disarmed";
}

TEST_F(FaultInjection, CountingAloneFailsNothing) {
  CountCalls();
  for (int i = 0; i < 3; ++i) {
    FileCloser file(Open(kAccessRead));
    EXPECT_NE(file.Get(), kInvalidHandle);
  }
  EXPECT_EQ(CallCount(Operation::kOpenFile), 3u);
  EXPECT_EQ(CallCount(Operation::kCloseFile), 3u);
  // Fail each open in turn, as a hardening loop does.
  for (std::uint32_t n = 1; n <= 3; ++n) {
    ClearFaults();
    InjectFault(Operation::kOpenFile, static_cast<int>(n), FaultKind::kFail);
    int failures = 0;
    for (std::uint32_t i = 1; i <= 3; ++i) {
      FileCloser file(Open(kAccessRead));
      if (file.Get() == kInvalidHandle) {
        ++failures;
        EXPECT_EQ(i, n);
      }
    }
    EXPECT_EQ(failures, 1);
  }
}

// Files, mappings and searches are counted while open, whichever way they
// end: a close the system refuses still releases the handle.
TEST(OpenHandleCount, FollowsFilesMappingsAndSearches) {
  TempDir dir;
  const std::string path = dir / "counted.bin";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string(4096, 'x')));
  const std::int64_t before = OpenHandleCount();
  Handle file = OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting);
  ASSERT_NE(file, kInvalidHandle);
  EXPECT_EQ(OpenHandleCount(), before + 1);
  {
    FileMapping mapping;
    ASSERT_TRUE(mapping.Map(file, 4096));
    EXPECT_EQ(OpenHandleCount(), before + 2);
    FindData<char> found;
    const SearchHandle search = FindFirst((dir / "*").c_str(), &found);
    ASSERT_NE(search, kInvalidSearch);
    EXPECT_EQ(OpenHandleCount(), before + 3);
    EXPECT_TRUE(FindClose(search));
    EXPECT_EQ(OpenHandleCount(), before + 2);
  }
  EXPECT_EQ(OpenHandleCount(), before + 1);
  InjectFault(Operation::kCloseFile, 1, FaultKind::kFail);
  EXPECT_FALSE(CloseFile(file));
  ClearFaults();
  EXPECT_EQ(OpenHandleCount(), before);
  // A failed open counts nothing.
  EXPECT_EQ(OpenFile((dir / "missing.bin").c_str(), kAccessRead, kShareRead, kOpenExisting), kInvalidHandle);
  EXPECT_EQ(OpenHandleCount(), before);
}

}  // namespace
}  // namespace platform
