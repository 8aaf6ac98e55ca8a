// Deflate64 decoding speed beside 7-Zip's own decoder on the same entry.
//
// Usage: deflate64_bench [PATH...] [--repeat N] [--level L]
// Each PATH is a file or a folder (read recursively, in name order); the
// bytes are concatenated, up to 256 MiB, into one sample (default: the
// benchmark corpus if it exists, else /usr/include and the system's
// libraries). The sample is packed by `7zz a -tzip -mm=Deflate64` into a
// temporary folder, and the entry's raw data is then decoded N times by
// Deflate64Decoder (with CRC-32 of the output, as a test run computes it)
// and tested N times by `7zz t -mmt=1` (a whole process, single-threaded).
// The best time of each is printed.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/sample_files.h"
#include "zip/codec/deflate64_decoder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
constexpr std::size_t kSampleLimit = std::size_t{256} << 20;
constexpr std::size_t kPiece = 16384;  // what the engine reads at a time

void AppendFile(const fs::path& file, Bytes& sample) {
  std::ifstream in(file, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t room = kSampleLimit - sample.size();
  sample.insert(sample.end(), bytes.begin(), bytes.begin() + static_cast<long>(std::min(room, bytes.size())));
}

void AppendPath(const fs::path& path, Bytes& sample, std::size_t limit) {
  if (fs::is_regular_file(path)) {
    AppendFile(path, sample);
    return;
  }
  const std::vector<fs::path> files = bench::SampleFiles(path);
  const std::size_t stop = std::min(kSampleLimit, sample.size() + limit);
  for (const auto& file : files) {
    if (sample.size() >= stop) break;
    AppendFile(file, sample);
  }
  if (sample.size() > stop) sample.resize(stop);
}

struct Input {
  const Bytes* data;
  std::size_t pos;
};

long ReadPiece(void* context, const unsigned char** out) {
  auto& in = *static_cast<Input*>(context);
  const std::size_t n = std::min(kPiece, in.data->size() - in.pos);
  *out = in.data->data() + in.pos;
  in.pos += n;
  return static_cast<long>(n);
}

struct Output {
  unsigned long crc;
  unsigned long long size;
};

int WriteChecked(void* context, const unsigned char* data, unsigned long size) {
  auto& out = *static_cast<Output*>(context);
  out.crc = crc32(out.crc, data, static_cast<uInt>(size));
  out.size += size;
  return 0;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> paths;
  int repeat = 5;
  int level = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--level" && i + 1 < argc) {
      level = std::atoi(argv[++i]);
    } else {
      paths.emplace_back(arg);
    }
  }
  if (paths.empty()) {
    if (fs::exists("/tmp/pakkaro-corpus")) {
      paths.emplace_back("/tmp/pakkaro-corpus");
    } else {
      paths.emplace_back("/usr/include");
      paths.emplace_back("/usr/lib/x86_64-linux-gnu");
    }
  }
  if (std::system("7zz i > /dev/null 2>&1") != 0) {
    std::fprintf(stderr, "7zz is not installed\n");
    return 1;
  }

  Bytes sample;
  for (const auto& path : paths) AppendPath(path, sample, kSampleLimit / paths.size());
  if (sample.empty()) {
    std::fprintf(stderr, "no input\n");
    return 1;
  }

  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("deflate64-bench-" + std::to_string(random()));
  fs::create_directories(folder);
  const fs::path dataFile = folder / "sample.bin";
  const fs::path archive = folder / "sample.zip";
  std::ofstream(dataFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
  const std::string pack = "7zz a -tzip -mm=Deflate64 -mx=" + std::to_string(level) + " \"" +
                           archive.string() + "\" \"" + dataFile.string() + "\" > /dev/null";
  if (std::system(pack.c_str()) != 0) {
    std::fprintf(stderr, "7zz could not pack the sample\n");
    fs::remove_all(folder);
    return 1;
  }

  // The entry's raw data, found through its local header.
  std::ifstream zipFile(archive, std::ios::binary);
  const Bytes zip((std::istreambuf_iterator<char>(zipFile)), std::istreambuf_iterator<char>());
  auto u16 = [&](std::size_t at) { return unsigned(zip[at] | zip[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at) | u16(at + 2) << 16); };
  const std::size_t start = 30 + u16(26) + u16(28);
  const std::size_t packed = u32(18);
  if (zip.size() < 30 || u32(0) != 0x04034B50 || u16(8) != 9 || packed > zip.size() - start) {
    std::fprintf(stderr, "unexpected archive layout\n");
    fs::remove_all(folder);
    return 1;
  }
  const Bytes raw(zip.begin() + static_cast<long>(start), zip.begin() + static_cast<long>(start + packed));
  unsigned long sampleCrc = crc32(0, nullptr, 0);
  for (std::size_t pos = 0; pos < sample.size(); pos += 1u << 30) {
    sampleCrc = crc32(sampleCrc, sample.data() + pos,
                      static_cast<uInt>(std::min<std::size_t>(1u << 30, sample.size() - pos)));
  }

  // The two take turns, so that a busy machine slows both alike.
  korbel::Deflate64Decoder decoder;
  const std::string test = "7zz t -mmt=1 \"" + archive.string() + "\" > /dev/null";
  double ours = 1e300;
  double theirs = 1e300;
  for (int r = 0; r < repeat; ++r) {
    Input in{&raw, 0};
    Output out{crc32(0, nullptr, 0), 0};
    auto t0 = std::chrono::steady_clock::now();
    const auto result = decoder.Run(ReadPiece, &in, WriteChecked, &out, nullptr, nullptr);
    ours = std::min(ours, Seconds(std::chrono::steady_clock::now() - t0));
    if (result != korbel::Deflate64Result::kStreamEnd || out.size != sample.size() || out.crc != sampleCrc) {
      std::fprintf(stderr, "decoding failed (result %d)\n", static_cast<int>(result));
      fs::remove_all(folder);
      return 1;
    }
    t0 = std::chrono::steady_clock::now();
    if (std::system(test.c_str()) != 0) {
      std::fprintf(stderr, "7zz t failed\n");
      fs::remove_all(folder);
      return 1;
    }
    theirs = std::min(theirs, Seconds(std::chrono::steady_clock::now() - t0));
  }
  fs::remove_all(folder);

  const double mb = static_cast<double>(sample.size()) / 1e6;
  std::printf("sample            %.1f MB, Deflate64 entry %.1f MB (7zz -mx=%d)\n", mb,
              static_cast<double>(raw.size()) / 1e6, level);
  std::printf("Deflate64Decoder  %.3f s  %7.1f MB/s  (best of %d, output CRC-32 included)\n", ours, mb / ours,
              repeat);
  std::printf("7zz t -mmt=1      %.3f s  %7.1f MB/s  (best of %d, whole process)\n", theirs, mb / theirs,
              repeat);
  std::printf("time ratio        %.2f (Deflate64Decoder / 7zz)\n", ours / theirs);
  return 0;
}
