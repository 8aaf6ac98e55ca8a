#include "zip/format/stored_name.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "zip/format/name_codec.h"

namespace korbel {
namespace {

void Apply(const std::string& stored, ZipEntry* entry) {
  std::vector<std::uint8_t> bytes(stored.begin(), stored.end());
  ApplyStoredName(bytes.data(), bytes.size(), entry);
}

bool Matches(const std::string& stored, std::uint16_t flags, const ZipEntry& entry) {
  std::vector<std::uint8_t> bytes(stored.begin(), stored.end());
  return LocalNameMatches(bytes.data(), bytes.size(), flags, entry);
}

TEST(StoredNameTest, EmptyFolderNameLosesItsSlashAndBecomesAFolder) {
  ZipEntry entry;
  Apply("docs/", &entry);
  EXPECT_EQ(entry.name, "docs");
  EXPECT_EQ(entry.nameLength, 5);
  EXPECT_EQ(entry.externalAttributes, kEntryFolder);
}

TEST(StoredNameTest, SlashedNameWithDataKeepsItsAttributes) {
  ZipEntry entry;
  entry.uncompressedSize = 12;
  entry.externalAttributes = 0x20;
  Apply("odd/", &entry);
  EXPECT_EQ(entry.name, "odd");
  EXPECT_EQ(entry.externalAttributes, 0x20u);
}

TEST(StoredNameTest, PlainNameIsTakenAsDecoded) {
  ZipEntry entry;
  entry.flags = kFlagUtf8Name;
  Apply("src/a.c", &entry);
  EXPECT_EQ(entry.name, "src/a.c");
  EXPECT_EQ(entry.externalAttributes, 0u);
  // Decoded with the entry's flags: the sequence becomes one character.
  Apply("\xC3\x9C.c", &entry);
  std::string expected;
  const std::uint8_t stored[] = {0xC3, 0x9C, '.', 'c'};
  DecodeName(stored, sizeof stored, kFlagUtf8Name, &expected);
  EXPECT_EQ(entry.name, expected);
  EXPECT_EQ(entry.nameLength, 4);
}

TEST(StoredNameTest, FolderIsStoredWithTrailingSlash) {
  ZipEntry folder;
  folder.name = "docs/img";
  folder.externalAttributes = kEntryFolder;
  std::string stored;
  std::uint16_t flags = kFlagUtf8Name;
  EncodeStoredName(folder, &stored, &flags);
  EXPECT_EQ(stored, "docs/img/");
  EXPECT_EQ(flags, 0);

  ZipEntry file;
  file.name = "docs/img";
  EncodeStoredName(file, &stored, &flags);
  EXPECT_EQ(stored, "docs/img");
}

TEST(StoredNameTest, LocalNameIsComparedIgnoringCaseAndTrailingSlash) {
  ZipEntry entry;
  entry.name = "Src/Main.c";
  EXPECT_TRUE(Matches("Src/Main.c", 0, entry));
  EXPECT_TRUE(Matches("SRC/MAIN.C", 0, entry));
  EXPECT_TRUE(Matches("src/main.c/", 0, entry));
  EXPECT_FALSE(Matches("src/main.cc", 0, entry));
  EXPECT_FALSE(Matches("src/main.", 0, entry));
  EXPECT_FALSE(Matches("src\\main.c", 0, entry));
  EXPECT_FALSE(Matches("", 0, entry));

  ZipEntry folder;
  folder.name = "docs";
  EXPECT_TRUE(Matches("docs/", 0, folder));
  EXPECT_TRUE(Matches("docs", 0, folder));
}

TEST(StoredNameTest, LocalNameIsDecodedWithTheLocalFlags) {
  ZipEntry entry;
  entry.name = platform::NarrowIsUtf8() ? "\xC3\234bung" : "\334bung";
  // Without bit 11 the byte is the code page 850 letter; with it, not.
  EXPECT_TRUE(Matches("\232bung", 0, entry));
  EXPECT_FALSE(Matches("\232bung", kFlagUtf8Name, entry));
}

}  // namespace
}  // namespace korbel
