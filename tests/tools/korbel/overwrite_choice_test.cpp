#include "tools/korbel/overwrite_choice.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace korbel_tool {
namespace {

using Decision = OverwriteChoice::Decision;

// Answers from a list; no terminal once it is used up.
struct ScriptedAsker {
  std::vector<std::string> answers;
  std::vector<std::string> questions;
  bool operator()(const std::string& question, std::string* answer) {
    questions.push_back(question);
    if (answers.empty()) return false;
    *answer = answers.front();
    answers.erase(answers.begin());
    return true;
  }
};

TEST(OverwriteChoiceTest, RulesAndAnswers) {
  struct Case {
    OverwriteRule rule;
    std::vector<std::string> answers;
    std::vector<Decision> expected;  // for three files in a row
    std::size_t questions;
  } const cases[] = {
      {OverwriteRule::kAlways, {}, {Decision::kReplace, Decision::kReplace, Decision::kReplace}, 0},
      {OverwriteRule::kNever, {}, {Decision::kKeep, Decision::kKeep, Decision::kKeep}, 0},
      // No terminal: kept and reported, asked only once.
      {OverwriteRule::kAsk, {}, {Decision::kKeepUnasked, Decision::kKeepUnasked, Decision::kKeepUnasked}, 1},
      {OverwriteRule::kAsk, {"j", "n", "J"}, {Decision::kReplace, Decision::kKeep, Decision::kReplace}, 3},
      {OverwriteRule::kAsk, {"n", "a"}, {Decision::kKeep, Decision::kReplace, Decision::kReplace}, 2},
      {OverwriteRule::kAsk, {"ja", "Keine"}, {Decision::kReplace, Decision::kKeep, Decision::kKeep}, 2},
      // An answer it does not know is asked again.
      {OverwriteRule::kAsk,
       {"x", "", "n", "y", "k"},
       {Decision::kKeep, Decision::kReplace, Decision::kKeep},
       5},
      // The input ends after one answer: the rest is kept unasked.
      {OverwriteRule::kAsk, {"j"}, {Decision::kReplace, Decision::kKeepUnasked, Decision::kKeepUnasked}, 2},
  };
  for (const Case& c : cases) {
    ScriptedAsker asker{c.answers, {}};
    ScriptedAsker* seen = &asker;
    OverwriteChoice choice(c.rule, [seen](const std::string& q, std::string* a) { return (*seen)(q, a); });
    std::vector<Decision> decisions;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) decisions.push_back(choice.Decide(name));
    EXPECT_EQ(decisions, c.expected);
    EXPECT_EQ(asker.questions.size(), c.questions);
  }
}

TEST(OverwriteChoiceTest, QuestionNamesTheFileInUtf8) {
  ScriptedAsker asker{{"n"}, {}};
  OverwriteChoice choice(OverwriteRule::kAsk,
                         [&asker](const std::string& q, std::string* a) { return asker(q, a); });
  choice.Decide("Größe.txt");
  ASSERT_EQ(asker.questions.size(), 1u);
  EXPECT_EQ(asker.questions[0], "Größe.txt ist vorhanden. Ersetzen? [j]a, [n]ein, [a]lle, [k]eine: ");
}

TEST(OverwriteChoiceTest, FileHoldsEntryComparesSizeAndCrc) {
  testing_support::TempDir dir;
  const std::string path = dir / "f.txt";
  const std::string data = "the entry's bytes";
  ASSERT_TRUE(testing_support::WriteFile(path, data));
  const auto crc = static_cast<std::uint32_t>(
      ::crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  EXPECT_TRUE(FileHoldsEntry(path.c_str(), data.size(), crc));
  EXPECT_FALSE(FileHoldsEntry(path.c_str(), data.size(), crc ^ 1));
  EXPECT_FALSE(FileHoldsEntry(path.c_str(), data.size() + 1, crc));
  EXPECT_FALSE(FileHoldsEntry((dir / "missing").c_str(), 0, 0));
}

}  // namespace
}  // namespace korbel_tool
