// Speed of the PPMd coder (zip method 98) against 7-Zip's `7zz` on the same data, one
// thread each. Not a test: it prints times and ratios.
//
// Usage: ppmd_bench [--reps N] [FILE...]
// Without files it generates 8 MiB of mixed data (prose, noise and repeating tables,
// the mix of a project folder). All files are packed as one input. Each configuration
// runs `7zz a -tzip -mm=PPMd -mo=O -mmem=Mm -mmt=1` and `7zz t`, then our encoder and
// decoder with the parameters found in 7zz's entry. Times are CPU seconds (user +
// system; 7zz's through /usr/bin/time, wall time if that is missing), the best of N
// runs, so that other work on a shared machine disturbs them least. Our encoder's
// output is compared with 7zz's entry byte for byte.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "zip/codec/ppmd_coder.h"

namespace {

using Bytes = std::vector<unsigned char>;
using korbel::PpmdParameters;
using korbel::PpmdResult;

struct Reader {
  const Bytes* data;
  size_t pos;
};

long ReadFrom(void* context, unsigned char* buffer, unsigned long size) {
  auto* reader = static_cast<Reader*>(context);
  const size_t n = std::min<size_t>(size, reader->data->size() - reader->pos);
  if (n != 0) std::memcpy(buffer, reader->data->data() + reader->pos, n);
  reader->pos += n;
  return static_cast<long>(n);
}

long WriteTo(void* context, const unsigned char* buffer, unsigned long size) {
  auto* out = static_cast<Bytes*>(context);
  out->insert(out->end(), buffer, buffer + size);
  return static_cast<long>(size);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

Bytes GeneratedData() {
  static const char* const kWords[] = {"static ", "const ", "return ", "if (", "size_t ", "buffer",
                                       "->",      "std::",  "vector",  "int ", "\n  ",    "data",
                                       ");",      "entry",  " = ",     "0x",   "for (",   "} else {"};
  std::mt19937 rng(20261207);
  Bytes out;
  while (out.size() < (8u << 20)) {
    switch (rng() % 10) {
      case 0:  // a block of noise, like compiled code
        for (int i = 0; i < 4096; ++i) out.push_back(static_cast<unsigned char>(rng()));
        break;
      case 1:  // a repeating table
        for (int i = 0; i < 2048; ++i) out.push_back(static_cast<unsigned char>(i));
        break;
      default:
        for (int i = 0; i < 600; ++i) {
          const char* w = kWords[rng() % 18];
          out.insert(out.end(), w, w + std::strlen(w));
        }
    }
  }
  return out;
}

// The stored data of the first entry of a zip, found through the central directory.
bool FirstEntryData(const Bytes& zip, Bytes* data, unsigned* method) {
  auto get = [&zip](size_t pos, int width, bool* ok) -> uint32_t {
    if (pos > zip.size() || static_cast<size_t>(width) > zip.size() - pos) {
      *ok = false;
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(zip[pos + i]) << (8 * i);
    return v;
  };
  if (zip.size() < 22) return false;
  bool ok = true;
  size_t end = zip.size() - 22;
  while (end > 0 && get(end, 4, &ok) != 0x06054b50) --end;
  const size_t central = get(end + 16, 4, &ok);
  *method = get(central + 10, 2, &ok);
  const uint32_t size = get(central + 20, 4, &ok);
  const size_t local = get(central + 42, 4, &ok);
  const size_t start = local + 30 + get(local + 26, 2, &ok) + get(local + 28, 2, &ok);
  if (!ok || start > zip.size() || size > zip.size() - start) return false;
  data->assign(zip.begin() + start, zip.begin() + start + size);
  return true;
}

// CPU seconds of the best of `reps` runs of `run` in this process.
template <class F>
double BestSeconds(int reps, F run) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    const std::clock_t t0 = std::clock();
    run();
    best = std::min(best, static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC);
  }
  return best;
}

// CPU seconds of the best of `reps` runs of a shell command (after `prepare`).
double BestCommandSeconds(int reps, const std::string& command, const std::string& timing,
                          const std::string& prepare = "") {
  const bool haveTime = std::system("test -x /usr/bin/time") == 0;
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    if (!prepare.empty() && std::system(prepare.c_str()) != 0) return -1;
    const auto t0 = std::chrono::steady_clock::now();
    const std::string run = haveTime ? "/usr/bin/time -f '%U %S' -o " + timing + " " + command : command;
    if (std::system(run.c_str()) != 0) return -1;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (haveTime) {
      std::ifstream in(timing);
      double user = 0;
      double system = 0;
      if (in >> user >> system) seconds = user + system;
    }
    best = std::min(best, seconds);
  }
  return best;
}

