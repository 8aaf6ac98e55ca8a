// The POSIX build's registry file. The Windows build uses the system
// registry, so these tests skip there.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::WriteFile;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\n";

std::string Text(const testing_support::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::IsPosixBuild()) GTEST_SKIP() << "the Windows build uses the system registry";
    file_ = dir_ / "store/registry.reg";
    SetRegistryStorePath(file_.c_str());
  }
  void TearDown() override {
    ClearFaults();
    SetRegistryStorePath(nullptr);
  }

  // Makes the store read the file again, as a new process would.
  void Reopen() { SetRegistryStorePath(file_.c_str()); }

  static std::uint32_t Put(const std::string& path, const char* name, std::uint32_t type,
                           const std::string& data) {
    RegistryKey key = 0;
    std::uint32_t result = CreateRegistryKey(kCurrentUser, path.c_str(), kKeyAllAccess, &key);
    if (result != 0) return result;
    result = SetRegistryValue(key, name, type, data.data(), static_cast<std::uint32_t>(data.size()));
    CloseRegistryKey(key);
    return result;
  }

  // The value's type and bytes; false when the key or value is missing.
  static bool Get(const std::string& path, const char* name, std::uint32_t* type, std::string* data) {
    RegistryKey key = 0;
    if (OpenRegistryKey(kCurrentUser, path.c_str(), kKeyRead, &key) != 0) return false;
    char buffer[4096];
    std::uint32_t size = sizeof buffer;
    const bool found = QueryRegistryValue(key, name, type, buffer, &size) == 0;
    if (found) data->assign(buffer, size);
    CloseRegistryKey(key);
    return found;
  }

  testing_support::TempDir dir_;
  std::string file_;
};

// Every type and awkward text survives being written to the file and read
// back by a fresh store.
TEST_F(RegistryStoreTest, ValuesRoundTripThroughTheFile) {
  using std::string;
  const struct {
    const char* key;
    const char* name;
    std::uint32_t type;
    string data;
  } cases[] = {
      {"Software\\T", nullptr, kRegString, string("plain\0", 6)},
      {"Software\\T", "quoted \"name\" with \\", kRegString, string("say \"hi\" C:\\dir\\\0", 18)},
      {"Software\\T", "umlaut", kRegString, string("\326ffnen \xFC\0", 10)},
      {"Software\\T", "terminator added", kRegString, string("abc")},
      {"Software\\T", "two lines", kRegString, string("a\nb\0", 4)},
      {"Software\\T", "inner zero", kRegString, string("a\0b\0", 4)},
      {"Software\\T", "empty string", kRegString, string()},
      {"Software\\T", "carriage", kRegString, string("a\r\0", 3)},
      {"Software\\T", "binary", kRegBinary, string("\x00\xFF\x10", 3)},
      {"Software\\T", "dword", kRegDword, string("\x78\x56\x34\x12", 4)},
      {"Software\\T", "multi", kRegMultiString, string("a\0bc\0\0", 6)},
      {"Software\\T", "expand", kRegExpandString, string("%PATH%\0", 7)},
      {"Software\\T\\&Bearbeiten\\Command", nullptr, kRegString, string("\"x\" \"%1\"\0", 9)},
      {"Software\\T\\with ]bracket] and = sign", "=", kRegString, string("]\0", 2)},
      {"Software\\T\\[x]", "@", kRegString, string("@\0", 2)},
  };
  for (const auto& c : cases) ASSERT_EQ(Put(c.key, c.name, c.type, c.data), 0u) << c.name;
  Reopen();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(default)");
    std::uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(Get(c.key, c.name, &type, &data));
    EXPECT_EQ(type, c.type);
    // A string kept as text comes back with its terminator.
    const bool gainsTerminator = c.type == kRegString && c.data.find('\0') == std::string::npos;
    EXPECT_EQ(data, gainsTerminator ? c.data + '\0' : c.data);
  }
  const std::string text = Text(ReadFile(file_));
  EXPECT_EQ(text.compare(0, std::strlen(kHeader), kHeader), 0);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\T\\&Bearbeiten\\Command]\n@=\"\\\"x\\\" \\\"%1\\\"\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"terminator added\"=\"abc\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"empty string\"=\"\"\n"), std::string::npos) << text;
}

