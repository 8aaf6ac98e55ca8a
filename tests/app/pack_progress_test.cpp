#include "app/pack_progress.h"

#include <gtest/gtest.h>

namespace pakkaro {
namespace {

TEST(PackProgressTest, LineFitsTheWidth) {
  constexpr std::uint64_t kMiB = 1024 * 1024;
  struct Case {
    std::uint64_t filesDone, filesAll, bytesDone, bytesAll;
    const char* name;
    int width;
    const char* line;
  } const cases[] = {
      {12, 1404, 13 * kMiB, 52 * kMiB, "src/a.c", 80, "12/1404 Dateien, 13,0/52,0 MB, 25 %: src/a.c"},
      {0, 0, 0, 0, "", 80, "0/0 Dateien, 0,0/0,0 MB, 100 %"},
      {1, 2, 0, 0, "x", 80, "1/2 Dateien, 0,0/0,0 MB, 50 %: x"},
      // The name loses its front, the figures stay.
      {1, 9, kMiB / 2, kMiB, "very/long/folder/name/file.c", 40, "1/9 Dateien, 0,5/1,0 MB, 50 %: ...ile.c"},
      // Too narrow for a name: the figures alone, cut to the width.
      {1, 9, 0, kMiB, "file.c", 20, "1/9 Dateien, 0,0/1,"},
      // Characters, not bytes, are counted; control characters never go out.
      {1, 1, 1, 1, "Größe\n\x1b[2J.txt", 80, "1/1 Dateien, 0,0/0,0 MB, 100 %: Größe??[2J.txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressLine(c.filesDone, c.filesAll, c.bytesDone, c.bytesAll, c.name, c.width), c.line);
  }
}

}  // namespace
}  // namespace pakkaro
