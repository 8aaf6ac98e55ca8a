// Opening the files whose data goes into an archive: regular files only, at
// any path length, and never a wait on a pipe or device.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::TempDir;

TEST(SourceFile, RegularFileOpensForReadingAndSharesReading) {
  TempDir dir;
  const std::string path = dir / "data.txt";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string("source data")));
  FileCloser file(OpenSourceFile(path.c_str()));
  ASSERT_NE(file.Get(), kInvalidHandle) << LastError();
  char buffer[32] = {};
  EXPECT_EQ(ReadFile(file.Get(), buffer, sizeof buffer), 11);
  EXPECT_STREQ(buffer, "source data");
  EXPECT_EQ(WriteFile(file.Get(), "x", 1), -1);
  // Another reader may open it meanwhile.
  FileCloser reader(OpenFile(path.c_str(), kAccessRead, kShareRead, kOpenExisting));
  EXPECT_NE(reader.Get(), kInvalidHandle);
}

TEST(SourceFile, RefusesWhatIsNotARegularFile) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string path;
    std::uint32_t error;
  };
  std::vector<Case> cases = {
      {"missing", dir / "missing.txt", kErrorFileNotFound},
      {"folder", dir.Path(), kErrorAccessDenied},
  };
  if (testing_support::IsPosixBuild()) {
    // A pipe without a writer would block a plain open for ever.
    ASSERT_EQ(testing_support::RunCommand("mkfifo " + testing_support::Quote(dir / "pipe")), 0);
    std::error_code error;
    std::filesystem::create_symlink("/dev/zero", dir / "zero", error);
    ASSERT_FALSE(error);
    cases.push_back({"pipe", dir / "pipe", kErrorAccessDenied});
    cases.push_back({"endless device behind a link", dir / "zero", kErrorAccessDenied});
    cases.push_back({"device", "/dev/null", kErrorAccessDenied});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(kErrorSuccess);
    FileCloser file(OpenSourceFile(c.path.c_str()));
    EXPECT_EQ(file.Get(), kInvalidHandle);
    EXPECT_EQ(LastError(), c.error);
  }
}

TEST(SourceFile, PathsBeyondMaxPathOpen) {
  TempDir dir;
  std::string path = dir.Path();
  const std::string part(100, 'q');
  while (path.size() < 400) path += "/" + part;
  path += "/long.txt";
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  if (error || !testing_support::WriteFile(path, std::string("far down"))) {
    GTEST_SKIP() << "the test's own tools make no path of " << path.size() << " characters here";
  }
  FileCloser file(OpenSourceFile(path.c_str()));
  ASSERT_NE(file.Get(), kInvalidHandle) << LastError();
  char buffer[16] = {};
  EXPECT_EQ(ReadFile(file.Get(), buffer, sizeof buffer), 8);
}

}  // namespace
}  // namespace platform
