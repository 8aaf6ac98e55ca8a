// The memory blocks that callers of this process handed to the engine. A
// "mem:" pseudo path holds a bare address, which anyone can type: it is
// honoured only for a block in this table, never followed blindly.
#ifndef PAKKARO_ZIP_IO_MEMORY_BLOCKS_H
#define PAKKARO_ZIP_IO_MEMORY_BLOCKS_H

#include <cstdint>

namespace korbel {

// Records a caller's block of `capacity` bytes (a larger capacity given for
// the same block later replaces the smaller one).
void NoteMemoryBlock(const void* block, std::int64_t capacity);
// True when `block` was handed over with at least `capacity` bytes.
bool IsKnownMemoryBlock(const void* block, std::int64_t capacity);

}  // namespace korbel

#endif  // PAKKARO_ZIP_IO_MEMORY_BLOCKS_H
