// The packing run under injected faults: every file operation of a run on a
// small project fails once at each of its calls, and the run must still end
// honestly: a failure status with its message, or an archive that holds
// exactly what the message counts, byte for byte; never a readable archive
// with data missing or wrong, never a touched source file, never a handle
// left open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/project_run.h"
#include "fs/console.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tests/support/test_support.h"
#include "tests/zip/fault_sweep.h"

namespace pakkaro {
namespace {

using fault_sweep::Files;
using fault_sweep::Tree;
using testing_support::Bytes;
using testing_support::TempDir;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class ProjectRunFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_ = root_ / "Proj";
    out_ = root_ / "out";
    ASSERT_TRUE(std::filesystem::create_directories(out_));
    // An empty file, a file stored by its extension (a zip of its own, whose
    // end record must never pass for the outer archive's), one that does not
    // compress, a subfolder two deep, and a build product that stays out.
    const archive_builder::Archive inner =
        archive_builder::Build({archive_builder::Stored("inner.txt", "inner data")});
    expected_ = {
        {"main.cpp", testing_support::TextBytes(20000)},
        {"readme.txt", testing_support::TextBytes(300)},
        {"empty.txt", Bytes()},
        {"lib.zip", inner.bytes},
        {"src/util.cpp", testing_support::TextBytes(5000)},
        {"src/res/icon.bin", testing_support::RandomBytes(3000, 7)},
    };
    for (const auto& file : expected_)
      ASSERT_TRUE(testing_support::WriteFile(project_ + "/" + file.first, file.second));
    ASSERT_TRUE(testing_support::WriteFile(project_ + "/build.obj", testing_support::TextBytes(100)));
    source_ = Tree(project_);
    archive_ = out_ + "/Proj.zip";
    capturePath_ = root_ / "console.txt";
  }

  // Runs the program on the project with the console going to a fresh file;
  // `arm` runs just before the program, after the test's own file calls.
  int Run(const std::function<void()>& arm = nullptr) {
    std::filesystem::remove(archive_);
    platform::FileCloser capture(platform::OpenFile(capturePath_.c_str(), platform::kAccessWrite,
                                                    platform::kShareRead, platform::kCreateAlways));
    const platform::Handle previous = fs::SetConsoleOutput(capture.Get());
    openBefore_ = platform::OpenHandleCount();
    if (arm) arm();
    std::string program = "pakkaro";
    std::vector<char*> argv = {&program[0], &project_[0], &archive_[0]};
    const int status = RunProject(static_cast<int>(argv.size()), argv.data());
    counts_.clear();
    for (const auto& row : fault_sweep::FaultTable()) counts_[row.op] = platform::CallCount(row.op);
    platform::ClearFaults();
    openAfter_ = platform::OpenHandleCount();
    fs::SetConsoleOutput(previous);
    return status;
  }

  std::string Console() const { return Text(testing_support::ReadFile(capturePath_)); }

  TempDir root_;
  std::string project_;
  std::string out_;
  std::string archive_;
  std::string capturePath_;
  Files expected_;
  Files source_;
  std::int64_t openBefore_ = 0;
  std::int64_t openAfter_ = 0;
  std::map<platform::Operation, std::uint32_t> counts_;
};

