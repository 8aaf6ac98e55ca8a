// The runner of the host's tools is the base of every independent check: its
// exit statuses, outputs and path conversion must be exact on both builds.
#include "tests/support/host_tools.h"

#include <gtest/gtest.h>

#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::HaveTool;
using testing_support::Quote;
using testing_support::RunCommand;

class HostToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("sh")) GTEST_SKIP() << "this build runs no programs of a host";
  }
};

TEST_F(HostToolsTest, ExitStatusesComeBackUnchanged) {
  for (int status : {0, 1, 3, 255}) {
    EXPECT_EQ(RunCommand("exit " + std::to_string(status)), status);
  }
  EXPECT_NE(RunCommand("no-such-program-of-the-host-7f3a >/dev/null 2>&1"), 0);
}

TEST_F(HostToolsTest, OutputIsCapturedByteForByte) {
  std::string output;
  ASSERT_EQ(RunCommand("printf 'line one\\nline\\ttwo\\n\\376'", &output), 0);
  EXPECT_EQ(output, "line one\nline\ttwo\n\xFE");
  ASSERT_EQ(RunCommand("echo to-stderr >&2; printf ''", &output), 0);
  EXPECT_EQ(output, "") << "standard error must not mix into the output";
}

TEST_F(HostToolsTest, MissingToolsAreNotFound) {
  EXPECT_FALSE(HaveTool("no-such-program-of-the-host-7f3a"));
  EXPECT_TRUE(HaveTool("sh"));
  // A skip names the first tool that is missing.
  EXPECT_EQ(testing_support::MissingTool({"sh", "no-such-program-of-the-host-7f3a", "no-such-b"}),
            "no-such-program-of-the-host-7f3a");
  EXPECT_EQ(testing_support::MissingTool({"sh"}), "");
}

// A file this build writes is the file the host's tools read, by its quoted name.
TEST_F(HostToolsTest, QuotedPathsNameTheSameFile) {
  testing_support::TempDir dir;
  const std::string path = dir / "it's here.txt";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string("seen from both sides")));
  std::string output;
  ASSERT_EQ(RunCommand("cat " + Quote(path), &output), 0);
  EXPECT_EQ(output, "seen from both sides");
  ASSERT_EQ(RunCommand("printf 'written by the host' > " + Quote(dir / "back.txt")), 0);
  const testing_support::Bytes back = testing_support::ReadFile(dir / "back.txt");
  EXPECT_EQ(std::string(back.begin(), back.end()), "written by the host");
}

}  // namespace