// Names compare without regard to ASCII case and keep the case they were
// created with.
TEST_F(RegistryStoreTest, NamesIgnoreCaseAndKeepIt) {
  ASSERT_EQ(Put("Software\\MixedCase", "Value", kRegString, std::string("x\0", 2)), 0u);
  Reopen();
  std::uint32_t type = 0;
  std::string data;
  EXPECT_TRUE(Get("SOFTWARE\\mixedcase", "VALUE", &type, &data));
  EXPECT_NE(Text(ReadFile(file_)).find("[HKEY_CURRENT_USER\\Software\\MixedCase]\n\"Value\"="),
            std::string::npos);
  // The key stack's delete: a key with sub-keys stays, a leaf goes.
  RegistryKey software = 0;
  ASSERT_EQ(OpenRegistryKey(kCurrentUser, "software", kKeyAllAccess, &software), 0u);
  EXPECT_EQ(DeleteRegistryKey(software, "mixedcase"), 0u);
  EXPECT_EQ(DeleteRegistryKey(software, "mixedcase"), static_cast<std::uint32_t>(kErrorFileNotFound));
  CloseRegistryKey(software);
}

TEST_F(RegistryStoreTest, SubKeysAreCountedAndEnumeratedInNameOrder) {
  for (const char* name : {"beta", "Alpha", "gamma"}) {
    ASSERT_EQ(Put(std::string("Software\\List\\") + name, "v", kRegDword, "1234"), 0u);
  }
  ASSERT_EQ(Put("Software\\List\\gamma\\inner", "v", kRegDword, "1234"), 0u);
  RegistryKey list = 0;
  ASSERT_EQ(OpenRegistryKey(kCurrentUser, "Software\\List", kKeyRead, &list), 0u);
  std::uint32_t count = 0;
  ASSERT_EQ(CountRegistrySubKeys(list, &count), 0u);
  EXPECT_EQ(count, 3u);
  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    char name[16];
    std::uint32_t length = sizeof name;
    const std::uint32_t result = EnumRegistryKey(list, index, name, &length);
    if (result == static_cast<std::uint32_t>(kErrorNoMoreItems)) break;
    ASSERT_EQ(result, 0u);
    EXPECT_EQ(length, std::strlen(name));
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  char tiny[5];
  std::uint32_t length = sizeof tiny;
  EXPECT_EQ(EnumRegistryKey(list, 0, tiny, &length), static_cast<std::uint32_t>(kErrorMoreData));
  EXPECT_EQ(DeleteRegistryKey(list, "gamma"), static_cast<std::uint32_t>(kErrorAccessDenied));
  CloseRegistryKey(list);
}

// A file in the registry-export format as another tool writes it: comments,
// CRLF line ends, dword: and hex: values.
TEST_F(RegistryStoreTest, ReadsAHandWrittenExportFile) {
  ASSERT_EQ(RunCommand("mkdir " + testing_support::Quote(dir_ / "store")), 0);
  ASSERT_TRUE(WriteFile(file_,
                        "Windows Registry Editor Version 5.00\r\n\r\n; made by hand\r\n"
                        "[HKEY_CLASSES_ROOT\\.dsp]\r\n@=\"dspfile\"\r\n\"Count\"=dword:0000002a\r\n"
                        "\"Blob\"=hex:01,ff\r\n"));
  Reopen();
  RegistryKey key = 0;
  ASSERT_EQ(OpenRegistryKey(kClassesRoot, ".DSP", kKeyRead, &key), 0u);
  char buffer[16];
  std::uint32_t type = 0, size = sizeof buffer;
  ASSERT_EQ(QueryRegistryValue(key, nullptr, &type, buffer, &size), 0u);
  EXPECT_EQ(std::string(buffer, size), std::string("dspfile\0", 8));
  size = sizeof buffer;
  ASSERT_EQ(QueryRegistryValue(key, "count", &type, buffer, &size), 0u);
  EXPECT_EQ(type, static_cast<std::uint32_t>(kRegDword));
  EXPECT_EQ(std::string(buffer, size), std::string("\x2a\0\0\0", 4));
  size = sizeof buffer;
  ASSERT_EQ(QueryRegistryValue(key, "Blob", &type, buffer, &size), 0u);
  EXPECT_EQ(type, static_cast<std::uint32_t>(kRegBinary));
  EXPECT_EQ(std::string(buffer, size), "\x01\xff");
  size = 3;
  EXPECT_EQ(QueryRegistryValue(key, nullptr, &type, buffer, &size),
            static_cast<std::uint32_t>(kErrorMoreData));
  EXPECT_EQ(size, 8u);
  CloseRegistryKey(key);
}

