#include "fs/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/platform.h"
#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::TempTree;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sends the console output into a file for the life of the object.
class CapturedOutput {
 public:
  explicit CapturedOutput(const std::string& path)
      : path_(path),
        file_(platform::OpenFile(path.c_str(), platform::kAccessWrite, platform::kShareRead,
                                 platform::kCreateAlways)) {
    previous_ = fs::SetConsoleOutput(file_.Get());
  }
  ~CapturedOutput() { fs::SetConsoleOutput(previous_); }
  bool Ok() const { return file_.Get() != platform::kInvalidHandle; }
  std::string Bytes() const { return ReadAll(path_); }

 private:
  std::string path_;
  platform::FileCloser file_;
  platform::Handle previous_ = platform::kInvalidHandle;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tree_.Ok()); }
  std::string OutputPath() { return tree_.Path("out" + std::to_string(++count_) + ".bin"); }

  TempTree tree_;
  int count_ = 0;
};

TEST_F(ConsoleTest, MessagesGoOutByteForByte) {
  const struct {
    std::string expected;
    int (*print)();
  } cases[] = {
      {"\n\n   Es wurden 12 Datei ein eingefuegt!\n\n",
       [] { return fs::ConsolePrint("\n\n   Es wurden %i Datei ein eingefuegt!\n\n", 12); }},
      {"\n\n   Es gab einen Fehler bein einf\xFCgen der Dateien!\n\n",
       [] { return fs::ConsolePrint("\n\n   Es gab einen Fehler bein einf\xFCgen der Dateien!\n\n"); }},
      {"\n\n   Der Pfad\n   'C:\\src\\App'\n   wurde nicht gefunden !\n\n",
       [] {
         return fs::ConsolePrint("\n\n   Der Pfad\n   '%s'\n   wurde nicht gefunden !\n\n", "C:\\src\\App");
       }},
      {"\n               -c      : Programm f\xFCr Explorer konfigurieren.\n\n",
       [] {
         return fs::ConsolePrint("\n               -c      : Programm f\xFCr Explorer konfigurieren.\n\n");
       }},
  };
  for (const auto& c : cases) {
    const std::string path = OutputPath();
    int written = 0;
    {
      CapturedOutput capture(path);
      ASSERT_TRUE(capture.Ok());
      written = c.print();
    }
    EXPECT_EQ(ReadAll(path), c.expected);
    EXPECT_EQ(written, static_cast<int>(c.expected.size()));
  }
}

TEST_F(ConsoleTest, ConversionsAsInPrintf) {
  const std::string path = OutputPath();
  int written = 0;
  {
    CapturedOutput capture(path);
    ASSERT_TRUE(capture.Ok());
    written =
        fs::ConsolePrint("%i|%d|%u|%x|%X|%o|%c|%%|%5s|%-5s|%.2s|%05d|%+d|%lld|%zu|%hd|%*d|%.3f|%s", -42, 7,
                         4000000000u, 255u, 255u, 8u, 'Q', "ab", "cd", "xyz", 42, 3, -9000000000ll,
                         static_cast<std::size_t>(99), 70000, 4, 7, 2.5, static_cast<const char*>(nullptr));
  }
  char expected[256];
  std::snprintf(expected, sizeof(expected),
                "%i|%d|%u|%x|%X|%o|%c|%%|%5s|%-5s|%.2s|%05d|%+d|%lld|%zu|%hd|%*d|%.3f|%s", -42, 7,
                4000000000u, 255u, 255u, 8u, 'Q', "ab", "cd", "xyz", 42, 3, -9000000000ll,
                static_cast<std::size_t>(99), static_cast<short>(70000), 4, 7, 2.5, "(null)");
  EXPECT_EQ(ReadAll(path), expected);
  EXPECT_EQ(written, static_cast<int>(std::string(expected).size()));
}

