// Ctrl-C, Ctrl-Break and closing the console raise a flag that the engine
// reads between its writes; the handler then waits for the program to end
// through its ordinary failure path (the temporary file removed, the old
// archive kept). Windows ends the process itself a few seconds after a
// console close; a second Ctrl-C before the first was handled ends it at
// once, after removing the named file (its handle is ours, so the file is
// marked for deletion and goes when the process ends).
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

constexpr UINT kInterruptedStatus = 130;
constexpr DWORD kWaitForOrdinaryEnd = 20000;

std::atomic<bool> g_interrupted{false};
std::mutex g_pathMutex;
std::wstring g_removeOnInterrupt;

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
      event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
    return FALSE;
  }
  if (g_interrupted.exchange(true)) {
    {
      std::lock_guard<std::mutex> lock(g_pathMutex);
      if (!g_removeOnInterrupt.empty()) {
        const HANDLE file = ::CreateFileW(g_removeOnInterrupt.c_str(), DELETE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
      }
    }
    ::ExitProcess(kInterruptedStatus);
  }
  ::Sleep(kWaitForOrdinaryEnd);
  return TRUE;
}

}  // namespace

void InstallInterruptHandling() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

bool InterruptRequested() { return g_interrupted.load(std::memory_order_relaxed); }

void RemoveOnInterrupt(const char* path) {
  std::wstring wide;
  if (path != nullptr && *path != '\0' && !win32::LongPath(path, &wide)) wide.clear();
  std::lock_guard<std::mutex> lock(g_pathMutex);
  g_removeOnInterrupt = wide;
}

}  // namespace platform