// A file that is not a registry file is never overwritten: every call is
// refused until it is repaired.
TEST_F(RegistryStoreTest, ForeignFileIsLeftAlone) {
  const char* contents[] = {
      "not a registry file\n",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"unterminated\n"};
  ASSERT_EQ(RunCommand("mkdir " + testing_support::Quote(dir_ / "store")), 0);
  for (const char* content : contents) {
    SCOPED_TRACE(content);
    ASSERT_TRUE(WriteFile(file_, content));
    Reopen();
    RegistryKey key = 0;
    EXPECT_EQ(OpenRegistryKey(kCurrentUser, "A", kKeyRead, &key),
              static_cast<std::uint32_t>(kErrorRegistryCorrupt));
    EXPECT_EQ(Put("Software\\New", "v", kRegString, "x"), static_cast<std::uint32_t>(kErrorRegistryCorrupt));
    EXPECT_EQ(Text(ReadFile(file_)), content);
  }
}

std::string Chain(std::size_t levels, const std::string& name) {
  std::string path = "HKEY_CURRENT_USER";
  for (std::size_t i = 0; i < levels; ++i) path += "\\" + name;
  return path;
}

// Files that break the limits of a Windows registry, or hold a section that
// names no key, are refused whole with one code, read in bounded time and
// memory (a key 40 000 levels deep once crashed the reader), and left as
// they are; what lies just inside the limits is read.
TEST_F(RegistryStoreTest, HostileFilesAreRefusedAndLimitsAreKept) {
  struct Case {
    const char* what;
    std::string body;  // behind the header line
    bool accepted;
  };
  const std::string header = "Windows Registry Editor Version 5.00\n";
  const Case cases[] = {
      {"40000 levels", "[" + Chain(40000, "a") + "]\n", false},
      {"513 levels", "[" + Chain(513, "a") + "]\n", false},
      {"512 levels", "[" + Chain(512, "a") + "]\n\"v\"=\"deep\"\n", true},
      {"key name of 256", "[" + Chain(1, std::string(256, 'k')) + "]\n", false},
      {"key name of 255", "[" + Chain(1, std::string(255, 'k')) + "]\n", true},
      {"only a separator", "[\\]\n\"v\"=\"x\"\n", false},
      {"leading separator", "[\\HKEY_CURRENT_USER\\A]\n", false},
      {"empty key name", "[HKEY_CURRENT_USER\\\\A]\n", false},
      {"trailing separator", "[HKEY_CURRENT_USER\\A\\]\n", false},
      {"empty section", "[]\n", false},
      {"value before any section", "\"v\"=\"x\"\n", false},
      {"larger than the store may be", "[HKEY_CURRENT_USER\\A]\n;" + std::string(17u << 20, 'x') + "\n",
       false},
  };
  ASSERT_EQ(RunCommand("mkdir " + testing_support::Quote(dir_ / "store")), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string content = header + c.body;
    ASSERT_TRUE(WriteFile(file_, content));
    Reopen();
    const std::uint32_t expected = c.accepted ? kErrorSuccess : kErrorRegistryCorrupt;
    std::uint32_t count = 0;
    EXPECT_EQ(CountRegistrySubKeys(kCurrentUser, &count), expected);
    EXPECT_EQ(Put("Software\\New", "v", kRegString, "x"), expected);
    if (!c.accepted) {
      EXPECT_EQ(Text(ReadFile(file_)), content);
    }
  }
  // The deepest key is there after the rewrite.
  ASSERT_TRUE(WriteFile(file_, header + "[" + Chain(512, "a") + "]\n\"v\"=\"deep\"\n"));
  Reopen();
  ASSERT_EQ(Put("Software\\New", "v", kRegString, "x"), 0u);
  Reopen();
  std::uint32_t type = 0;
  std::string data;
  EXPECT_TRUE(Get(Chain(512, "a").substr(std::strlen("HKEY_CURRENT_USER\\")), "v", &type, &data));
  EXPECT_EQ(data, std::string("deep\0", 5));
}

