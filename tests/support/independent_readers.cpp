#include "tests/support/independent_readers.h"

#include <set>

#include "tests/support/host_tools.h"

namespace testing_support {
namespace {

const char* ToolOf(Reader reader) {
  switch (reader) {
    case Reader::kUnzip:
      return "unzip";
    case Reader::kSevenZip:
      return "7zz";
    case Reader::kPython:
      return "python3";
    case Reader::kBsdtar:
      break;
  }
  return "bsdtar";
}

// The shell command that tests the archive at `quoted` with `reader`, and
// the label its refusal is reported under.
std::string CommandOf(Reader reader, const std::string& quoted, const std::string& password,
                      std::string* label) {
  switch (reader) {
    case Reader::kUnzip:
      *label = password.empty() ? "unzip -t" : "unzip -l";
      return (password.empty() ? "unzip -tqq " : "unzip -lqq ") + quoted + " 2>&1";
    case Reader::kSevenZip: {
      *label = "7zz t";
      const std::string withPassword = password.empty() ? "" : " -p" + Quote(password);
      // 7-Zip exits 0 on warnings such as "Headers Error"; only a clean test passes.
      return "out=$(7zz t" + withPassword + " " + quoted +
             " 2>&1); s=$?; echo \"$out\"; [ $s = 0 ] && "
             "echo \"$out\" | grep -q '^Everything is Ok' && ! echo \"$out\" | grep -qi 'warning' && "
             "! echo \"$out\" | grep -q 'Headers Error'";
    }
    case Reader::kPython:
      *label = "python3 zipfile";
      // zipfile compares each local name with the central one as it opens an entry.
      if (!password.empty()) {
        return "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
               "[z.open(i).close() for i in z.infolist() if not i.flag_bits & 1]' " +
               quoted + " 2>&1";
      }
      return "python3 -c 'import sys, zipfile; bad = zipfile.ZipFile(sys.argv[1]).testzip(); "
             "print(bad or \"\"); sys.exit(bad is not None)' " +
             quoted + " 2>&1";
    case Reader::kBsdtar:
      break;
  }
  *label = "bsdtar -tf -";
  // From a pipe, so only the local headers and data descriptors lead the way.
  return "bash -c " + Quote("set -o pipefail; cat " + quoted + " | bsdtar -tf - 2>&1 >/dev/null");
}

}  // namespace

bool RequireTool(const std::string& name) {
  if (HaveTool(name)) return true;
  // Once per test and tool: a sweep may ask thousands of times.
  static std::set<std::string> noted;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string key =
      (test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "") + "/" + name;
  if (noted.insert(key).second) {
    GTEST_MESSAGE_AT_(__FILE__, __LINE__, (name + " is not installed: its check did not run").c_str(),
                      ::testing::TestPartResult::kSkip);
  }
  return false;
}

std::string MissingTool(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (!HaveTool(name)) return name;
  }
  return "";
}

::testing::AssertionResult ReadersAccept(const std::string& path, std::initializer_list<Reader> readers) {
  return ReadersAccept(path, readers, "");
}

::testing::AssertionResult ReadersAccept(const std::string& path, std::initializer_list<Reader> readers,
                                         const std::string& password) {
  std::string refusals;
  for (Reader reader : readers) {
    if (!RequireTool(ToolOf(reader))) continue;
    std::string label;
    const std::string command = CommandOf(reader, Quote(path), password, &label);
    std::string output;
    if (RunCommand(command, &output) != 0) refusals += "\n" + label + " refused it:\n" + output;
  }
  if (refusals.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << refusals;
}

}  // namespace testing_support
