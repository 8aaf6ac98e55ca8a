// Loading the directory of a large archive: Korbel opening an archive of
// 100 000 entries read-only (which reads and indexes the whole central
// directory) beside `unzip -l` listing the same archive. Prints the best time
// of N runs and the peak resident memory of each.
//
// Usage: load_directory_bench [ARCHIVE] [--repeat N]
// Without ARCHIVE it uses /tmp/pakkaro-bench/load-100000.zip, which is made
// by `zip` from 100 000 small files on the first run and kept.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "zip/korbel.h"

namespace {

constexpr int kEntries = 100000;
const char* const kDefaultArchive = "/tmp/pakkaro-bench/load-100000.zip";

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// 100 000 files of a few bytes in 100 folders, packed by zip.
bool MakeArchive(const std::string& archive) {
  namespace fs = std::filesystem;
  const fs::path target(archive);
  const fs::path tree = target.parent_path() / "load-tree";
  std::error_code error;
  fs::remove_all(tree, error);
  for (int folder = 0; folder < kEntries / 1000; ++folder) {
    const fs::path dir = tree / ("folder" + std::to_string(folder));
    fs::create_directories(dir, error);
    for (int file = 0; file < 1000; ++file) {
      std::ofstream out(dir / ("source_file_" + std::to_string(file) + ".c"));
      out << "int v" << folder << "_" << file << ";\n";
    }
  }
  std::printf("packing %d files with zip ...\n", kEntries);
  std::fflush(stdout);
  const std::string command =
      "cd " + Quote(tree.string()) + " && zip -q -r -D " + Quote(fs::absolute(target).string()) + " .";
  const bool made = std::system(command.c_str()) == 0;
  fs::remove_all(tree, error);
  return made;
}

long PeakKibibytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 5;
  std::string archive = kDefaultArchive;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      archive = argv[i];
    }
  }
  std::error_code error;
  if (!std::filesystem::exists(archive, error)) {
    std::filesystem::create_directories(std::filesystem::path(archive).parent_path(), error);
    if (!MakeArchive(archive)) {
      std::fprintf(stderr, "could not make %s with zip\n", archive.c_str());
      return 1;
    }
  }

  const long baseline = PeakKibibytes();
  double best = 1e9;
  int entries = 0;
  for (int run = 0; run < repeat; ++run) {
    korbel::Korbel zip;
    const auto start = std::chrono::steady_clock::now();
    const int opened = zip.Open(archive.c_str(), korbel::kReadOnly, 9);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (opened != korbel::kOk) {
      std::fprintf(stderr, "Open failed with %d: %s\n", opened, zip.ErrorText());
      return 1;
    }
    entries = zip.EntryCount();
    best = std::min(best, took.count());
  }
  const long peak = PeakKibibytes();

  // unzip -l reads the same directory and prints it; its output is thrown away.
  double unzipBest = 1e9;
  long unzipPeak = 0;
  const std::string measured = "/tmp/pakkaro-bench/unzip-time.txt";
  for (int run = 0; run < repeat; ++run) {
    const std::string command =
        "/usr/bin/time -f '%e %M' -o " + measured + " unzip -l " + Quote(archive) + " >/dev/null";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "unzip -l failed\n");
      return 1;
    }
    double seconds = 0;
    long kibibytes = 0;
    std::ifstream in(measured);
    in >> seconds >> kibibytes;
    unzipBest = std::min(unzipBest, seconds);
    unzipPeak = std::max(unzipPeak, kibibytes);
  }

  std::printf("archive: %s, %d entries; best of %d runs\n", archive.c_str(), entries, repeat);
  if (archive == kDefaultArchive && entries != kEntries) {
    std::printf("WARNING: korbel loaded %d of the %d entries; its figures do not compare\n", entries,
                kEntries);
  }
  std::printf("korbel Open (load directory): %8.3f s   peak RSS %7.1f MiB (%.1f MiB before loading)\n", best,
              static_cast<double>(peak) / 1024.0, static_cast<double>(baseline) / 1024.0);
  std::printf("unzip -l                    : %8.3f s   peak RSS %7.1f MiB (whole process)\n", unzipBest,
              static_cast<double>(unzipPeak) / 1024.0);
  std::printf("ratio korbel/unzip          : time %.2f   peak memory %.2f\n",
              best / std::max(unzipBest, 1e-3),
              static_cast<double>(peak) / static_cast<double>(std::max(unzipPeak, 1L)));
  return 0;
}
