#include <climits>

#include "platform/win32/windows_api.h"

namespace platform {

struct Semaphore::State {
  HANDLE semaphore;
};

Semaphore::Semaphore(long initialCount) : state_(new State) {
  state_->semaphore = ::CreateSemaphoreA(nullptr, initialCount, LONG_MAX, nullptr);
}

Semaphore::~Semaphore() {
  if (state_->semaphore != nullptr) ::CloseHandle(state_->semaphore);
  delete state_;
}

void Semaphore::Wait() {
  if (state_->semaphore != nullptr) ::WaitForSingleObject(state_->semaphore, INFINITE);
}

void Semaphore::Release() {
  if (state_->semaphore != nullptr) ::ReleaseSemaphore(state_->semaphore, 1, nullptr);
}

}  // namespace platform
