#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

namespace platform {
namespace {

TEST(LastError, IsKeptPerThread) {
  SetLastError(kErrorDiskFull);
  std::uint32_t seenByOther = 0, setByOther = 0;
  std::thread other([&] {
    SetLastError(kErrorAccessDenied);
    seenByOther = LastError();
    // A failing call on this thread sets only this thread's error.
    EXPECT_EQ(GetAttributes(""), kInvalidAttributes);
    setByOther = LastError();
  });
  other.join();
  EXPECT_EQ(seenByOther, kErrorAccessDenied);
  EXPECT_EQ(setByOther, kErrorPathNotFound);
  EXPECT_EQ(LastError(), kErrorDiskFull);
  SetLastError(kErrorSuccess);
  EXPECT_EQ(LastError(), kErrorSuccess);
}

}  // namespace
}  // namespace platform
