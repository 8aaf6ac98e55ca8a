#include <condition_variable>
#include <mutex>

#include "platform/platform.h"

namespace platform {

struct Semaphore::State {
  std::mutex mutex;
  std::condition_variable released;
  long count;
};

Semaphore::Semaphore(long initialCount) : state_(new State) { state_->count = initialCount; }

Semaphore::~Semaphore() { delete state_; }

void Semaphore::Wait() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->released.wait(lock, [this] { return state_->count > 0; });
  --state_->count;
}

void Semaphore::Release() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->count;
  }
  state_->released.notify_one();
}

}  // namespace platform
