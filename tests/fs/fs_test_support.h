// Helpers of the file-system library tests: wide text from narrow tables and
// a temporary folder tree that is removed again.
#ifndef PAKKARO_TESTS_FS_FS_TEST_SUPPORT_H
#define PAKKARO_TESTS_FS_FS_TEST_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace fs_test {

// Byte for byte: the tables hold ASCII and Windows-1252 letters, whose codes
// are the same in UTF-16.
inline std::u16string Widen(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(static_cast<char16_t>(c));
  return wide;
}

inline std::string Narrow(const std::u16string& wide) {
  std::string text;
  for (char16_t c : wide) text.push_back(static_cast<char>(c));
  return text;
}

inline bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// A fresh folder in the system's temporary folder. Paths inside it are built
// with the separator the system's temporary path ends in.
class TempTree {
 public:
  TempTree() {
    char folder[260];
    char name[260];
    if (platform::TempFolder(folder, sizeof(folder)) == 0) return;
    if (!platform::TempFileName(folder, "fst", name)) return;
    platform::DeleteFile(name);
    if (!platform::CreateDirectory(name)) return;
    separator_ = folder[std::char_traits<char>::length(folder) - 1];
    root_ = name;
  }
  ~TempTree() {
    if (root_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(root_), error);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  bool Ok() const { return !root_.empty(); }
  char Separator() const { return separator_; }
  // The tree's folder, without a trailing separator.
  const std::string& Root() const { return root_; }
  // relative uses '/' between its parts; they become the system's separator.
  std::string Path(const std::string& relative) const {
    std::string path = root_;
    if (relative.empty()) return path;
    path += separator_;
    for (char c : relative) path += c == '/' ? separator_ : c;
    return path;
  }
  bool MakeFolder(const std::string& relative) const {
    return platform::CreateDirectory(Path(relative).c_str());
  }
  bool MakeFile(const std::string& relative, const std::string& content = "x") const {
    platform::FileCloser file(platform::OpenFile(Path(relative).c_str(), platform::kAccessWrite,
                                                 platform::kShareNone, platform::kCreateAlways));
    if (file.Get() == platform::kInvalidHandle) return false;
    return platform::WriteFile(file.Get(), content.data(), content.size()) ==
           static_cast<std::int64_t>(content.size());
  }

 private:
  std::string root_;
  char separator_ = '/';
};

}  // namespace fs_test

#endif  // PAKKARO_TESTS_FS_FS_TEST_SUPPORT_H
