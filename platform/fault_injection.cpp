#include "platform/fault_injection.h"

#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace fault_detail {

std::atomic<bool> g_armed{false};
std::atomic<std::int64_t> g_openHandles{0};

namespace {

struct ArmedFault {
  Operation op;
  std::uint32_t atCall;  // the value of the operation's counter that fails
  FaultKind kind;
};

struct FaultState {
  std::mutex mutex;
  std::uint32_t counters[kOperationCount] = {};
  std::vector<ArmedFault> faults;
};

FaultState& State() {
  static FaultState state;
  return state;
}

}  // namespace

bool TakeFault(Operation op, FaultKind* kind) {
  FaultState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  const std::uint32_t call = ++state.counters[static_cast<int>(op)];
  for (auto it = state.faults.begin(); it != state.faults.end(); ++it) {
    if (it->op == op && it->atCall == call) {
      *kind = it->kind;
      state.faults.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace fault_detail

void InjectFault(Operation op, int nthCall, FaultKind kind) {
  if (nthCall < 1) return;
  fault_detail::FaultState& state = fault_detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  const std::uint32_t seen = state.counters[static_cast<int>(op)];
  state.faults.push_back({op, seen + static_cast<std::uint32_t>(nthCall), kind});
  fault_detail::g_armed.store(true, std::memory_order_relaxed);
}

void CountCalls() { fault_detail::g_armed.store(true, std::memory_order_relaxed); }

std::uint32_t CallCount(Operation op) {
  fault_detail::FaultState& state = fault_detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.counters[static_cast<int>(op)];
}

void ClearFaults() {
  fault_detail::FaultState& state = fault_detail::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  fault_detail::g_armed.store(false, std::memory_order_relaxed);
  state.faults.clear();
  for (auto& counter : state.counters) counter = 0;
}

std::int64_t OpenHandleCount() { return fault_detail::g_openHandles.load(std::memory_order_relaxed); }

std::uint32_t FaultError(FaultKind kind) {
  switch (kind) {
    case FaultKind::kFail:
      return kErrorGeneric;
    case FaultKind::kAccessDenied:
      return kErrorAccessDenied;
    case FaultKind::kDiskFull:
    case FaultKind::kShortWrite:
    case FaultKind::kShortRead:
      return kErrorDiskFull;
  }
  return kErrorGeneric;
}

}  // namespace platform
