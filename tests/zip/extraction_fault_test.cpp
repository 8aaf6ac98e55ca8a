// Extraction under injected faults: opening an archive and extracting every
// entry into a fresh folder with one platform call failing at a time. Every
// entry that extraction reports as done must be on disk byte for byte, every
// other one must be counted as an error, the archive stays untouched, nothing
// appears outside the target folder and no handle stays open.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/fault_injection.h"
#include "tests/support/test_support.h"
#include "tests/zip/fault_sweep.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using fault_sweep::Files;
using fault_sweep::Tree;
using testing_support::Bytes;
using testing_support::TempDir;

struct Outcome {
  int openResult = kOk;
  int result = kOk;
  int errors = 0;
  Files processed;  // entries whose processing state says extracted, with their contents
  std::int64_t openAfter = 0;
};

class ExtractionFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {
        {"a.txt", testing_support::TextBytes(25000)},
        {"empty.txt", Bytes()},
        {"sub/b.bin", testing_support::RandomBytes(12000, 5)},
        {"sub/deep/c.txt", testing_support::TextBytes(3000)},
        {"z.7z", testing_support::RandomBytes(700, 9)},
    };
    path_ = dir_ / "archive.zip";
    fault_sweep::PackTree(files_, source_, path_);
    archiveBytes_ = testing_support::ReadFile(path_);
  }

  Outcome Extract(const std::string& target) {
    Outcome outcome;
    Korbel archive;
    outcome.openResult = archive.Open(path_.c_str(), kReadOnly, 9);
    if (outcome.openResult == kOk) {
      outcome.result = archive.ExtractAll(target.c_str(), &outcome.errors);
      for (int i = 0; i < archive.EntryCount(); ++i) {
        if (archive.ProcessingState(i) == kProcessed && !archive.IsFolder(i)) {
          const std::string name = archive.EntryName(i);
          outcome.processed[name] = testing_support::ReadFile(target + "/" + name);
        }
      }
      archive.Close();
    }
    outcome.openAfter = platform::OpenHandleCount();
    return outcome;
  }

  TempDir dir_;
  TempDir source_;
  std::string path_;
  Bytes archiveBytes_;
  Files files_;
};

TEST_F(ExtractionFaultTest, EveryEntryReportedDoneIsExactAndEveryOtherIsCounted) {
  const std::int64_t openBefore = platform::OpenHandleCount();
  const std::string clean = dir_ / "clean";
  Outcome outcome;
  const auto counts = fault_sweep::CountCalls([&] { outcome = Extract(clean); });
  ASSERT_EQ(outcome.result, kOk);
  ASSERT_EQ(Tree(clean), files_);
  ASSERT_GE(counts.at(platform::Operation::kCreateDirectory), 2u);

  const auto cases = fault_sweep::Cases(counts);
  int failedRuns = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fault_sweep::Case& c = cases[i];
    SCOPED_TRACE(c.where);
    // Each case extracts into a folder of its own inside `box`, so that
    // anything written beside the target shows up in `box`.
    TempDir box;
    const std::string target = box / "target";
    {
      fault_sweep::ArmedFault armed(c);
      outcome = Extract(target);
    }
    EXPECT_EQ(outcome.openAfter, openBefore) << "handles left open";
    EXPECT_EQ(testing_support::ReadFile(path_), archiveBytes_) << "the archive changed";
    for (const auto& item : std::filesystem::directory_iterator(box.Path())) {
      EXPECT_EQ(item.path().filename().string(), "target") << "written beside the target folder";
    }
    if (outcome.openResult != kOk) {
      ++failedRuns;
      EXPECT_FALSE(std::filesystem::exists(target));
      continue;
    }
    EXPECT_TRUE(fault_sweep::EveryFileExact(outcome.processed, files_))
        << fault_sweep::Names(outcome.processed);
    EXPECT_EQ(outcome.processed.size() + static_cast<std::size_t>(outcome.errors), files_.size())
        << "done: " << fault_sweep::Names(outcome.processed) << " errors: " << outcome.errors;
    // Only the archive's own close, the last one, is harmless to fail.
    if (c.op == platform::Operation::kCloseFile && c.call < counts.at(c.op)) {
      EXPECT_EQ(outcome.result, kFileWriteError);
    }
    if (outcome.result == kOk) {
      EXPECT_EQ(outcome.errors, 0);
      EXPECT_EQ(Tree(target), files_);
    } else {
      ++failedRuns;
      EXPECT_GT(outcome.errors, 0);
    }
  }
  EXPECT_GT(failedRuns, 0);
  std::printf("%zu cases, %d failed runs\n", cases.size(), failedRuns);
}

}  // namespace
}  // namespace korbel
