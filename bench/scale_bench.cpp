// Scale: archives of 100 000 to 1 000 000 tiny stored entries, made by a raw
// writer (Zip64 end records from 65 535 entries on), each loaded by Korbel in
// this process and listed and tested by the korbel tool beside `unzip -l` and
// `7zz l`. Prints the best of N runs, the peak memory of each program, the
// ratios to `unzip -l` and how the time grows with the entries.
//
// Usage: scale_bench [--korbel PATH] [--repeat N] [--largest N]
// The korbel tool defaults to the one beside this program's folder; the
// archives are kept in /tmp/pakkaro-bench between runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "zip/korbel.h"

extern char** environ;

namespace {

const char* const kFolder = "/tmp/pakkaro-bench";

void Put16(std::string* out, std::uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}
void Put32(std::string* out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
void Put64(std::string* out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value));
  Put32(out, static_cast<std::uint32_t>(value >> 32));
}

// `entries` stored entries of two bytes each, named dNNNN/fNNNNNNN.txt.
bool MakeArchive(const std::string& path, std::uint32_t entries) {
  const char data[] = "x\n";
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data), 2));
  std::string local, central;
  std::ofstream out(path + ".part", std::ios::binary);
  std::uint64_t offset = 0;
  char name[32];
  for (std::uint32_t i = 0; i < entries; ++i) {
    const int length = std::snprintf(name, sizeof name, "d%04u/f%07u.txt", i / 1000, i);
    local.clear();
    Put32(&local, 0x04034B50);
    for (std::uint32_t v : {10u, 0u, 0u, 0u, 0x21u}) Put16(&local, v);
    Put32(&local, crc);
    Put32(&local, 2);
    Put32(&local, 2);
    Put16(&local, static_cast<std::uint32_t>(length));
    Put16(&local, 0);
    local.append(name, static_cast<std::size_t>(length));
    local.append(data, 2);
    out.write(local.data(), static_cast<std::streamsize>(local.size()));
    Put32(&central, 0x02014B50);
    for (std::uint32_t v : {20u, 10u, 0u, 0u, 0u, 0x21u}) Put16(&central, v);
    Put32(&central, crc);
    Put32(&central, 2);
    Put32(&central, 2);
    Put16(&central, static_cast<std::uint32_t>(length));
    for (std::uint32_t v : {0u, 0u, 0u, 0u}) Put16(&central, v);
    Put32(&central, 0x20);
    Put32(&central, static_cast<std::uint32_t>(offset));
    central.append(name, static_cast<std::size_t>(length));
    offset += local.size();
  }
  out.write(central.data(), static_cast<std::streamsize>(central.size()));
  std::string tail;
  const bool zip64 = entries >= 0xFFFF;
  if (zip64) {
    Put32(&tail, 0x06064B50);
    Put64(&tail, 44);
    Put16(&tail, 45);
    Put16(&tail, 45);
    Put32(&tail, 0);
    Put32(&tail, 0);
    Put64(&tail, entries);
    Put64(&tail, entries);
    Put64(&tail, central.size());
    Put64(&tail, offset);
    Put32(&tail, 0x07064B50);
    Put32(&tail, 0);
    Put64(&tail, offset + central.size());
    Put32(&tail, 1);
  }
  Put32(&tail, 0x06054B50);
  Put32(&tail, 0);
  Put16(&tail, zip64 ? 0xFFFF : entries);
  Put16(&tail, zip64 ? 0xFFFF : entries);
  Put32(&tail, static_cast<std::uint32_t>(central.size()));
  Put32(&tail, static_cast<std::uint32_t>(offset));
  Put16(&tail, 0);
  out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  out.close();
  if (!out) return false;
  std::error_code error;
  std::filesystem::rename(path + ".part", path, error);
  return !error;
}

struct Figure {
  double seconds = -1;  // best run; -1 when the program is missing or failed
  long peakKiB = 0;
};

