// Helpers shared by the zip/io tests: scratch files in the system's
// temporary folder and reproducible test bytes.
#ifndef PAKKARO_TESTS_ZIP_IO_SCRATCH_FILE_H
#define PAKKARO_TESTS_ZIP_IO_SCRATCH_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace korbel_test {

inline std::string SystemTempFolder() {
  char folder[260] = {};
  platform::TempFolder(folder, sizeof folder);
  return folder;
}

// A uniquely named empty file, deleted when the object goes.
class ScratchFile {
 public:
  ScratchFile() {
    if (!platform::TempFileName(SystemTempFolder().c_str(), "kio", path_)) path_[0] = '\0';
  }
  ~ScratchFile() {
    if (path_[0] != '\0') platform::DeleteFile(path_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const char* Path() const { return path_; }
  bool Valid() const { return path_[0] != '\0'; }

 private:
  char path_[260] = {};
};

// Bytes from a small linear congruential generator: varied enough that a
// misplaced or repeated block changes them.
inline std::vector<unsigned char> TestBytes(std::size_t size, std::uint32_t seed = 1) {
  std::vector<unsigned char> bytes(size);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 23);
  }
  return bytes;
}

inline std::vector<unsigned char> ReadWholeFile(const char* path) {
  std::vector<unsigned char> content;
  const platform::Handle file =
      platform::OpenFile(path, platform::kAccessRead, platform::kShareRead, platform::kOpenExisting);
  if (file == platform::kInvalidHandle) return content;
  unsigned char block[65536];
  for (;;) {
    const std::int64_t got = platform::ReadFile(file, block, sizeof block);
    if (got <= 0) break;
    content.insert(content.end(), block, block + got);
  }
  platform::CloseFile(file);
  return content;
}

}  // namespace korbel_test

#endif  // PAKKARO_TESTS_ZIP_IO_SCRATCH_FILE_H
