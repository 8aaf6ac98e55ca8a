// Helpers shared by the unit tests: temporary folders, whole-file reads and
// writes, and running the independent tools that check our archives.
#ifndef PAKKARO_TESTS_SUPPORT_TEST_SUPPORT_H
#define PAKKARO_TESTS_SUPPORT_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/host_tools.h"

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// A fresh folder below the system's temporary folder, removed with everything
// in it when the object goes out of scope. Path() ends without a separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path() + separator + relative.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes a file, creating its folders; false on failure.
bool WriteFile(const std::string& path, const Bytes& data);
bool WriteFile(const std::string& path, const std::string& text);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Deterministic test data.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes TextBytes(std::size_t size);

// Lower-case hexadecimal digits of the bytes, two per byte.
std::string ToHex(const std::uint8_t* bytes, std::size_t length);

}  // namespace testing_support

#endif  // PAKKARO_TESTS_SUPPORT_TEST_SUPPORT_H
