#include "platform/win32/windows_api.h"

#include <memory>

#include "platform/utf16_text.h"

namespace platform {

namespace {

Handle StandardHandle(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  return handle == nullptr || handle == INVALID_HANDLE_VALUE ? kInvalidHandle : win32::FromHandle(handle);
}

// A console device opened by name (CONIN$, CONOUT$), closed at the end of the scope.
class ConsoleDevice {
 public:
  explicit ConsoleDevice(const wchar_t* name)
      : handle_(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr)) {}
  ~ConsoleDevice() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  ConsoleDevice(const ConsoleDevice&) = delete;
  ConsoleDevice& operator=(const ConsoleDevice&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The console's input mode without echo for a password, restored on every way out.
class EchoOff {
 public:
  explicit EchoOff(HANDLE input) : input_(input), saved_(0), changed_(::GetConsoleMode(input, &saved_) != 0) {
    if (changed_) changed_ = ::SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  }
  ~EchoOff() {
    if (changed_) ::SetConsoleMode(input_, saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  HANDLE input_;
  DWORD saved_;
  bool changed_;
};

void WriteWide(HANDLE console, const std::string& utf8) {
  std::u16string units;
  text::Utf8ToUtf16(utf8.data(), utf8.size(), u'?', &units);
  DWORD written = 0;
  if (!units.empty()) {
    ::WriteConsoleW(console, units.data(), static_cast<DWORD>(units.size()), &written, nullptr);
  }
}

}  // namespace

Handle StandardOutput() { return StandardHandle(STD_OUTPUT_HANDLE); }
Handle StandardError() { return StandardHandle(STD_ERROR_HANDLE); }

bool StandardIsConsole(int stream) {
  static const DWORD kWhich[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  if (stream < 0 || stream > 2) return false;
  const HANDLE handle = ::GetStdHandle(kWhich[stream]);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

int ConsoleWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    if (width > 0) return width;
  }
  return 80;
}

bool AskConsole(const std::string& prompt, bool echo, std::string* answer) {
  ConsoleDevice input(L"CONIN$");
  ConsoleDevice output(L"CONOUT$");
  DWORD mode = 0;
  if (input.Get() == INVALID_HANDLE_VALUE || !::GetConsoleMode(input.Get(), &mode)) return false;
  if (output.Get() != INVALID_HANDLE_VALUE) WriteWide(output.Get(), prompt);
  std::u16string line;
  {
    std::unique_ptr<EchoOff> quiet;
    if (!echo) quiet = std::make_unique<EchoOff>(input.Get());
    for (;;) {
      char16_t unit = 0;
      DWORD read = 0;
      if (!::ReadConsoleW(input.Get(), &unit, 1, &read, nullptr) || read == 0 || InterruptRequested())
        return false;
      if (unit == u'\n') break;
      if (unit != u'\r') line.push_back(unit);
    }
  }
  if (!echo && output.Get() != INVALID_HANDLE_VALUE) WriteWide(output.Get(), "\r\n");
  *answer = text::Utf16ToUtf8(line.data(), line.size());
  return true;
}

void WriteConsoleError(const std::string& text) {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error != nullptr && error != INVALID_HANDLE_VALUE && ::GetConsoleMode(error, &mode))
    WriteWide(error, text);
}

MessageCodePage::MessageCodePage() {
  DWORD mode = 0;
  if (!::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;
  const UINT current = ::GetConsoleOutputCP();
  if (current != 1252 && ::SetConsoleOutputCP(1252)) previous_ = current;
}

MessageCodePage::~MessageCodePage() {
  if (previous_ != 0) ::SetConsoleOutputCP(previous_);
}

void IgnoreBrokenPipe() {}

}  // namespace platform