// The same limits hold for the keys a program opens or creates.
TEST_F(RegistryStoreTest, KeyPathsBeyondTheLimitsAreRefused) {
  struct Case {
    const char* what;
    std::string path;
    std::uint32_t result;
  };
  const std::string deep = Chain(512, "b").substr(std::strlen("HKEY_CURRENT_USER\\"));
  const Case cases[] = {
      {"512 levels", deep, kErrorSuccess},
      {"513 levels", deep + "\\b", kErrorInvalidParameter},
      {"name of 255", "Software\\" + std::string(255, 'n'), kErrorSuccess},
      {"name of 256", "Software\\" + std::string(256, 'n'), kErrorInvalidParameter},
      {"leading separator", "\\Software\\X", kErrorBadPathname},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegistryKey key = 0;
    EXPECT_EQ(CreateRegistryKey(kCurrentUser, c.path.c_str(), kKeyAllAccess, &key), c.result);
    if (c.result == kErrorSuccess) CloseRegistryKey(key);
  }
  // The open key counts as a level too.
  RegistryKey key = 0;
  ASSERT_EQ(OpenRegistryKey(kCurrentUser, deep.c_str(), kKeyAllAccess, &key), 0u);
  RegistryKey below = 0;
  EXPECT_EQ(CreateRegistryKey(key, "c", kKeyAllAccess, &below),
            static_cast<std::uint32_t>(kErrorInvalidParameter));
  CloseRegistryKey(key);
}

// A change whose file would be larger than a read takes is refused, and the
// file stays as it was: the store never writes what it could not read back.
TEST_F(RegistryStoreTest, AChangeBeyondTheFileLimitIsRefused) {
  ASSERT_EQ(Put("Software\\Kept", "v", kRegString, "1"), 0u);
  const std::string before = Text(ReadFile(file_));
  // 400 levels of 255 characters: every level's section repeats its path,
  // about 20 MiB in all.
  const std::string path = Chain(400, std::string(255, 'w')).substr(std::strlen("HKEY_CURRENT_USER\\"));
  RegistryKey key = 0;
  EXPECT_NE(CreateRegistryKey(kCurrentUser, path.c_str(), kKeyAllAccess, &key), 0u);
  EXPECT_EQ(Text(ReadFile(file_)), before);
  Reopen();
  std::uint32_t type = 0;
  std::string data;
  EXPECT_TRUE(Get("Software\\Kept", "v", &type, &data));
}

// A rewrite keeps the file's mode, and removes the temporary files that
// writers killed before their rename left behind, nothing else.
TEST_F(RegistryStoreTest, RewriteKeepsTheModeAndRemovesStaleTemporaries) {
  namespace stdfs = std::filesystem;
  ASSERT_EQ(Put("Software\\A", "v", kRegString, "1"), 0u);
  stdfs::permissions(file_, stdfs::perms::owner_read | stdfs::perms::owner_write);
  const std::string stale = file_ + ".Ab3xYz";
  const std::string other = file_ + ".backup1";
  ASSERT_TRUE(WriteFile(stale, std::string("half a tree")));
  ASSERT_TRUE(WriteFile(other, std::string("someone's copy")));
  ASSERT_EQ(Put("Software\\A", "v", kRegString, "2"), 0u);
  EXPECT_EQ(stdfs::status(file_).permissions() & stdfs::perms::all,
            stdfs::perms::owner_read | stdfs::perms::owner_write);
  EXPECT_FALSE(stdfs::exists(stale));
  EXPECT_TRUE(stdfs::exists(other));
  EXPECT_TRUE(stdfs::exists(file_ + ".lock"));
}