// Runs a program with its output discarded; its time and peak memory. The
// memory comes from /usr/bin/time: a child spawned straight from here would
// count this process's own peak as its own.
Figure RunProgram(const std::vector<std::string>& program, int repeat) {
  Figure best;
  const char* timer = "/usr/bin/time";
  if (access(program[0].c_str(), X_OK) != 0 || access(timer, X_OK) != 0) return best;
  const std::string peakFile = std::string(kFolder) + "/peak.txt";
  std::vector<std::string> argv = {timer, "-f", "%M", "-o", peakFile};
  argv.insert(argv.end(), program.begin(), program.end());
  for (int run = 0; run < repeat; ++run) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return Figure{};
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      return Figure{};
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (best.seconds < 0 || seconds < best.seconds) best.seconds = seconds;
    long peak = 0;
    std::ifstream(peakFile) >> peak;
    best.peakKiB = std::max(best.peakKiB, peak);
  }
  return best;
}

double LoadSeconds(const std::string& archive, int repeat, int* entries) {
  double best = -1;
  for (int run = 0; run < repeat; ++run) {
    const auto start = std::chrono::steady_clock::now();
    korbel::Korbel reader;
    if (reader.Open(archive.c_str(), korbel::kReadOnly, 9) != korbel::kOk) return -1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *entries = reader.EntryCount();
    reader.Close();
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

void Print(const char* what, const Figure& figure, const Figure& unzip, std::uint32_t entries) {
  if (figure.seconds < 0) {
    std::printf("  %-12s skipped (missing or failed)\n", what);
    return;
  }
  std::printf("  %-12s %8.3f s  %8ld KiB  %6.1f B/entry", what, figure.seconds, figure.peakKiB,
              1024.0 * static_cast<double>(figure.peakKiB) / entries);
  if (unzip.seconds > 0) std::printf("  %5.2fx unzip -l", figure.seconds / unzip.seconds);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string korbelTool = (std::filesystem::path(argv[0]).parent_path().parent_path() / "korbel").string();
  int repeat = 3;
  std::uint32_t largest = 1000000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--korbel") == 0) korbelTool = argv[i + 1];
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--largest") == 0) largest = static_cast<std::uint32_t>(std::atol(argv[i + 1]));
  }
  std::filesystem::create_directories(kFolder);
  std::printf("scale: tiny stored entries, best of %d; peak memory of each program\n", repeat);
  const std::vector<std::uint32_t> sizes = {largest / 10, largest / 4, largest / 2, largest};
  double firstList = -1, firstTest = -1, firstPeer = -1;
  for (std::uint32_t entries : sizes) {
    const std::string archive = std::string(kFolder) + "/scale-" + std::to_string(entries) + ".zip";
    if (!std::filesystem::exists(archive) && !MakeArchive(archive, entries)) {
      std::printf("cannot write %s\n", archive.c_str());
      return 1;
    }
    int loaded = 0;
    const double load = LoadSeconds(archive, repeat, &loaded);
    std::printf("%u entries (%ld MB):\n", entries,
                static_cast<long>(std::filesystem::file_size(archive) >> 20));
    if (load < 0 || loaded != static_cast<int>(entries)) {
      std::printf("  load failed (%d entries)\n", loaded);
      return 1;
    }
    const Figure unzip = RunProgram({"/usr/bin/unzip", "-l", archive}, repeat);
    const Figure list = RunProgram({korbelTool, "l", archive}, repeat);
    const Figure test = RunProgram({korbelTool, "t", archive}, repeat);
    const Figure peer = RunProgram({"/usr/bin/7zz", "l", archive}, repeat);
    std::printf("  %-12s %8.3f s", "load", load);
    if (unzip.seconds > 0)
      std::printf("                                %5.2fx unzip -l", load / unzip.seconds);
    std::printf("\n");
    Print("korbel l", list, unzip, entries);
    Print("korbel t", test, unzip, entries);
    Print("unzip -l", unzip, unzip, entries);
    Print("7zz l", peer, unzip, entries);
    if (firstList < 0) {
      firstList = list.seconds;
      firstTest = test.seconds;
      firstPeer = unzip.seconds;
    } else if (entries == largest && firstList > 0 && firstTest > 0) {
      const double factor = static_cast<double>(entries) / sizes.front();
      std::printf("  %.0fx the entries: korbel l %.1fx, korbel t %.1fx, unzip -l %.1fx the time\n", factor,
                  list.seconds / firstList, test.seconds / firstTest,
                  firstPeer > 0 ? unzip.seconds / firstPeer : 0.0);
    }
  }
  std::printf("goals at 1 000 000: l and t <= 0.5x unzip -l, <= 250 B/entry, 10x entries <= 11x time\n");
  return 0;
}
