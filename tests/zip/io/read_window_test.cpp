#include "zip/io/read_window.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"
#include "zip/io/archive_store.h"

namespace korbel {
namespace {

using testing_support::Bytes;

// Reads through a 1000-byte window over a 5000-byte file: what comes back is
// always the file's own bytes, whether the window held them or was refilled,
// and requests it cannot serve are refused without a read.
TEST(ReadWindowTest, ServesTheFileBytesAndRefusesWhatItCannotHold) {
  testing_support::TempDir dir;
  const std::string path = dir / "data.bin";
  const Bytes data = testing_support::RandomBytes(5000, 31);
  ASSERT_TRUE(testing_support::WriteFile(path, data));
  ArchiveStore store;
  ASSERT_TRUE(
      store.OpenFile(path.c_str(), platform::kAccessRead, platform::kShareRead, platform::kOpenExisting));
  ReadWindow window(1000);
  struct Case {
    std::int64_t position;
    std::size_t length;
    bool served;
  };
  const Case cases[] = {
      {0, 10, true},      {500, 500, true},  // inside the first fill
      {990, 20, true},                       // across its end: refilled from 990
      {4500, 500, true},  {4999, 1, true},   // the window is cut at the end of the file
      {4000, 1000, true}, {100, 1000, true}, {0, 0, true},
      {4999, 2, false},   {5000, 1, false},  // past the end
      {0, 1001, false},                      // longer than the window
      {-1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + "+" + std::to_string(c.length));
    const unsigned char* bytes = window.Get(store, c.position, c.length);
    ASSERT_EQ(bytes != nullptr, c.served);
    if (bytes != nullptr) {
      EXPECT_TRUE(std::equal(bytes, bytes + c.length, data.begin() + c.position));
    }
  }
}

TEST(ReadWindowTest, ForgottenWindowRereadsAChangedFile) {
  testing_support::TempDir dir;
  const std::string path = dir / "data.bin";
  ASSERT_TRUE(testing_support::WriteFile(path, Bytes(300, 'a')));
  ArchiveStore store;
  ASSERT_TRUE(store.OpenFile(path.c_str(), platform::kAccessReadWrite, platform::kShareNone,
                             platform::kOpenExisting));
  ReadWindow window(256);
  ASSERT_EQ(*window.Get(store, 10, 1), 'a');
  ASSERT_EQ(store.Seek(10, platform::kSeekBegin), 10);
  ASSERT_EQ(store.Write("b", 1), 1);
  EXPECT_EQ(*window.Get(store, 10, 1), 'a');  // the window does not watch the file
  window.Forget();
  EXPECT_EQ(*window.Get(store, 10, 1), 'b');
}

}  // namespace
}  // namespace korbel
