// Names read from archives on the running system: on both builds they reach
// the platform as UTF-8, code page 850 names converted, UTF-8 names as
// stored, so that the file system gets every character.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zip/format/name_codec.h"
#include "zip/format/zip_constants.h"

namespace korbel {
namespace {

TEST(NameCodecSystemTest, StoredNamesBecomeUtf8OnEveryBuild) {
  struct Row {
    std::string stored;
    std::uint16_t flags;
    std::string narrow;
  };
  const std::vector<Row> rows = {
      {"plain.c", 0, "plain.c"},
      {"\x9Dre.txt", 0, "\xC3\x98re.txt"},  // code page 850: O with stroke
      {"\232bung.c", 0, "\xC3\234bung.c"},  // U umlaut, alike in 437 and 850
      {"\xE4\xB8\xAD.txt", kFlagUtf8Name, "\xE4\xB8\xAD.txt"},
      {"\xE6\x96\x87.txt", kFlagUtf8Name, "\xE6\x96\x87.txt"},
      {"\xD0\x96.txt", kFlagUtf8Name, "\xD0\x96.txt"},
      {"\xF0\x9F\x98\x80.txt", kFlagUtf8Name, "\xF0\x9F\x98\x80.txt"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.narrow);
    std::string narrow;
    DecodeName(reinterpret_cast<const std::uint8_t*>(row.stored.data()), row.stored.size(), row.flags,
               &narrow);
    EXPECT_EQ(narrow, row.narrow);
  }
}

}  // namespace
}  // namespace korbel
