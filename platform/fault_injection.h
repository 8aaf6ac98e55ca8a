// A test-only switch that makes chosen platform calls fail, so that the error
// paths above the platform layer can be driven without a broken disk.
//
// Nothing is armed in a normal run; each checked call then costs one relaxed
// atomic load. Arming is process-wide: tests that use it must not run other
// file work on parallel threads at the same time.
#ifndef PAKKARO_PLATFORM_FAULT_INJECTION_H
#define PAKKARO_PLATFORM_FAULT_INJECTION_H

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace platform {

// The calls that can be made to fail.
enum class Operation : int {
  kOpenFile,
  kReadFile,
  kWriteFile,
  kSeekFile,
  kTruncateFile,
  kCloseFile,
  kCreateDirectory,
  kDeleteFile,
  kFileMapping,
  kFlushFile,
};
constexpr int kOperationCount = 10;

// How the chosen call fails. The call does nothing and reports the error
// named here, except: kShortWrite makes WriteFile write only the first half of
// its bytes and report that count with kErrorDiskFull; kShortRead makes
// ReadFile read only the first half; CloseFile always releases the handle,
// and only its result reports the failure. For the other calls the two short
// kinds act as kDiskFull.
enum class FaultKind : int {
  kFail,          // kErrorGeneric
  kAccessDenied,  // kErrorAccessDenied
  kDiskFull,      // kErrorDiskFull
  kShortWrite,
  kShortRead,
};

// Makes the nth call of `op` from now on (1 = the very next) fail once.
// Several faults may be armed at a time, on the same or other operations.
void InjectFault(Operation op, int nthCall, FaultKind kind);
// Starts counting calls without making any fail.
void CountCalls();
// Calls of `op` seen since the first InjectFault or CountCalls after the last
// ClearFaults; 0 while nothing is armed.
std::uint32_t CallCount(Operation op);
// Disarms every fault, stops counting and resets the counters.
void ClearFaults();

// The error code that a fault of this kind reports.
std::uint32_t FaultError(FaultKind kind);

// File handles, mappings and directory searches that the backend opened and
// nobody has closed yet, counted always, so that tests can tell that every
// way out of an operation released what it took.
std::int64_t OpenHandleCount();

namespace fault_detail {
extern std::atomic<bool> g_armed;
extern std::atomic<std::int64_t> g_openHandles;
bool TakeFault(Operation op, FaultKind* kind);
}  // namespace fault_detail

// Called by the backends when a handle, mapping or search is made or released.
inline void NoteHandleOpened() { fault_detail::g_openHandles.fetch_add(1, std::memory_order_relaxed); }
inline void NoteHandleClosed() { fault_detail::g_openHandles.fetch_sub(1, std::memory_order_relaxed); }

// Called at the top of each backend call: true when this call is to fail.
inline bool FaultFor(Operation op, FaultKind* kind) {
  return fault_detail::g_armed.load(std::memory_order_relaxed) && fault_detail::TakeFault(op, kind);
}

// For a call that fails whole: true when this call of `op` is to fail, with
// the fault's error already set as the last error.
inline bool FailInjected(Operation op) {
  FaultKind kind;
  if (!FaultFor(op, &kind)) return false;
  SetLastError(FaultError(kind));
  return true;
}

}  // namespace platform

#endif  // PAKKARO_PLATFORM_FAULT_INJECTION_H
