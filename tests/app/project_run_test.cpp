// The packing run on project paths of awkward lengths and forms: a path that
// does not fit its buffer is never cut and never overruns it (the run at 259
// characters once wrote one byte past the buffer; the sanitizer build catches
// that), and a bare project file name means the current folder.
#include "app/project_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/messages.h"
#include "fs/console.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"
#include "zip/korbel.h"

namespace pakkaro {
namespace {

namespace stdfs = std::filesystem;
using testing_support::TempDir;

struct RunResult {
  int status;
  std::string console;
};

RunResult RunPakkaro(const std::string& capture, std::vector<std::string> arguments) {
  platform::FileCloser file(platform::OpenFile(capture.c_str(), platform::kAccessWrite, platform::kShareRead,
                                               platform::kCreateAlways));
  const platform::Handle previous = fs::SetConsoleOutput(file.Get());
  arguments.insert(arguments.begin(), "pakkaro");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  const int status = RunProject(static_cast<int>(argv.size()), argv.data());
  fs::SetConsoleOutput(previous);
  file.Reset();
  const testing_support::Bytes text = testing_support::ReadFile(capture);
  return RunResult{status, std::string(text.begin(), text.end())};
}

std::set<std::string> EntryNames(const std::string& archivePath) {
  korbel::Korbel reader;
  std::set<std::string> names;
  if (reader.Open(archivePath.c_str(), korbel::kReadOnly, 9) != korbel::kOk) return names;
  for (int i = 0; i < reader.EntryCount(); ++i) names.insert(reader.EntryName(i));
  return names;
}

// Every file below `folder`, relative; false when the listing failed (the
// Windows build's own tools cannot list folders past MAX_PATH).
bool FilesBelow(const std::string& folder, std::set<std::string>* files) {
  files->clear();
  std::error_code error;
  stdfs::recursive_directory_iterator item(folder, error);
  for (; !error && item != stdfs::recursive_directory_iterator(); item.increment(error)) {
    if (item->is_regular_file()) files->insert(stdfs::relative(item->path(), folder).generic_string());
  }
  return !error;
}

TEST(ProjectRunPaths, ProjectFoldersAroundTheBufferEnd) {
  TempDir other;
  const std::string capture = other / "console.txt";
  struct Case {
    std::size_t length;    // characters of the project folder's full path
    bool explicitArchive;  // an archive path of its own, outside the folder
    int status;
    const char* message;
  };
  const Case cases[] = {
      // The folder and its separator fit; the archive is placed elsewhere.
      {258, true, kExitPacked, nullptr},
      // The default archive name does not fit beside the folder.
      {258, false, kExitFailed, "konnte nicht erzeugt werden"},
      // No place for the separator behind the folder.
      {259, true, kExitFailed, kAddFailed},
      {259, false, kExitFailed, kAddFailed},
      // The argument itself does not fit: its cut form is not the project.
      {260, true, kExitFailed, "wurde nicht gefunden"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.length) + (c.explicitArchive ? " with an archive path" : ""));
    TempDir box;
    const std::string base = box.Path() + "/";
    ASSERT_LT(base.size() + 2, c.length);
    std::string folder = base;
    while (c.length - folder.size() > 200) folder += std::string(150, 'p') + "/";
    folder += std::string(c.length - folder.size(), 'q');
    ASSERT_EQ(folder.size(), c.length);
    std::error_code error;
    stdfs::create_directories(folder, error);
    if (error || !testing_support::WriteFile(folder + "/a.c", std::string("int a;"))) {
      GTEST_SKIP() << "no folder of " << c.length << " characters here";
    }
    const std::string archive = other / "out.zip";
    stdfs::remove(archive);
    std::vector<std::string> arguments = {folder};
    if (c.explicitArchive) arguments.push_back(archive);
    const RunResult result = RunPakkaro(capture, arguments);
    EXPECT_EQ(result.status, c.status);
    if (c.message != nullptr) {
      EXPECT_NE(result.console.find(c.message), std::string::npos) << result.console;
    }
    // Nothing but the project's own file below the box, whatever happened.
    std::set<std::string> files;
    if (FilesBelow(box.Path(), &files) || testing_support::IsPosixBuild()) {
      EXPECT_EQ(files.size(), 1u);
    }
    if (c.status == kExitPacked) {
      EXPECT_EQ(EntryNames(archive), (std::set<std::string>{"a.c"}));
    } else {
      EXPECT_FALSE(stdfs::exists(archive));
    }
  }
}

TEST(ProjectRunPaths, BareProjectFileNamePacksTheCurrentFolder) {
  TempDir box;
  const std::string project = box / "App";
  ASSERT_TRUE(testing_support::WriteFile(project + "/App.dsp", std::string("project")));
  ASSERT_TRUE(testing_support::WriteFile(project + "/src/app.c", std::string("int main;")));
  const std::string capture = box / "console.txt";
  const stdfs::path before = stdfs::current_path();
  stdfs::current_path(project);
  const RunResult result = RunPakkaro(capture, {"App.dsp"});
  stdfs::current_path(before);
  EXPECT_EQ(result.status, kExitPacked) << result.console;
  EXPECT_NE(result.console.find("Es wurden 2 Datei ein eingefuegt!"), std::string::npos) << result.console;
  EXPECT_EQ(EntryNames(project + "/App.zip"), (std::set<std::string>{"App.dsp", "src/app.c"}));
  std::set<std::string> files;
  EXPECT_TRUE(FilesBelow(project, &files));
  EXPECT_EQ(files, (std::set<std::string>{"App.dsp", "App.zip", "src/app.c"}));
}

}  // namespace
}  // namespace pakkaro
