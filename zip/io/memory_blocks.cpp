#include "zip/io/memory_blocks.h"

#include <map>
#include <mutex>

namespace korbel {
namespace {

struct BlockTable {
  std::mutex mutex;
  std::map<std::uintptr_t, std::int64_t> capacities;  // by address
};

BlockTable& Blocks() {
  static BlockTable table;
  return table;
}

}  // namespace

void NoteMemoryBlock(const void* block, std::int64_t capacity) {
  if (block == nullptr || capacity <= 0) return;
  BlockTable& table = Blocks();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::int64_t& known = table.capacities[reinterpret_cast<std::uintptr_t>(block)];
  if (capacity > known) known = capacity;
}

bool IsKnownMemoryBlock(const void* block, std::int64_t capacity) {
  BlockTable& table = Blocks();
  std::lock_guard<std::mutex> lock(table.mutex);
  const auto found = table.capacities.find(reinterpret_cast<std::uintptr_t>(block));
  return found != table.capacities.end() && capacity <= found->second;
}

}  // namespace korbel