TEST_F(ProjectRunFaultTest, EveryFaultEndsInAnHonestResult) {
  ASSERT_EQ(Run(), kExitPacked);
  ASSERT_EQ(fault_sweep::ReadArchive(archive_).files, expected_);
  ASSERT_EQ(Run([] { platform::CountCalls(); }), kExitPacked);
  const auto counts = counts_;
  // The last writes of a run are the console's: a fault there loses the
  // message, and only the message.
  std::uint32_t consoleWrites = 0;
  {
    platform::FileCloser capture(platform::OpenFile(capturePath_.c_str(), platform::kAccessWrite,
                                                    platform::kShareRead, platform::kCreateAlways));
    const platform::Handle previous = fs::SetConsoleOutput(capture.Get());
    platform::CountCalls();
    fs::ConsolePrint(kPacked, 6);
    consoleWrites = platform::CallCount(platform::Operation::kWriteFile);
    platform::ClearFaults();
    fs::SetConsoleOutput(previous);
  }
  const std::uint32_t archiveWrites = counts.at(platform::Operation::kWriteFile) - consoleWrites;
  // At least one read for each of the five files that hold data (a file is
  // read no further than its size at the open, so no read finds its end).
  ASSERT_GE(counts.at(platform::Operation::kReadFile), 5u);
  ASSERT_GT(archiveWrites, 6u);

  // Under the Windows build (run through Wine) every file call is slow: a
  // spread of the indexes there, all of them natively.
  const std::uint32_t stride = testing_support::IsPosixBuild() ? 1 : 3;
  const auto cases = fault_sweep::Cases(counts, stride);
  int failures = 0;
  int absorbed = 0;
  int checkedIndependently = 0;
  int packed = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fault_sweep::Case& c = cases[i];
    const int status = Run([&c] { platform::InjectFault(c.op, static_cast<int>(c.call), c.kind); });
    SCOPED_TRACE(c.where);
    ASSERT_TRUE(status == kExitPacked || status == kExitFailed) << status;
    EXPECT_EQ(openAfter_, openBefore_) << "handles left open";
    EXPECT_EQ(Tree(project_), source_) << "the project folder changed";
    std::vector<std::string> outFiles;
    for (const auto& item : std::filesystem::directory_iterator(out_)) {
      outFiles.push_back(item.path().filename().string());
    }
    EXPECT_TRUE(outFiles.empty() || outFiles == std::vector<std::string>{"Proj.zip"}) << outFiles.front();

    const bool consoleFault = c.op == platform::Operation::kWriteFile && c.call > archiveWrites;
    const std::string console = Console();
    const bool exists = testing_support::FileExists(archive_);
    const fault_sweep::ReadBack back = exists ? fault_sweep::ReadArchive(archive_) : fault_sweep::ReadBack{};
    const bool readable = exists && back.openResult == korbel::kOk;
    if (status == kExitFailed) {
      ++failures;
      if (!consoleFault) {
        EXPECT_TRUE(console.find(kAddFailed) != std::string::npos ||
                    console.find("konnte nicht erzeugt werden") != std::string::npos)
            << console;
      }
      // A failed run may leave a complete archive behind (the fault hit
      // after the last byte), never a partial one that reads as valid.
      if (readable) {
        EXPECT_TRUE(back.unreadable.empty());
        EXPECT_EQ(back.files, expected_) << fault_sweep::Names(back.files);
      }
      continue;
    }
    ASSERT_TRUE(readable) << "packed, but the reader refuses the archive: " << back.openResult;
    EXPECT_TRUE(back.unreadable.empty());
    EXPECT_TRUE(fault_sweep::EveryFileExact(back.files, expected_)) << fault_sweep::Names(back.files);
    if (back.files.size() < expected_.size()) {
      // Only a source that could not be read may be left out, and the count
      // printed must be what the archive holds.
      ++absorbed;
      EXPECT_TRUE(c.op == platform::Operation::kOpenFile || c.op == platform::Operation::kReadFile ||
                  c.op == platform::Operation::kSeekFile);
    }
    if (!consoleFault) {
      const std::string message = "Es wurden " + std::to_string(back.files.size()) + " Datei";
      EXPECT_NE(console.find(message), std::string::npos) << console;
    }
    // The independent readers take a process start each: a sample of the
    // runs that packed, the first among them.
    if (packed++ % 24 == 0) {
      ++checkedIndependently;
      EXPECT_TRUE(fault_sweep::IndependentReadersAccept(archive_));
    }
  }
  // The sweep must have driven both ways out, or it tested nothing.
  EXPECT_GT(failures, 0);
  EXPECT_GT(absorbed, 0);
  EXPECT_GT(checkedIndependently, 0);
  RecordProperty("cases", static_cast<int>(cases.size()));
  std::printf("%zu cases, %d failed runs, %d with a source left out\n", cases.size(), failures, absorbed);
}

}  // namespace
}  // namespace pakkaro
