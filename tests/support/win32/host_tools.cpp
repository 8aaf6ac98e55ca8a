// Under Wine a Windows program can start a program of the host: CreateProcess
// runs an ELF file as a plain host process. Wine gives no handle for such a
// process and does not connect its standard handles, so the command runs in a
// small shell script that leaves its output and exit status in files, and
// the status file, renamed into place last, tells that it has ended.
#include "tests/support/host_tools.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace testing_support {
namespace {

using UnixNameFunction = char*(CDECL*)(LPCWSTR);

bool UnderWine() {
  static const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

bool LooksLikeDrivePath(const std::string& text) {
  return text.size() >= 3 && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
         text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

// The host's name of a file of this build's own form, or "" when Wine cannot map it.
std::string UnixName(const std::string& path) {
  static const auto convert = reinterpret_cast<UnixNameFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return "";
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return "";
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], length);
  char* unix = convert(wide.c_str());
  if (unix == nullptr) return "";
  std::string result(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder for one command's files; "" on failure.
std::string CommandFolder() {
  static unsigned counter = 0;
  char temp[MAX_PATH];
  if (GetTempPathA(MAX_PATH, temp) == 0) return "";
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string folder = std::string(temp) + "pakkaro-host-" + std::to_string(GetCurrentProcessId()) +
                               "-" + std::to_string(++counter);
    if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
  }
  return "";
}

void RemoveCommandFolder(const std::string& folder) {
  for (const char* name : {"\\run.sh", "\\out", "\\err", "\\status", "\\status.part"}) {
    DeleteFileA((folder + name).c_str());
  }
  RemoveDirectoryA(folder.c_str());
}

}  // namespace

bool IsPosixBuild() { return false; }

int RunCommand(const std::string& command, std::string* output) {
  if (output != nullptr) output->clear();
  if (!UnderWine()) return -1;
  const std::string folder = CommandFolder();
  const std::string unixFolder = folder.empty() ? "" : UnixName(folder);
  if (unixFolder.empty()) return -1;
  {
    std::ofstream script(folder + "\\run.sh", std::ios::binary);
    script << "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\nexport PATH\n"
           << "(\n"
           << command << "\n) >\"$1/out\" 2>\"$1/err\" </dev/null\n"
           << "echo $? >\"$1/status.part\"\nmv \"$1/status.part\" \"$1/status\"\n";
    if (!script) {
      RemoveCommandFolder(folder);
      return -1;
    }
  }
  std::string line = "/bin/sh \"" + unixFolder + "/run.sh\" \"" + unixFolder + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    RemoveCommandFolder(folder);
    return -1;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  const std::string statusFile = folder + "\\status";
  // A command that never ends is bounded by the test runner's own time-out;
  // this bound only keeps a lost status file from hanging the program.
  const ULONGLONG deadline = GetTickCount64() + 30ull * 60 * 1000;
  bool ended = false;
  while (!(ended = GetFileAttributesA(statusFile.c_str()) != INVALID_FILE_ATTRIBUTES) &&
         GetTickCount64() < deadline) {
    Sleep(1);
  }
  const int status = ended ? std::atoi(ReadText(statusFile).c_str()) : -1;
  const std::string out = ReadText(folder + "\\out");
  const std::string err = ReadText(folder + "\\err");
  RemoveCommandFolder(folder);
  if (output != nullptr) {
    *output = out;
  } else {
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }
  std::fwrite(err.data(), 1, err.size(), stderr);
  return status;
}

std::string HostName(const std::string& text) {
  if (!UnderWine() || !LooksLikeDrivePath(text)) return text;
  const std::string unix = UnixName(text);
  return unix.empty() ? text : unix;
}

}  // namespace testing_support
