#include "tools/korbel/tool_texts.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace korbel_tool {
namespace {

TEST(ToolTextsTest, CountsArePluralCorrect) {
  struct Case {
    long long count;
    const char* entries;
    const char* files;
  } const cases[] = {
      {0, "0 Einträge", "0 Dateien"},
      {1, "1 Eintrag", "1 Datei"},
      {2, "2 Einträge", "2 Dateien"},
      {1000001, "1000001 Einträge", "1000001 Dateien"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Windows1252ToUtf8(Entries(c.count)), c.entries);
    EXPECT_EQ(platform::Windows1252ToUtf8(Files(c.count)), c.files);
  }
  EXPECT_EQ(platform::Windows1252ToUtf8(TestSummary(1, 0)), "1 Eintrag geprüft, 0 fehlerhaft");
  EXPECT_EQ(platform::Windows1252ToUtf8(TestSummary(5, 2)), "5 Einträge geprüft, 2 fehlerhaft");
}

// The engine's words (Windows-1252) around a name (UTF-8): each part as the
// console wants it.
TEST(ToolTextsTest, EngineTextConvertsEachPart) {
  const std::string text = "\nBei Datei : /tmp/Gr\xC3\xB6\xC3\237e.zip\nFehler beim \326ffnen der Datei !";
  const std::string shown = EngineText(text);
  if (platform::MessageText("\xD6") == "\xD6") {
    // Windows: all in Windows-1252.
    EXPECT_EQ(shown, "\nBei Datei : /tmp/Gr\xF6\337e.zip\nFehler beim \326ffnen der Datei !");
  } else {
    EXPECT_EQ(shown, "\nBei Datei : /tmp/Größe.zip\nFehler beim Öffnen der Datei !");
  }
}

}  // namespace
}  // namespace korbel_tool
