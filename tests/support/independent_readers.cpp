#include "tests/support/independent_readers.h"

#include <set>

#include "tests/support/host_tools.h"

namespace testing_support {
namespace {

struct ReaderCommand {
  const char* tool;
  const char* label;
  std::string (*command)(const std::string& quotedPath);
};

const ReaderCommand& CommandOf(Reader reader) {
  static const ReaderCommand kUnzip{"unzip", "unzip -t",
                                    [](const std::string& p) { return "unzip -tqq " + p + " 2>&1"; }};
  static const ReaderCommand kSevenZip{
      "7zz", "7zz t", [](const std::string& p) {
        // 7-Zip exits 0 on warnings such as "Headers Error"; only a clean test passes.
        return "out=$(7zz t " + p + " 2>&1); s=$?; echo \"$out\"; [ $s = 0 ] && "
               "echo \"$out\" | grep -q '^Everything is Ok' && ! echo \"$out\" | grep -qi 'warning'";
      }};
  static const ReaderCommand kPython{
      "python3", "python3 zipfile", [](const std::string& p) {
        return "python3 -c 'import sys, zipfile; bad = zipfile.ZipFile(sys.argv[1]).testzip(); "
               "print(bad or \"\"); sys.exit(bad is not None)' " + p + " 2>&1";
      }};
  static const ReaderCommand kBsdtar{
      "bsdtar", "bsdtar -tf -", [](const std::string& p) {
        // From a pipe, so only the local headers and data descriptors lead the way.
        return "set -o pipefail; cat " + p + " | bsdtar -tf - 2>&1 >/dev/null";
      }};
  switch (reader) {
    case Reader::kUnzip: return kUnzip;
    case Reader::kSevenZip: return kSevenZip;
    case Reader::kPython: return kPython;
    case Reader::kBsdtar: break;
  }
  return kBsdtar;
}

}  // namespace

bool RequireTool(const std::string& name) {
  if (HaveTool(name)) return true;
  // Once per test and tool: a sweep may ask thousands of times.
  static std::set<std::string> noted;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string key = (test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "") +
                          "/" + name;
  if (noted.insert(key).second) {
    GTEST_MESSAGE_AT_(__FILE__, __LINE__, (name + " is not installed: its check did not run").c_str(),
                      ::testing::TestPartResult::kSkip);
  }
  return false;
}

::testing::AssertionResult ReadersAccept(const std::string& path, std::initializer_list<Reader> readers) {
  std::string refusals;
  for (Reader reader : readers) {
    const ReaderCommand& command = CommandOf(reader);
    if (!RequireTool(command.tool)) continue;
    std::string output;
    const std::string shell = reader == Reader::kBsdtar ? "bash -c " + Quote(command.command(Quote(path)))
                                                        : command.command(Quote(path));
    if (RunCommand(shell, &output) != 0) refusals += std::string("\n") + command.label + " refused it:\n" + output;
  }
  if (refusals.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << refusals;
}

}  // namespace testing_support
