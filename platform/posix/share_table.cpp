#include "platform/posix/share_table.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace posix {

namespace {

struct OpenFileRecord {
  int fd;
  dev_t device;
  ino_t inode;
  std::uint32_t access;
  std::uint32_t share;
};

struct ShareTable {
  std::mutex mutex;
  std::vector<OpenFileRecord> records;
};

ShareTable& Table() {
  static ShareTable table;
  return table;
}

// Each side must share what the other side uses.
bool Conflicts(const OpenFileRecord& open, std::uint32_t access, std::uint32_t share) {
  const bool newRead = (access & kAccessRead) != 0, newWrite = (access & kAccessWrite) != 0;
  const bool oldRead = (open.access & kAccessRead) != 0, oldWrite = (open.access & kAccessWrite) != 0;
  return (newRead && (open.share & kShareRead) == 0) || (newWrite && (open.share & kShareWrite) == 0) ||
         (oldRead && (share & kShareRead) == 0) || (oldWrite && (share & kShareWrite) == 0);
}

void EraseFd(std::vector<OpenFileRecord>* records, int fd) {
  records->erase(std::remove_if(records->begin(), records->end(),
                                [fd](const OpenFileRecord& record) { return record.fd == fd; }),
                 records->end());
}

}  // namespace

bool AddOpenFile(int fd, dev_t device, ino_t inode, std::uint32_t access, std::uint32_t share) {
  ShareTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  // A descriptor closed behind our back may have been handed out again.
  EraseFd(&table.records, fd);
  for (const OpenFileRecord& open : table.records) {
    if (open.device == device && open.inode == inode && Conflicts(open, access, share)) return false;
  }
  table.records.push_back({fd, device, inode, access, share});
  return true;
}

void RemoveOpenFile(int fd) {
  ShareTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  EraseFd(&table.records, fd);
}

bool IsFileOpen(dev_t device, ino_t inode) {
  ShareTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return std::any_of(table.records.begin(), table.records.end(), [&](const OpenFileRecord& open) {
    return open.device == device && open.inode == inode && (open.share & kShareDelete) == 0;
  });
}

}  // namespace posix
}  // namespace platform
