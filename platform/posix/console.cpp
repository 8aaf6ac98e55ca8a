#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <memory>

#include "platform/platform.h"

namespace platform {

namespace {

// The terminal of the process, opened for the prompt alone and closed with it.
class TerminalFile {
 public:
  TerminalFile() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~TerminalFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  TerminalFile(const TerminalFile&) = delete;
  TerminalFile& operator=(const TerminalFile&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Echo switched off for a password, and on again on every way out.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd), saved_{}, changed_(::tcgetattr(fd, &saved_) == 0) {
    if (!changed_) return;
    termios quiet = saved_;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    changed_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (changed_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_;
  bool changed_;
};

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

}  // namespace

Handle StandardOutput() { return STDOUT_FILENO; }
Handle StandardError() { return STDERR_FILENO; }

bool StandardIsConsole(int stream) { return stream >= 0 && stream <= 2 && ::isatty(stream) == 1; }

int ConsoleWidth() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

bool AskConsole(const std::string& prompt, bool echo, std::string* answer) {
  TerminalFile terminal;
  if (terminal.Get() < 0) return false;
  WriteAll(terminal.Get(), prompt);
  std::unique_ptr<EchoOff> quiet;
  if (!echo) quiet = std::make_unique<EchoOff>(terminal.Get());
  answer->clear();
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(terminal.Get(), &c, 1);
    if (got < 0 && errno == EINTR && !InterruptRequested()) continue;
    if (got <= 0) return false;
    if (c == '\n') return true;
    if (c != '\r') answer->push_back(c);
  }
}

void WriteConsoleError(const std::string& text) {
  if (::isatty(STDERR_FILENO) == 1) WriteAll(STDERR_FILENO, text);
}

MessageCodePage::MessageCodePage() = default;
MessageCodePage::~MessageCodePage() = default;

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
