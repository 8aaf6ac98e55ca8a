#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"

namespace platform {
namespace {

// Waits without calling the system, which could change the last error.
void SpinUntil(const std::atomic<int>& step, int wanted) {
  while (step.load() < wanted) {
  }
}

TEST(LastError, IsKeptPerThread) {
  std::atomic<int> step{0};
  std::uint32_t first = 0, second = 0, failedCall = 0;
  std::thread a([&] {
    SetLastError(kErrorDiskFull);
    step = 1;
    SpinUntil(step, 2);
    first = LastError();
  });
  std::thread b([&] {
    SpinUntil(step, 1);
    SetLastError(kErrorAccessDenied);
    second = LastError();
    // A failing call sets only the error of its own thread.
    EXPECT_EQ(GetAttributes(""), kInvalidAttributes);
    failedCall = LastError();
    step = 2;
  });
  a.join();
  b.join();
  EXPECT_EQ(first, kErrorDiskFull);
  EXPECT_EQ(second, kErrorAccessDenied);
  EXPECT_EQ(failedCall, kErrorPathNotFound);
  SetLastError(kErrorSuccess);
  EXPECT_EQ(LastError(), kErrorSuccess);
}

}  // namespace
}  // namespace platform
