#include "tests/support/test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace testing_support {
namespace stdfs = std::filesystem;

namespace {

// Paths are the program's narrow text, UTF-8 on both builds; a narrow
// std::filesystem path would be read in the ANSI code page on Windows.
stdfs::path Native(const std::string& path) { return stdfs::u8path(path); }

}  // namespace

TempDir::TempDir() {
  static int counter = 0;
  std::random_device device;
  const stdfs::path base = stdfs::temp_directory_path();
  for (;;) {
    const stdfs::path candidate =
        base / ("pakkaro-test-" + std::to_string(device()) + "-" + std::to_string(++counter));
    std::error_code error;
    if (stdfs::create_directory(candidate, error)) {
      path_ = candidate.u8string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  // Read-only files and folders without rights would stop the removal.
  for (auto it = stdfs::recursive_directory_iterator(Native(path_), error);
       !error && it != stdfs::recursive_directory_iterator(); it.increment(error)) {
    stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, error);
  }
  stdfs::remove_all(Native(path_), error);
}

std::string TempDir::operator/(const std::string& relative) const {
  return (Native(path_) / Native(relative)).u8string();
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::error_code error;
  const stdfs::path parent = Native(path).parent_path();
  if (!parent.empty()) stdfs::create_directories(parent, error);
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

bool WriteFile(const std::string& path, const std::string& text) {
  return WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return stdfs::exists(Native(path), error);
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes data(size);
  for (auto& byte : data) byte = static_cast<unsigned char>(generator());
  return data;
}

Bytes TextBytes(std::size_t size) {
  static const char kWords[] =
      "int main(void) { return packer_run(argc, argv); } /* compressible source text */\n";
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<unsigned char>(kWords[(i * 7 + i / 61) % (sizeof(kWords) - 1)]);
  return data;
}

std::string ToHex(const std::uint8_t* bytes, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

}  // namespace testing_support
