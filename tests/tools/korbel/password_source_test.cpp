#include "tools/korbel/password_source.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korbel_tool {
namespace {

TEST(PasswordSourceTest, GivenAskedOrRefused) {
  struct Case {
    const char* given;
    bool terminal;
    bool ready;
    int questions;
    std::vector<std::string> installed;
  } const cases[] = {
      {"secret", true, true, 0, {"secret"}},  // -p: never asked
      {nullptr, true, true, 1, {"typed"}},    // asked once, for every entry
      {nullptr, false, false, 1, {}},         // no terminal: nothing tried
  };
  for (const Case& c : cases) {
    int questions = 0;
    std::vector<std::string> installed;
    std::string question;
    PasswordSource source(
        c.given,
        [&](const std::string& q, std::string* answer) {
          ++questions;
          question = q;
          *answer = "typed";
          return c.terminal;
        },
        [&](const std::string& password) { installed.push_back(password); });
    for (int entry = 0; entry < 3; ++entry) EXPECT_EQ(source.Ready("a.zip"), c.ready);
    EXPECT_EQ(questions, c.questions);
    EXPECT_EQ(installed, c.installed);
    if (questions > 0) {
      EXPECT_EQ(question, "Passwort für a.zip: ");
    }
  }
}

}  // namespace
}  // namespace korbel_tool
