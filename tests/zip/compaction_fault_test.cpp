// Compaction under injected faults: opening an archive for changes,
// deleting entries and closing it (the data behind the gaps moves down, the
// directory is rewritten) with one platform call failing at a time. The
// archive must end either as it was or compacted, every entry byte for byte,
// in our reader and in the independent ones; an archive no reader opens is a
// failure too.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/fault_injection.h"
#include "tests/support/test_support.h"
#include "tests/zip/fault_sweep.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using fault_sweep::Files;
using testing_support::Bytes;
using testing_support::TempDir;

class CompactionFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    before_ = {
        {"a.txt", testing_support::TextBytes(30000)},
        {"b.bin", testing_support::RandomBytes(20000, 3)},
        {"c.txt", testing_support::TextBytes(5000)},
        {"d/e.txt", testing_support::TextBytes(10000)},
        {"f.txt", Bytes()},
        {"g.txt", testing_support::TextBytes(2000)},
    };
    pristinePath_ = dir_ / "pristine.zip";
    fault_sweep::PackTree(before_, source_, pristinePath_);
    pristine_ = testing_support::ReadFile(pristinePath_);
    after_ = before_;
    after_.erase("a.txt");
    after_.erase("c.txt");
    path_ = dir_ / "work.zip";
  }

  // A fresh copy of the archive, opened to read and switched to changes,
  // loses its first and a middle entry; with `addFirst` an entry written at
  // once comes before, so the archive is already copied whole when the
  // compaction moves the data inside the copy.
  int DeleteAndClose(std::int64_t* openAfter, bool addFirst = false) {
    Korbel archive;
    int result = archive.Open(path_.c_str(), kReadOnly, 9);
    if (result == kOk) result = archive.SwitchMode(kModify);
    if (result == kOk && addFirst) {
      // A failed add still ends with the close, which keeps the archive.
      result = archive.AddFromMemory("z.txt", "added first", 11, nullptr);
      if (result != kOk) archive.Close();
    }
    if (result == kOk) {
      for (const char* name : {"a.txt", "c.txt"}) {
        const int index = archive.FindEntry(name);
        if (index < 0 || archive.DeleteEntry(index) != kOk) result = kInternalError;
      }
      const int closed = archive.Close();
      if (result == kOk) result = closed;
    }
    *openAfter = platform::OpenHandleCount();
    return result;
  }

  TempDir dir_;
  TempDir source_;
  std::string pristinePath_;
  std::string path_;
  Bytes pristine_;
  Files before_;
  Files after_;
};

// The entries that stay are copied from the archive to their new places in
// the replacement; or, after an add, moved inside the copy: in a mapping of
// the file, or with the mapping refused piece by piece through reads and
// writes.
enum class MoveKind { kCopiedFromTheArchive, kInsideMapping, kPieceByPiece };

class CompactionFaultSweep : public CompactionFaultTest, public ::testing::WithParamInterface<MoveKind> {};