TEST_F(ConsoleTest, LongTextsInEveryPieceSize) {
  // Literal runs below and above 128 characters, pending output past 1124
  // and 2248 characters, and long %s arguments, checked against the C
  // library's formatting of the same format.
  std::string format;
  std::vector<std::string> arguments;
  for (int i = 0; i < 60; ++i) {
    format += std::string(static_cast<std::size_t>(i * 7 % 300), static_cast<char>('a' + i % 26));
    format += i % 3 == 0 ? "%s" : "%i";
  }
  format += std::string(3000, 'z');
  const std::string longArgument(10000, 'S');

  const std::string path = OutputPath();
  int written = 0;
  // Arguments alternate: every third conversion is %s.
  auto call = [&](auto&& print) {
    return print(format.c_str(), longArgument.c_str(), 1, 22, "s", 333, 4444, longArgument.c_str(), 5, 6, "",
                 7, 8, "x", 9, 10, longArgument.c_str(), 11, 12, "y", 13, 14, "z", 15, 16, "w", 17, 18, "v",
                 19, 20, "u", 21, 22, "t", 23, 24, "r", 25, 26, "q", 27, 28, "p", 29, 30, "o", 31, 32, "n",
                 33, 34, "m", 35, 36, "l", 37, 38, "k", 39, 40);
  };
  {
    CapturedOutput capture(path);
    ASSERT_TRUE(capture.Ok());
    written = call([](const char* f, auto... args) { return fs::ConsolePrint(f, args...); });
  }
  const int needed = call([](const char* f, auto... args) { return std::snprintf(nullptr, 0, f, args...); });
  std::vector<char> expected(static_cast<std::size_t>(needed) + 1);
  call([&](const char* f, auto... args) {
    return std::snprintf(expected.data(), expected.size(), f, args...);
  });
  const std::string bytes = ReadAll(path);
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(needed));
  EXPECT_EQ(bytes, std::string(expected.data()));
  EXPECT_EQ(written, needed);
}

TEST_F(ConsoleTest, EmptyFormatWritesNothing) {
  const std::string path = OutputPath();
  {
    CapturedOutput capture(path);
    ASSERT_TRUE(capture.Ok());
    EXPECT_EQ(fs::ConsolePrint(""), 0);
    EXPECT_EQ(fs::ConsolePrint(nullptr), 0);
    EXPECT_EQ(fs::ConsolePrintW(u""), 0);
  }
  EXPECT_EQ(ReadAll(path), "");
}

TEST_F(ConsoleTest, WideFormWritesLittleEndianUnits) {
  const std::string path = OutputPath();
  int written = 0;
  {
    CapturedOutput capture(path);
    ASSERT_TRUE(capture.Ok());
    written = fs::ConsolePrintW(u"x=%i %s%c\u20AC\n", 5, u"\u00FCber", u'!');
  }
  const std::u16string expected = u"x=5 \u00FCber!\u20AC\n";
  std::string bytes;
  for (const char16_t unit : expected) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  EXPECT_EQ(ReadAll(path), bytes);
  EXPECT_EQ(written, static_cast<int>(expected.size()));
}

TEST_F(ConsoleTest, UnusableOutputLosesTheTextSilently) {
  const platform::Handle previous = fs::SetConsoleOutput(platform::kInvalidHandle - 1000);
  EXPECT_EQ(fs::ConsolePrint("lost %i\n", 1), 0);
  fs::SetConsoleOutput(previous);
}

// The real standard output, redirected to a file: the same bytes, with no
// newline translation. Only where the standard output is descriptor 1.
TEST_F(ConsoleTest, RedirectedStandardOutput) {
  if (platform::LogicalDrives() != 0) GTEST_SKIP() << "standard output is not a descriptor here";
  const std::string path = OutputPath();
  std::fflush(stdout);
  const int saved = ::dup(1);
  ASSERT_GE(saved, 0);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ::dup2(::fileno(file), 1);
  const platform::Handle previous = fs::SetConsoleOutput(platform::kInvalidHandle);
  const int written = fs::ConsolePrint("\n\n   Es wurden %i Datei ein eingefuegt!\n\n", 0);
  const int second = fs::ConsolePrint("einf\xFCgen\n");
  fs::SetConsoleOutput(previous);
  ::dup2(saved, 1);
  ::close(saved);
  std::fclose(file);
  const std::string message = "\n\n   Es wurden 0 Datei ein eingefuegt!\n\n";
  EXPECT_EQ(ReadAll(path), message + "einf\xFCgen\n");
  EXPECT_EQ(written, static_cast<int>(message.size()));
  EXPECT_EQ(second, 9);
}

}  // namespace
