// The independent readers that check the archives our code writes. A check
// whose reader is not installed never counts as passed: it marks the running
// test as skipped, and the test goes on with its own checks (a test that also
// fails is reported as failed).
#ifndef PAKKARO_TESTS_SUPPORT_INDEPENDENT_READERS_H
#define PAKKARO_TESTS_SUPPORT_INDEPENDENT_READERS_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace testing_support {

enum class Reader {
  kUnzip,     // unzip -tqq
  kSevenZip,  // 7zz t, which must also report no warnings
  kPython,    // zipfile.testzip()
  kBsdtar,    // bsdtar -tf - reading the archive from a pipe, front to back
};

// HaveTool, and when the tool is missing, the running test is marked
// skipped with a message naming it.
bool RequireTool(const std::string& name);

// The first of `names` the host cannot run; empty when it has them all.
std::string MissingTool(std::initializer_list<const char*> names);

// Ends the running test as skipped, naming the missing tool, unless the
// host has every tool named: for a test that cannot run without them.
#define PAKKARO_REQUIRE_TOOLS(...)                                                              \
  do {                                                                                          \
    const std::string pakkaroMissingTool = ::testing_support::MissingTool({__VA_ARGS__});       \
    if (!pakkaroMissingTool.empty()) GTEST_SKIP() << pakkaroMissingTool << " is not installed"; \
  } while (0)

// Each reader tests the archive; the result names every reader that refused
// it, with its output. A missing reader marks the test skipped.
::testing::AssertionResult ReadersAccept(const std::string& path,
                                         std::initializer_list<Reader> readers = {
                                             Reader::kUnzip, Reader::kSevenZip, Reader::kPython});

// The same for an archive whose encrypted entries use AES under `password`:
// 7zz tests them with it; unzip, which has no AES, only lists the archive;
// Python's zipfile reads the entries that are not encrypted.
::testing::AssertionResult ReadersAccept(const std::string& path, std::initializer_list<Reader> readers,
                                         const std::string& password);

}  // namespace testing_support

#endif  // PAKKARO_TESTS_SUPPORT_INDEPENDENT_READERS_H
