#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

// Gives a blocked thread the chance to run on if the semaphore let it pass.
void GiveOtherThreadTime() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

TEST(Semaphore, SecondThreadWaitsForTheRelease) {
  Semaphore semaphore(1);
  semaphore.Wait();
  std::atomic<bool> passed{false};
  std::thread second([&] {
    semaphore.Wait();
    passed = true;
    semaphore.Release();
  });
  GiveOtherThreadTime();
  EXPECT_FALSE(passed) << "the count was taken; the second thread must wait";
  semaphore.Release();
  second.join();
  EXPECT_TRUE(passed);
  // The count is back: this does not block.
  semaphore.Wait();
  semaphore.Release();
}

TEST(Semaphore, CountsSeveralHolders) {
  Semaphore semaphore(2);
  semaphore.Wait();
  semaphore.Wait();
  std::atomic<int> entered{0};
  std::thread third([&] {
    semaphore.Wait();
    ++entered;
  });
  GiveOtherThreadTime();
  EXPECT_EQ(entered, 0);
  semaphore.Release();
  third.join();
  EXPECT_EQ(entered, 1);
}

TEST(Semaphore, ReleasesBeforeWaitsAreKept) {
  Semaphore semaphore(0);
  semaphore.Release();
  semaphore.Release();
  std::atomic<int> entered{0};
  std::thread waiter([&] {
    semaphore.Wait();
    semaphore.Wait();
    ++entered;
  });
  waiter.join();
  EXPECT_EQ(entered, 1);
}

TEST(Semaphore, SerialisesManyThreads) {
  Semaphore semaphore(1);
  int inside = 0, most = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        semaphore.Wait();
        ++inside;
        if (inside > most) most = inside;
        --inside;
        semaphore.Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(most, 1);
  EXPECT_EQ(inside, 0);
}

}  // namespace
}  // namespace platform
