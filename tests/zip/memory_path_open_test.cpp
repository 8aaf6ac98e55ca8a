// Opening an archive through a "mem:" pseudo path: the address in the text
// is followed only into a block a caller of this process handed over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zip/io/memory_blocks.h"
#include "zip/io/pseudo_path.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

TEST(MemoryPathOpen, MadeUpAddressesAreRefusedWithoutBeingFollowed) {
  Korbel archive;
  // Unmapped, odd and null addresses: each would crash if it were read.
  for (const char* path : {"mem://DEAD0000-100", "mem:\\\\DEAD0000-100\\50", "mem://00000000-100",
                           "mem://FFFFFFFFFFFF0000-4096"}) {
    SCOPED_TRACE(path);
    for (std::uint32_t mode : {static_cast<std::uint32_t>(kReadOnly), static_cast<std::uint32_t>(kModify),
                               static_cast<std::uint32_t>(kCreate)}) {
      EXPECT_EQ(archive.Open(path, mode, 9), kNotFound);
      EXPECT_EQ(archive.LastError(), kNotFound);
    }
  }
}

TEST(MemoryPathOpen, AHandedBlockReopensByItsPathWithinItsCapacity) {
  std::vector<unsigned char> block(4096);
  Korbel archive;
  ASSERT_EQ(archive.OpenMemory(block.data(), static_cast<std::int64_t>(block.size()), 0, 0), kOk);
  ASSERT_EQ(archive.AddFromMemory("note.txt", "hello", 5, nullptr), kOk);
  ASSERT_EQ(archive.Close(), kOk);
  // The used size is not known to the caller here; the end record is found
  // inside the whole block.
  const std::string path = FormatMemoryPath(block.data(), static_cast<std::int32_t>(block.size()), -1);
  ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
  EXPECT_EQ(archive.EntryCount(), 1);
  archive.Close();
  // More than was handed over would read past the block's end.
  const std::string larger = FormatMemoryPath(block.data(), static_cast<std::int32_t>(block.size() + 1), -1);
  EXPECT_EQ(archive.Open(larger.c_str(), kReadOnly, 9), kNotFound);
  // Another address inside the block was never handed over as a block.
  const std::string inside = FormatMemoryPath(block.data() + 16, 100, -1);
  EXPECT_EQ(archive.Open(inside.c_str(), kReadOnly, 9), kNotFound);
}

TEST(MemoryPathOpen, BlockTableRemembersTheLargestCapacity) {
  static unsigned char block[64];
  EXPECT_FALSE(IsKnownMemoryBlock(block, 1));
  NoteMemoryBlock(block, 32);
  EXPECT_TRUE(IsKnownMemoryBlock(block, 32));
  EXPECT_FALSE(IsKnownMemoryBlock(block, 33));
  NoteMemoryBlock(block, 64);
  NoteMemoryBlock(block, 16);
  EXPECT_TRUE(IsKnownMemoryBlock(block, 64));
  NoteMemoryBlock(nullptr, 100);
  EXPECT_FALSE(IsKnownMemoryBlock(nullptr, 1));
}

}  // namespace
}  // namespace korbel
