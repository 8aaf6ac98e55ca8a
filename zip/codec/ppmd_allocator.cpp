#include "zip/codec/ppmd_allocator.h"

#include <cstdlib>

namespace korbel {

PpmdAllocator::PpmdAllocator() {
  // Size classes: 1-4 units in steps of 1, then steps of 2, 3 and 4 up to 128 units.
  unsigned k = 0;
  for (unsigned i = 0; i < kIndexCount; ++i) {
    const unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
    for (unsigned n = 0; n < step; ++n) units2Index_[k++] = static_cast<uint8_t>(i);
    index2Units_[i] = static_cast<uint8_t>(k);
  }
}

void PpmdAllocator::FreeMemory::operator()(uint8_t* p) const { std::free(p); }

bool PpmdAllocator::Allocate(uint32_t size) {
  if (memory_ && size_ == size) return true;
  memory_.reset();
  base_ = nullptr;
  size_ = 0;
  // The zeroed guard unit past the end stops walks over neighbouring free blocks.
  const size_t total = static_cast<size_t>(kAlignOffset) + size + kUnitSize;
  // calloc: large blocks come as fresh zero pages that are touched only when used.
  memory_.reset(static_cast<uint8_t*>(std::calloc(total, 1)));
  if (!memory_) return false;
  base_ = memory_.get();
  size_ = size;
  return true;
}

void PpmdAllocator::Restart() {
  for (unsigned i = 0; i < kIndexCount; ++i) {
    freeList_[i] = 0;
    freeCount_[i] = 0;
  }
  ResetText(0);
  hiUnit_ = text_ + size_;
  loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
  glueCount_ = 0;
}

void PpmdAllocator::SplitBlock(uint8_t* block, unsigned oldIndex, unsigned newIndex) {
  const unsigned nu = index2Units_[oldIndex] - index2Units_[newIndex];
  uint8_t* rest = block + index2Units_[newIndex] * kUnitSize;
  unsigned i = UnitsToIndex(nu);
  if (index2Units_[i] != nu) {
    // No class of exactly nu units: a smaller class plus a remainder of 1-3 units.
    const unsigned k = index2Units_[--i];
    InsertNode(rest + k * kUnitSize, nu - k - 1);
  }
  InsertNode(rest, i);
}

void PpmdAllocator::InsertRun(uint8_t* node, uint32_t nu) {
  for (; nu > kMaxUnits; nu -= kMaxUnits, node += kMaxUnits * kUnitSize) {
    InsertNode(node, kIndexCount - 1);
  }
  unsigned i = UnitsToIndex(nu);
  if (index2Units_[i] != nu) {
    const unsigned k = index2Units_[--i];
    InsertNode(node + k * kUnitSize, nu - k - 1);
  }
  InsertNode(node, i);
}

void PpmdAllocator::GlueFreeBlocks() {
  glueCount_ = 1 << 13;
  for (unsigned i = 0; i < kIndexCount; ++i) freeCount_[i] = 0;

  // The first untouched unit must not pass for a free block.
  if (loUnit_ != hiUnit_) PpmdStore32(loUnit_ + kStampOffset, 0);

  // Chain every free block into one list in free-list order, merging each with the
  // free blocks that directly follow it (those keep a size of 0 and are skipped).
  uint32_t head = 0;
  uint8_t* linkField = nullptr;  // Next field of the last chained block
  for (unsigned i = 0; i < kIndexCount; ++i) {
    uint32_t next = freeList_[i];
    freeList_[i] = 0;
    while (next != 0) {
      uint8_t* node = base_ + next;
      uint32_t nu = PpmdLoad32(node + kUnitsOffset);
      const uint32_t ref = next;
      next = PpmdLoad32(node + kNextOffset);
      if (nu == 0) continue;
      if (linkField) {
        PpmdStore32(linkField, ref);
      } else {
        head = ref;
      }
      linkField = node + kNextOffset;
      for (;;) {
        uint8_t* follower = node + nu * kUnitSize;
        if (follower >= End() || PpmdLoad32(follower + kStampOffset) != kEmptyStamp) break;
        const uint32_t followerNu = PpmdLoad32(follower + kUnitsOffset);
        if (followerNu == 0) break;
        nu += followerNu;
        PpmdStore32(follower + kUnitsOffset, 0);
        PpmdStore32(node + kUnitsOffset, nu);
      }
    }
  }
  if (linkField) PpmdStore32(linkField, 0);

  for (uint32_t ref = head; ref != 0;) {
    uint8_t* node = base_ + ref;
    ref = PpmdLoad32(node + kNextOffset);
    const uint32_t nu = PpmdLoad32(node + kUnitsOffset);
    if (nu != 0) InsertRun(node, nu);
  }
}

uint8_t* PpmdAllocator::AllocUnitsRare(unsigned index) {
  if (glueCount_ == 0) {
    GlueFreeBlocks();
    if (freeList_[index] != 0) return RemoveNode(index);
  }
  unsigned i = index;
  do {
    if (++i == kIndexCount) {
      // No larger free block either: take the units from the top of the text area.
      const uint32_t bytes = index2Units_[index] * kUnitSize;
      --glueCount_;
      if (static_cast<uint32_t>(unitsStart_ - text_) > bytes) {
        unitsStart_ -= bytes;
        return unitsStart_;
      }
      return nullptr;
    }
  } while (freeList_[i] == 0);
  uint8_t* block = RemoveNode(i);
  SplitBlock(block, i, index);
  return block;
}

uint8_t* PpmdAllocator::ShrinkUnits(uint8_t* block, unsigned oldNu, unsigned newNu) {
  const unsigned i0 = UnitsToIndex(oldNu);
  const unsigned i1 = UnitsToIndex(newNu);
  if (i0 == i1) return block;
  if (freeList_[i1] != 0) {
    uint8_t* moved = RemoveNode(i1);
    std::memcpy(moved, block, newNu * kUnitSize);
    InsertNode(block, i0);
    return moved;
  }
  SplitBlock(block, i0, i1);
  return block;
}

uint8_t* PpmdAllocator::ExpandUnits(uint8_t* block, unsigned oldNu) {
  const unsigned i = UnitsToIndex(oldNu);
  uint8_t* grown = AllocUnits(i + 1);
  if (!grown) return nullptr;
  std::memcpy(grown, block, oldNu * kUnitSize);
  InsertNode(block, i);
  return grown;
}

void PpmdAllocator::SpecialFreeUnit(void* block) {
  if (block != unitsStart_) {
    InsertNode(block, 0);
  } else {
    unitsStart_ += kUnitSize;
  }
}

uint8_t* PpmdAllocator::MoveUnitsUp(uint8_t* block, unsigned nu) {
  const unsigned index = UnitsToIndex(nu);
  if (block > unitsStart_ + 16 * 1024 || Ref(block) > freeList_[index]) return block;
  uint8_t* moved = RemoveNode(index);
  std::memcpy(moved, block, nu * kUnitSize);
  if (block != unitsStart_) {
    InsertNode(block, index);
  } else {
    unitsStart_ += index2Units_[index] * kUnitSize;
  }
  return moved;
}

void PpmdAllocator::ExpandTextArea() {
  uint32_t count[kIndexCount] = {};
  if (loUnit_ != hiUnit_) PpmdStore32(loUnit_ + kStampOffset, 0);

  // Free blocks at the bottom of the unit area join the text area; their stamp is
  // cleared so that they can be found and unlinked from their free lists below.
  while (unitsStart_ < End() && PpmdLoad32(unitsStart_ + kStampOffset) == kEmptyStamp) {
    const uint32_t nu = PpmdLoad32(unitsStart_ + kUnitsOffset);
    if (nu == 0 || nu > kMaxUnits) break;
    PpmdStore32(unitsStart_ + kStampOffset, 0);
    ++count[UnitsToIndex(nu)];
    unitsStart_ += nu * kUnitSize;
  }

  for (unsigned i = 0; i < kIndexCount; ++i) {
    uint32_t* link = &freeList_[i];
    uint8_t* linkField = nullptr;  // nullptr: the link is the list head itself
    while (count[i] != 0) {
      const uint32_t ref = linkField ? PpmdLoad32(linkField) : *link;
      if (ref == 0) break;
      uint8_t* node = base_ + ref;
      if (PpmdLoad32(node + kStampOffset) == 0) {
        const uint32_t next = PpmdLoad32(node + kNextOffset);
        if (linkField) {
          PpmdStore32(linkField, next);
        } else {
          *link = next;
        }
        --freeCount_[i];
        --count[i];
      } else {
        linkField = node + kNextOffset;
      }
    }
  }
}

uint32_t PpmdAllocator::UsedMemory() const {
  uint32_t freeUnits = 0;
  for (unsigned i = 0; i < kIndexCount; ++i) freeUnits += freeCount_[i] * index2Units_[i];
  return size_ - static_cast<uint32_t>(hiUnit_ - loUnit_) - static_cast<uint32_t>(unitsStart_ - text_) -
         freeUnits * kUnitSize;
}

}  // namespace korbel
