// SIGINT, SIGTERM and SIGHUP raise a flag that the engine reads between its
// writes, so that an interrupted change ends through its ordinary failure
// path: the temporary file removed, the old archive kept, the message shown.
// A second signal before that finished ends the process from the handler,
// with only what is safe there: the named file unlinked, then _exit.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr std::size_t kPathCapacity = 4096;
constexpr int kInterruptedStatus = 130;

std::atomic<bool> g_interrupted{false};
// Written only with the signals blocked, so the handler never sees it half-made.
char g_removeOnInterrupt[kPathCapacity];

void OnSignal(int) {
  if (!g_interrupted.exchange(true)) return;
  if (g_removeOnInterrupt[0] != '\0') ::unlink(g_removeOnInterrupt);
  ::_exit(kInterruptedStatus);
}

// Blocks the handled signals for a scope.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace

void InstallInterruptHandling() {
  ::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

bool InterruptRequested() { return g_interrupted.load(std::memory_order_relaxed); }

void RemoveOnInterrupt(const char* path) {
  SignalsBlocked blocked;
  const std::size_t length = path == nullptr ? 0 : std::strlen(path);
  if (length >= kPathCapacity) {
    g_removeOnInterrupt[0] = '\0';
    return;
  }
  std::memcpy(g_removeOnInterrupt, path == nullptr ? "" : path, length + 1);
}

}  // namespace platform