TEST_P(CompactionFaultSweep, EveryFaultLeavesTheOldOrTheNewArchiveWhole) {
  const bool pieceByPiece = GetParam() == MoveKind::kPieceByPiece;
  const bool addFirst = GetParam() != MoveKind::kCopiedFromTheArchive;
  const std::string added = "added first";
  if (addFirst) after_["z.txt"] = Bytes(added.begin(), added.end());
  auto refuseMapping = [pieceByPiece] {
    if (pieceByPiece) platform::InjectFault(platform::Operation::kFileMapping, 1, platform::FaultKind::kFail);
  };
  std::int64_t openAfter = 0;
  const std::int64_t openBefore = platform::OpenHandleCount();
  ASSERT_TRUE(testing_support::WriteFile(path_, pristine_));
  const auto counts = fault_sweep::CountCalls([&] {
    refuseMapping();
    EXPECT_EQ(DeleteAndClose(&openAfter, addFirst), kOk);
  });
  ASSERT_EQ(fault_sweep::ReadArchive(path_).files, after_);
  ASSERT_EQ(counts.at(platform::Operation::kFileMapping), addFirst ? 1u : 0u);

  const auto cases = fault_sweep::Cases(counts);
  int failed = 0, unchanged = 0, compacted = 0, unreadable = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const fault_sweep::Case& c = cases[i];
    if (pieceByPiece && c.op == platform::Operation::kFileMapping) continue;
    SCOPED_TRACE(c.where);
    ASSERT_TRUE(testing_support::WriteFile(path_, pristine_));
    int result;
    {
      fault_sweep::ArmedFault armed(c);
      refuseMapping();
      result = DeleteAndClose(&openAfter, addFirst);
    }
    EXPECT_EQ(openAfter, openBefore) << "handles left open";
    if (result != kOk) ++failed;
    const fault_sweep::ReadBack back = fault_sweep::ReadArchive(path_);
    if (back.openResult != kOk) {
      ++unreadable;
      ADD_FAILURE() << "the reader refuses the archive: " << back.openResult << ", close gave " << result;
      continue;
    }
    EXPECT_TRUE(back.unreadable.empty()) << back.unreadable.front();
    if (result == kOk) {
      EXPECT_EQ(back.files, after_) << fault_sweep::Names(back.files);
    } else {
      // The archive file is never written in place: a failed change leaves
      // it byte for byte.
      EXPECT_EQ(testing_support::ReadFile(path_), pristine_) << "the old archive changed";
    }
    if (back.files == after_) {
      ++compacted;
    } else if (back.files == before_) {
      ++unchanged;
    }
    if (result != kOk || i % 24 == 0) {
      EXPECT_TRUE(fault_sweep::IndependentReadersAccept(path_));
    }
  }
  EXPECT_EQ(unreadable, 0);
  EXPECT_GT(failed, 0);
  EXPECT_GT(compacted, 0);
  std::printf("%zu cases: %d failed, %d unchanged, %d compacted, %d unreadable\n", cases.size(), failed,
              unchanged, compacted, unreadable);
}

// Going back to reading closes the written file and opens it again: a close
// the system refuses there is a write failure, and the archive is closed.
TEST_F(CompactionFaultTest, RefusedCloseWhenSwitchingBackToReadingIsAWriteError) {
  ASSERT_TRUE(testing_support::WriteFile(path_, pristine_));
  const std::int64_t openBefore = platform::OpenHandleCount();
  Korbel archive;
  ASSERT_EQ(archive.Open(path_.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(archive.SwitchMode(kModify), kOk);
  ASSERT_EQ(archive.DeleteEntry(archive.FindEntry("a.txt")), kOk);
  {
    // The first close is of the archive as it was read; the second finishes
    // the new file.
    fault_sweep::ArmedFault armed(
        {platform::Operation::kCloseFile, 2, platform::FaultKind::kFail, "close 2"});
    EXPECT_EQ(archive.SwitchMode(kReadOnly), kWriteError);
  }
  EXPECT_EQ(archive.Mode(), kClosed);
  EXPECT_EQ(platform::OpenHandleCount(), openBefore);
}

INSTANTIATE_TEST_SUITE_P(MoveKinds, CompactionFaultSweep,
                         ::testing::Values(MoveKind::kCopiedFromTheArchive, MoveKind::kInsideMapping,
                                           MoveKind::kPieceByPiece),
                         [](const ::testing::TestParamInfo<MoveKind>& paramInfo) {
                           switch (paramInfo.param) {
                             case MoveKind::kCopiedFromTheArchive:
                               return std::string("CopiedFromTheArchive");
                             case MoveKind::kInsideMapping:
                               return std::string("InsideMapping");
                             case MoveKind::kPieceByPiece:
                               return std::string("PieceByPiece");
                           }
                           return std::string("?");
                         });

}  // namespace
}  // namespace korbel