struct Config {
  const char* name;
  int order;
  unsigned memoryMiB;
  const char* extra;  // more 7zz switches
};

}  // namespace

int main(int argc, char** argv) {
  int reps = 3;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else {
      files.push_back(argv[i]);
    }
  }
  if (std::system("7zz i > /dev/null 2>&1") != 0) {
    std::fprintf(stderr, "7zz not found\n");
    return 1;
  }

  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("ppmd_bench_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string input = (dir / "input.bin").string();
  const std::string zip = (dir / "bench.zip").string();
  Bytes data;
  if (files.empty()) {
    data = GeneratedData();
  } else {
    for (const std::string& f : files) {
      const Bytes part = ReadFile(f);
      data.insert(data.end(), part.begin(), part.end());
    }
  }
  if (!WriteFile(input, data)) return 1;
  std::printf("input: %zu bytes, best of %d runs\n", data.size(), reps);
  std::printf("%-26s %10s %8s %8s %6s %8s %8s %6s  %s\n", "configuration", "packed", "7zz a", "ours", "ratio",
              "7zz t", "ours", "ratio", "bytes");

  const Config configs[] = {
      {"level 1: order 15, 8 MiB", 15, 8, ""},      {"level 4: order 12, 11 MiB", 12, 11, ""},
      {"level 7: order 9, 14 MiB", 9, 14, ""},      {"7zz default: order 6", 6, 16, ""},
      {"cut-off: order 16, 4 MiB", 16, 4, "-mx=9"},
  };
  int status = 0;
  for (const Config& c : configs) {
    const std::string add = "7zz a -tzip -mm=PPMd -mmt=1 -mo=" + std::to_string(c.order) +
                            " -mmem=" + std::to_string(c.memoryMiB) + "m " + c.extra + " " + zip + " " +
                            input + " > /dev/null";
    const std::string timing = (dir / "timing.txt").string();
    const double sevenPack = BestCommandSeconds(reps, add, timing, "rm -f " + zip);
    const double sevenTest = BestCommandSeconds(reps, "7zz t " + zip + " > /dev/null", timing);
    if (sevenPack < 0 || sevenTest < 0) {
      std::printf("%-26s 7zz failed\n", c.name);
      status = 1;
      continue;
    }
    Bytes entry;
    unsigned method = 0;
    PpmdParameters parameters{};
    if (!FirstEntryData(ReadFile(zip), &entry, &method) || method != 98 || entry.size() < 2 ||
        !korbel::PpmdParseHeader(static_cast<unsigned short>(entry[0] | entry[1] << 8), &parameters)) {
      std::printf("%-26s 7zz did not write a PPMd entry\n", c.name);
      status = 1;
      continue;
    }
    const Bytes stream(entry.begin() + 2, entry.end());

    Bytes packed;
    PpmdResult encodeResult = PpmdResult::kOk;
    const double ourPack = BestSeconds(reps, [&] {
      packed.clear();
      packed.reserve(stream.size() + 1024);
      Reader reader{&data, 0};
      encodeResult = korbel::PpmdEncode(parameters, ReadFrom, &reader, WriteTo, &packed, nullptr, nullptr);
    });
    Bytes unpacked;
    PpmdResult decodeResult = PpmdResult::kOk;
    const double ourUnpack = BestSeconds(reps, [&] {
      unpacked.clear();
      unpacked.reserve(data.size());
      Reader reader{&stream, 0};
      decodeResult =
          korbel::PpmdDecode(parameters, -1, ReadFrom, &reader, WriteTo, &unpacked, nullptr, nullptr);
    });
    const bool same = encodeResult == PpmdResult::kOk && decodeResult == PpmdResult::kOk &&
                      packed == stream && unpacked == data;
    if (!same) status = 1;
    std::printf("%-26s %10zu %8.3f %8.3f %6.2f %8.3f %8.3f %6.2f  %s\n", c.name, stream.size(), sevenPack,
                ourPack, ourPack / sevenPack, sevenTest, ourUnpack, ourUnpack / sevenTest,
                same ? "identical" : "DIFFERENT");
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return status;
}
