// The fault sweep shared by the packing, compaction and extraction tests: a
// clean run counts the platform calls of each operation, then the run is
// repeated once for every operation, every call index and every fault kind
// that makes sense for that operation, with just that one call failing.
#ifndef PAKKARO_TESTS_ZIP_FAULT_SWEEP_H
#define PAKKARO_TESTS_ZIP_FAULT_SWEEP_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"
#include "zip/error_codes.h"
#include "zip/korbel.h"

namespace fault_sweep {

using testing_support::Bytes;
// Stored name -> content.
using Files = std::map<std::string, Bytes>;

// Every file below `folder` with its content, by path relative to it.
inline Files Tree(const std::string& folder) {
  Files tree;
  std::error_code error;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder, error)) {
    if (!item.is_regular_file()) continue;
    tree[std::filesystem::relative(item.path(), folder).generic_string()] =
        testing_support::ReadFile(item.path().string());
  }
  return tree;
}

// Writes `files` below `folder` and packs all of them, recursing, into a new
// archive at `path`.
inline void PackTree(const Files& files, const testing_support::TempDir& folder, const std::string& path) {
  for (const auto& file : files) ASSERT_TRUE(testing_support::WriteFile(folder / file.first, file.second));
  korbel::Korbel archive;
  ASSERT_EQ(archive.Open(path.c_str(), korbel::kCreate, 9), korbel::kOk);
  archive.Options(archive.Options(-2) | korbel::kRecurse);
  ASSERT_EQ(archive.AddFiles((folder.Path() + "/").c_str(), "*", "", nullptr),
            static_cast<int>(files.size()));
  ASSERT_EQ(archive.Close(), korbel::kOk);
}

struct OperationFaults {
  platform::Operation op;
  const char* name;
  std::vector<platform::FaultKind> kinds;
};

// Short reads and writes are what a full disk or a failing device really
// does; the other kinds stand for a call refused outright.
inline const std::vector<OperationFaults>& FaultTable() {
  using platform::FaultKind;
  using platform::Operation;
  static const std::vector<OperationFaults> table = {
      {Operation::kOpenFile, "open", {FaultKind::kFail, FaultKind::kAccessDenied}},
      {Operation::kReadFile, "read", {FaultKind::kFail, FaultKind::kShortRead}},
      {Operation::kWriteFile, "write", {FaultKind::kDiskFull, FaultKind::kShortWrite}},
      {Operation::kSeekFile, "seek", {FaultKind::kFail}},
      {Operation::kTruncateFile, "truncate", {FaultKind::kFail}},
      {Operation::kCloseFile, "close", {FaultKind::kFail}},
      {Operation::kCreateDirectory, "createdir", {FaultKind::kAccessDenied}},
      {Operation::kDeleteFile, "delete", {FaultKind::kAccessDenied}},
      {Operation::kFileMapping, "mapping", {FaultKind::kFail}},
      {Operation::kFlushFile, "flush", {FaultKind::kFail}},
  };
  return table;
}

inline const char* KindName(platform::FaultKind kind) {
  switch (kind) {
    case platform::FaultKind::kFail:
      return "fail";
    case platform::FaultKind::kAccessDenied:
      return "access-denied";
    case platform::FaultKind::kDiskFull:
      return "disk-full";
    case platform::FaultKind::kShortWrite:
      return "short-write";
    case platform::FaultKind::kShortRead:
      return "short-read";
  }
  return "?";
}

struct Case {
  platform::Operation op;
  std::uint32_t call;  // 1-based index among the calls of `op`
  platform::FaultKind kind;
  std::string where;  // "write 3/17 disk-full", for failure messages
};

// The calls each operation makes during `run`.
inline std::map<platform::Operation, std::uint32_t> CountCalls(const std::function<void()>& run) {
  platform::ClearFaults();
  platform::CountCalls();
  run();
  std::map<platform::Operation, std::uint32_t> counts;
  for (const OperationFaults& row : FaultTable()) counts[row.op] = platform::CallCount(row.op);
  platform::ClearFaults();
  return counts;
}

// Every case of the sweep for these counts; `stride` > 1 keeps every
// stride-th call index of each operation (and always the last one).
inline std::vector<Case> Cases(const std::map<platform::Operation, std::uint32_t>& counts,
                               std::uint32_t stride = 1) {
  std::vector<Case> cases;
  for (const OperationFaults& row : FaultTable()) {
    const std::uint32_t count = counts.at(row.op);
    for (std::uint32_t call = 1; call <= count; ++call) {
      if (stride > 1 && call % stride != 1 && call != count) continue;
      for (const platform::FaultKind kind : row.kinds) {
        cases.push_back({row.op, call, kind,
                         std::string(row.name) + " " + std::to_string(call) + "/" + std::to_string(count) +
                             " " + KindName(kind)});
      }
    }
  }
  return cases;
}

// Arms the one fault of `c` for the length of a scope.
class ArmedFault {
 public:
  explicit ArmedFault(const Case& c) {
    platform::ClearFaults();
    platform::InjectFault(c.op, static_cast<int>(c.call), c.kind);
  }
  ~ArmedFault() { platform::ClearFaults(); }
  ArmedFault(const ArmedFault&) = delete;
  ArmedFault& operator=(const ArmedFault&) = delete;
};

// What our reader makes of an archive file.
struct ReadBack {
  int openResult = korbel::kOk;  // not kOk: the reader refused the archive
  Files files;
  std::vector<std::string> unreadable;  // entries listed whose data failed to read
};

inline ReadBack ReadArchive(const std::string& path) {
  ReadBack back;
  korbel::Korbel archive;
  back.openResult = archive.Open(path.c_str(), korbel::kReadOnly, 9);
  if (back.openResult != korbel::kOk) return back;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    if (archive.IsFolder(i)) continue;
    Bytes data;
    const std::string name = archive.EntryName(i);
    if (archive.ReadEntry(i, &data, entry_bytes::AppendToBytes, nullptr) != korbel::kOk) {
      back.unreadable.push_back(name);
    } else {
      back.files[name] = data;
    }
  }
  archive.Close();
  return back;
}

// The names of `files`, for messages.
inline std::string Names(const Files& files) {
  std::string names;
  for (const auto& file : files) names += file.first + " ";
  return names;
}

// True when every file the archive holds is one of `expected`, byte for byte.
inline bool EveryFileExact(const Files& found, const Files& expected) {
  for (const auto& file : found) {
    const auto it = expected.find(file.first);
    if (it == expected.end() || it->second != file.second) return false;
  }
  return true;
}

// Independent readers agree that the archive is sound; a missing one marks
// the test skipped.
inline ::testing::AssertionResult IndependentReadersAccept(const std::string& path) {
  using testing_support::Reader;
  return testing_support::ReadersAccept(path, {Reader::kUnzip, Reader::kPython});
}

}  // namespace fault_sweep

#endif  // PAKKARO_TESTS_ZIP_FAULT_SWEEP_H
