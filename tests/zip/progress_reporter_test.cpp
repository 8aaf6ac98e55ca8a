#include "zip/progress_reporter.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korbel {
namespace {

// What the callback saw; the reporter passes a pointer to it as user data.
struct Calls {
  struct Call {
    int event;
    int entryIndex;
    ArchiveBase* archive;
    bool hasText;
    std::string text;
  };
  std::vector<Call> calls;
  int answer = 0;
};

int Record(std::uintptr_t userData, int event, int entryIndex, ArchiveBase* archive, const char* text) {
  Calls* calls = reinterpret_cast<Calls*>(userData);
  calls->calls.push_back({event, entryIndex, archive, text != nullptr, text ? text : ""});
  return calls->answer;
}

ArchiveBase* const kArchive = reinterpret_cast<ArchiveBase*>(std::uintptr_t{0x1000});

class ProgressReporterTest : public ::testing::Test {
 protected:
  void InstallRecorder() {
    ASSERT_TRUE(reporter_.Install(reinterpret_cast<std::uintptr_t>(&calls_), Record));
  }

  Calls calls_;
  ProgressReporter reporter_{kArchive};
};

TEST_F(ProgressReporterTest, NothingIsReportedWithoutACallback) {
  EXPECT_EQ(reporter_.eventMask(), 0u);
  EXPECT_EQ(reporter_.rawMask(), 0u);
  EXPECT_FALSE(reporter_.Wants(1));
  EXPECT_EQ(reporter_.Report(1, 0, "a"), 0);
  // A null callback installs nothing, even with every event enabled.
  EXPECT_FALSE(reporter_.Install(42, nullptr));
  EXPECT_FALSE(reporter_.Wants(1));
  EXPECT_EQ(reporter_.Report(1, 0, "a"), 0);
}

TEST_F(ProgressReporterTest, InstallingEnablesEveryEventWithText) {
  reporter_.SetRawMask(0xFF, 0);
  InstallRecorder();
  EXPECT_EQ(reporter_.eventMask(), 0xFFFFFFFFu);
  EXPECT_EQ(reporter_.rawMask(), 0u);
  EXPECT_EQ(reporter_.userData(), reinterpret_cast<std::uintptr_t>(&calls_));
  EXPECT_EQ(reporter_.callback(), &Record);
}

TEST_F(ProgressReporterTest, StatusLineReachesTheCallbackWithPartLengths) {
  InstallRecorder();
  calls_.answer = 1;
  EXPECT_EQ(reporter_.Report(1, 3, "src/a.c"), 1);  // the answer comes back
  ASSERT_EQ(calls_.calls.size(), 1u);
  EXPECT_EQ(calls_.calls[0].event, 1);
  EXPECT_EQ(calls_.calls[0].entryIndex, 3);
  EXPECT_EQ(calls_.calls[0].archive, kArchive);
  EXPECT_EQ(calls_.calls[0].text, "\nDatei: src/a.c gefunden.");
  EXPECT_EQ(reporter_.partLengths()[0], 8u);
  EXPECT_EQ(reporter_.partLengths()[1], 7u);
  EXPECT_EQ(reporter_.partLengths()[2], 11u);
}

TEST_F(ProgressReporterTest, RawEventGetsNullText) {
  InstallRecorder();
  reporter_.Report(1, 0, "src/a.c");
  EXPECT_EQ(reporter_.SetRawMask(7, 1), 0u);
  reporter_.Report(7, 2, "big.bin");
  reporter_.Report(6, 2, "big.bin");
  ASSERT_EQ(calls_.calls.size(), 3u);
  EXPECT_FALSE(calls_.calls[1].hasText);
  EXPECT_EQ(calls_.calls[1].event, 7);
  EXPECT_EQ(calls_.calls[1].entryIndex, 2);
  EXPECT_TRUE(calls_.calls[2].hasText);
  EXPECT_EQ(calls_.calls[2].text, "\nDatei: big.bin anh\xE4ngen.");
}

TEST_F(ProgressReporterTest, ErrorEventCarriesTheGivenText) {
  InstallRecorder();
  reporter_.Report(kErrorEvent, -1, "\nBei Datei : C:\\a.zip\nFehler beim Lesen der Datei !");
  ASSERT_EQ(calls_.calls.size(), 1u);
  EXPECT_EQ(calls_.calls[0].text, "\nBei Datei : C:\\a.zip\nFehler beim Lesen der Datei !");
  EXPECT_EQ(calls_.calls[0].entryIndex, -1);
}

TEST_F(ProgressReporterTest, DisabledEventsAreNotReported) {
  InstallRecorder();
  EXPECT_EQ(reporter_.Disable(7, false), 0xFFFFFFFFu);
  EXPECT_FALSE(reporter_.Wants(7));
  EXPECT_TRUE(reporter_.Wants(6));
  EXPECT_EQ(reporter_.Report(7, 0, "x"), 0);
  EXPECT_TRUE(calls_.calls.empty());
  EXPECT_EQ(reporter_.Enable(7, false), 0xFFFFFF7Fu);
  reporter_.Report(7, 0, "x");
  EXPECT_EQ(calls_.calls.size(), 1u);
}

TEST_F(ProgressReporterTest, MasksChangeBySingleIndexOrWholeMask) {
  InstallRecorder();
  EXPECT_EQ(reporter_.Disable(0xFFFFFFFFu, true), 0xFFFFFFFFu);
  EXPECT_EQ(reporter_.Enable(0x12, true), 0u);
  EXPECT_EQ(reporter_.Enable(0, false), 0x12u);
  EXPECT_EQ(reporter_.Disable(0x10, true), 0x13u);
  EXPECT_EQ(reporter_.eventMask(), 0x03u);
  // Indexes beyond the mask change nothing.
  EXPECT_EQ(reporter_.Enable(32, false), 0x03u);
  EXPECT_EQ(reporter_.Disable(40, false), 0x03u);
  EXPECT_EQ(reporter_.eventMask(), 0x03u);

  EXPECT_EQ(reporter_.SetRawMask(0x0F, 0), 0u);
  EXPECT_EQ(reporter_.SetRawMask(4, 1), 0x0Fu);
  EXPECT_EQ(reporter_.SetRawMask(0, 2), 0x1Fu);
  EXPECT_EQ(reporter_.SetRawMask(5, 3), 0x1Eu);  // unknown mode
  EXPECT_EQ(reporter_.SetRawMask(99, 1), 0x1Eu);
  EXPECT_EQ(reporter_.rawMask(), 0x1Eu);
}

TEST_F(ProgressReporterTest, EventsWithoutALineAreNotPassedOn) {
  InstallRecorder();
  EXPECT_EQ(reporter_.Report(18, 0, "x"), 0);
  EXPECT_EQ(reporter_.Report(-1, 0, "x"), 0);
  EXPECT_TRUE(calls_.calls.empty());
}

}  // namespace
}  // namespace korbel
