#include "zip/format/zip_entry.h"

#include <gtest/gtest.h>

namespace korbel {
namespace {

TEST(ZipEntryTest, NewEntryHasStatusZero) {
  ZipEntry entry;
  EXPECT_EQ(EntryStatus(entry), 0);
}

struct StatusCase {
  const char* what;
  void (*set)(ZipEntry*);
  std::uint8_t status;
};

TEST(ZipEntryTest, EachStateHasItsOwnStatusBit) {
  const StatusCase cases[] = {
      {"skipped", [](ZipEntry* e) { e->processingState = kSkippedOrPresent; }, 0x01},
      {"processed", [](ZipEntry* e) { e->processingState = kProcessed; }, 0x02},
      {"deleted", [](ZipEntry* e) { e->deleted = 1; }, 0x04},
      {"queued", [](ZipEntry* e) { e->queued = 1; }, 0x08},
      {"folder", [](ZipEntry* e) { e->externalAttributes = kEntryFolder; }, 0x10},
      {"read-only", [](ZipEntry* e) { e->externalAttributes = kEntryReadOnly; }, 0x20},
      {"written", [](ZipEntry* e) { e->written = 1; }, 0x40},
      // Other attribute bits (hidden, archive) do not show.
      {"hidden+archive", [](ZipEntry* e) { e->externalAttributes = 0x22; }, 0x00},
      // Only the two low bits of the processing state count.
      {"state 7", [](ZipEntry* e) { e->processingState = 7; }, 0x03},
  };
  for (const StatusCase& c : cases) {
    ZipEntry entry;
    c.set(&entry);
    EXPECT_EQ(EntryStatus(entry), c.status) << c.what;
  }
}

TEST(ZipEntryTest, StatusBitsCombine) {
  ZipEntry entry;
  entry.processingState = kProcessed;
  entry.queued = 1;
  entry.written = 1;
  entry.externalAttributes = kEntryFolder | kEntryReadOnly;
  EXPECT_EQ(EntryStatus(entry), 0x02 | 0x08 | 0x10 | 0x20 | 0x40);
}

TEST(ZipEntryTest, ValuesFrom0xFFFFFFFFOnGoToZip64) {
  EXPECT_FALSE(NeedsZip64(0xFFFFFFFEu));
  EXPECT_EQ(Field32(0xFFFFFFFEu), 0xFFFFFFFEu);
  EXPECT_TRUE(NeedsZip64(0xFFFFFFFFu));
  EXPECT_EQ(Field32(0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(Field32(0x100000000ull), 0xFFFFFFFFu);
  EXPECT_EQ(Field32(0x100000005ull), 0xFFFFFFFFu);  // not the low 32 bits
  EXPECT_EQ(Field32(0), 0u);
}

}  // namespace
}  // namespace korbel