// Another process's change (a new file renamed into place) is seen by the
// next call, and our next change keeps it.
TEST_F(RegistryStoreTest, ChangesOfAnotherProcessAreSeen) {
  ASSERT_EQ(Put("Software\\Mine", "v", kRegString, std::string("1\0", 2)), 0u);
  const std::string other = dir_ / "other.reg";
  ASSERT_TRUE(
      WriteFile(other, Text(ReadFile(file_)) + "\n[HKEY_CURRENT_USER\\Software\\Theirs]\n\"v\"=\"2\"\n"));
  ASSERT_EQ(RunCommand("mv " + testing_support::Quote(other) + " " + testing_support::Quote(file_)), 0);
  ASSERT_EQ(Put("Software\\Mine", "w", kRegString, std::string("3\0", 2)), 0u);
  Reopen();
  std::uint32_t type = 0;
  std::string data;
  EXPECT_TRUE(Get("Software\\Theirs", "v", &type, &data));
  EXPECT_EQ(data, std::string("2\0", 2));
  EXPECT_TRUE(Get("Software\\Mine", "w", &type, &data));
}

// A write that fails between the temporary file and the rename leaves the
// file as it was, no temporary file behind, and the tree as in the file.
TEST_F(RegistryStoreTest, FailedWriteKeepsTheOldTree) {
  ASSERT_EQ(Put("Software\\Kept", "v", kRegString, std::string("old\0", 4)), 0u);
  const std::string before = Text(ReadFile(file_));
  for (FaultKind kind : {FaultKind::kShortWrite, FaultKind::kDiskFull}) {
    InjectFault(Operation::kWriteFile, 1, kind);
    EXPECT_NE(Put("Software\\Kept", "v", kRegString, std::string("new\0", 4)), 0u);
    // The fault is used up: the next change is written.
    EXPECT_EQ(Put("Software\\Kept\\Child", "v", kRegString, "x"), 0u);
    ClearFaults();
    std::string listing;
    ASSERT_EQ(RunCommand("ls -A " + testing_support::Quote(dir_ / "store"), &listing), 0);
    EXPECT_EQ(listing, "registry.reg\nregistry.reg.lock\n");
    std::uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(Get("Software\\Kept", "v", &type, &data));
    EXPECT_EQ(data, std::string("old\0", 4));
    RegistryKey key = 0;
    ASSERT_EQ(OpenRegistryKey(kCurrentUser, "Software\\Kept", kKeyAllAccess, &key), 0u);
    EXPECT_EQ(DeleteRegistryKey(key, "Child"), 0u);
    CloseRegistryKey(key);
    EXPECT_EQ(Text(ReadFile(file_)), before);
  }
}

// The writer half of the crash test: runs in a child process started by the
// test below, writing keys until it is killed.
TEST(RegistryStoreWriter, WritesUntilKilled) {
  const char* file = std::getenv("PAKKARO_REGISTRY_WRITER");
  const char* round = std::getenv("PAKKARO_REGISTRY_ROUND");
  if (file == nullptr || round == nullptr) GTEST_SKIP() << "runs only as the crash test's child";
  SetRegistryStorePath(file);
  for (int i = 0; i < 100000; ++i) {
    const std::string path = std::string("Software\\Crash\\r") + round + "k" + std::to_string(i);
    RegistryKey key = 0;
    ASSERT_EQ(CreateRegistryKey(kCurrentUser, path.c_str(), kKeyAllAccess, &key), 0u);
    const std::string value = std::to_string(i);
    ASSERT_EQ(
        SetRegistryValue(key, "v", kRegString, value.c_str(), static_cast<std::uint32_t>(value.size() + 1)),
        0u);
    CloseRegistryKey(key);
  }
}

// A writer killed at a random moment leaves a file that reads whole, with
// every key it had before; readers in the meantime only ever see complete
// files.
TEST_F(RegistryStoreTest, KilledWriterLeavesTheTreeIntact) {
  const std::string suffix = "\"v\"=\"value 4\"\n";  // the base keys are written last
  for (int i = 0; i < 5; ++i) {
    const std::string value = "value " + std::to_string(i);
    ASSERT_EQ(Put("Software\\Crash\\zbase" + std::to_string(i), "v", kRegString,
                  std::string(value.c_str(), value.size() + 1)),
              0u);
  }
  char self[4096];
  ASSERT_NE(ModulePath(self, sizeof self), 0u);
  std::mt19937 random(12345);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::atomic<bool> stop{false};
    std::atomic<int> snapshots{0}, incomplete{0};
    std::thread reader([&]() {
      while (!stop.load()) {
        const std::string text = Text(ReadFile(file_));
        const bool whole = text.compare(0, std::strlen(kHeader), kHeader) == 0 &&
                           text.size() >= suffix.size() &&
                           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
        ++snapshots;
        if (!whole) ++incomplete;
      }
    });
    const std::string marker = "r" + std::to_string(round) + "k5]";
    const std::string script =
        "PAKKARO_REGISTRY_WRITER=" + testing_support::Quote(file_) +
        " PAKKARO_REGISTRY_ROUND=" + std::to_string(round) + " " + testing_support::Quote(self) +
        " --gtest_filter=RegistryStoreWriter.WritesUntilKilled >/dev/null 2>&1 & pid=$!; n=0; "
        "until grep -q '" +
        marker + "' " + testing_support::Quote(file_) +
        "; do "
        "sleep 0.01; n=$((n+1)); [ $n -gt 3000 ] && break; done; "
        "sleep 0.0" +
        std::to_string(random() % 10) + std::to_string(random() % 10) +
        "; "
        "{ kill -9 $pid; wait $pid; } 2>/dev/null; echo $?";
    std::string status;
    ASSERT_EQ(RunCommand(script, &status), 0);
    stop = true;
    reader.join();
    EXPECT_EQ(status, "137\n") << "the writer was to be killed while writing";
    EXPECT_GT(snapshots.load(), 0);
    EXPECT_EQ(incomplete.load(), 0);

    Reopen();
    RegistryKey key = 0;
    ASSERT_EQ(OpenRegistryKey(kCurrentUser, "Software\\Crash", kKeyRead, &key), 0u) << "the file reads whole";
    CloseRegistryKey(key);
    std::uint32_t type = 0;
    std::string data;
    for (int i = 0; i < 5; ++i) {
      EXPECT_TRUE(Get("Software\\Crash\\zbase" + std::to_string(i), "v", &type, &data)) << i;
      const std::string value = "value " + std::to_string(i);
      EXPECT_EQ(data, std::string(value.c_str(), value.size() + 1));
    }
    // The writer's keys are a run from k0 without gaps; each but possibly the
    // last has its value.
    const std::string prefix = "Software\\Crash\\r" + std::to_string(round) + "k";
    int written = 0;
    while (OpenRegistryKey(kCurrentUser, (prefix + std::to_string(written)).c_str(), kKeyRead, &key) == 0) {
      CloseRegistryKey(key);
      ++written;
    }
    EXPECT_GE(written, 6);
    for (int gap = written + 1; gap < written + 5; ++gap) {
      EXPECT_NE(OpenRegistryKey(kCurrentUser, (prefix + std::to_string(gap)).c_str(), kKeyRead, &key), 0u);
    }
    for (int i = 0; i + 1 < written; ++i) {
      ASSERT_TRUE(Get(prefix + std::to_string(i), "v", &type, &data)) << i;
      EXPECT_EQ(data, std::to_string(i) + std::string(1, '\0'));
    }
  }
}

}  // namespace
}  // namespace platform
