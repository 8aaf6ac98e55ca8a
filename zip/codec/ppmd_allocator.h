// PpmdAllocator: the sub-allocator of the PPMd model memory (12-byte units in 38
// size classes, a text area below them), and the record layouts placed in it.
#ifndef PAKKARO_ZIP_CODEC_PPMD_ALLOCATOR_H
#define PAKKARO_ZIP_CODEC_PPMD_ALLOCATOR_H

#include <cstdint>
#include <cstring>
#include <memory>

namespace korbel {

// The model memory holds three kinds of 12-byte records (a context, two symbol states,
// a free-list node) and the text area. Records are plain byte arrays placed over the
// arena, so that one unit can change its kind; 16- and 32-bit fields go through memcpy.
inline uint16_t PpmdLoad16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void PpmdStore16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, sizeof v); }
inline uint32_t PpmdLoad32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void PpmdStore32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

// One symbol of a context. The successor is a reference into the model memory: a
// context (at or above the unit area's start), a position in the text area (the
// context to be built later from the text that followed), or 0.
struct PpmdState {
  uint8_t symbol;
  uint8_t freq;
  uint8_t successor[4];

  uint32_t Successor() const { return PpmdLoad32(successor); }
  void SetSuccessor(uint32_t ref) { PpmdStore32(successor, ref); }
};
static_assert(sizeof(PpmdState) == 6, "two states share one unit");

struct PpmdContext {
  uint8_t numStats;     // symbols - 1; 0: a binary context whose one state is held inline
  uint8_t flags;        // 0x04 rescaled, 0x08 holds a symbol >= 0x40, 0x10 reached by one
  uint8_t summFreq[2];  // frequency total incl. escape; inline state bytes 0-1 when binary
  uint8_t stats[4];     // reference of the state array; inline state bytes 2-5 when binary
  uint8_t suffix[4];    // reference of the context one order shorter, 0 at order 0

  uint16_t SummFreq() const { return PpmdLoad16(summFreq); }
  void SetSummFreq(unsigned v) { PpmdStore16(summFreq, static_cast<uint16_t>(v)); }
  uint32_t Stats() const { return PpmdLoad32(stats); }
  void SetStats(uint32_t ref) { PpmdStore32(stats, ref); }
  uint32_t Suffix() const { return PpmdLoad32(suffix); }
  void SetSuffix(uint32_t ref) { PpmdStore32(suffix, ref); }
  PpmdState* OneState() { return reinterpret_cast<PpmdState*>(reinterpret_cast<uint8_t*>(this) + 2); }
};
static_assert(sizeof(PpmdContext) == 12, "a context is one unit");

// Sub-allocator of the model memory. The text area grows up from the start; units are
// handed out from the top (contexts, downwards) and from the bottom of the unit area
// (state arrays, upwards), and recycled through 38 free lists of block sizes 1..128
// units. How blocks are split, glued and reused decides when the memory runs out, and
// with it when the model restarts, so both directions of the coder must do it alike.
class PpmdAllocator {
 public:
  static constexpr uint32_t kUnitSize = 12;
  static constexpr unsigned kIndexCount = 38;
  static constexpr unsigned kMaxUnits = 128;

  PpmdAllocator();

  // Reserves `size` bytes of model memory (plus the alignment gap and a guard unit).
  // False when the memory is not available.
  bool Allocate(uint32_t size);
  uint32_t Size() const { return size_; }

  // Forgets every record: empty free lists, text area at its start, units all unused.
  void Restart();

  uint32_t Ref(const void* p) const { return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - base_); }
  uint8_t* Ptr(uint32_t ref) const { return base_ + ref; }
  PpmdContext* ContextAt(uint32_t ref) const { return reinterpret_cast<PpmdContext*>(base_ + ref); }
  PpmdState* StatesAt(uint32_t ref) const { return reinterpret_cast<PpmdState*>(base_ + ref); }

  // Text area: the recent input, from which contexts are built lazily.
  uint32_t TextRef() const { return Ref(text_); }
  void PutText(uint8_t symbol) { *text_++ = symbol; }
  void UnputText() { --text_; }
  bool TextFull() const { return text_ >= unitsStart_; }
  void ResetText(uint32_t offset) { text_ = base_ + kAlignOffset + offset; }
  // True when `ref` is a unit record; text positions and 0 lie below the unit area.
  bool IsUnit(uint32_t ref) const { return base_ + ref >= unitsStart_; }

  unsigned UnitsToIndex(unsigned nu) const { return units2Index_[nu - 1]; }
  unsigned IndexToUnits(unsigned index) const { return index2Units_[index]; }

  PpmdContext* AllocContext() {
    if (hiUnit_ != loUnit_) {
      hiUnit_ -= kUnitSize;
      return reinterpret_cast<PpmdContext*>(hiUnit_);
    }
    if (freeList_[0] != 0) return reinterpret_cast<PpmdContext*>(RemoveNode(0));
    return reinterpret_cast<PpmdContext*>(AllocUnitsRare(0));
  }
  uint8_t* AllocUnits(unsigned index) {
    if (freeList_[index] != 0) return RemoveNode(index);
    const uint32_t bytes = index2Units_[index] * kUnitSize;
    if (bytes <= static_cast<uint32_t>(hiUnit_ - loUnit_)) {
      uint8_t* block = loUnit_;
      loUnit_ += bytes;
      return block;
    }
    return AllocUnitsRare(index);
  }
  void InsertNode(void* block, unsigned index) {
    uint8_t* node = static_cast<uint8_t*>(block);
    PpmdStore32(node + kStampOffset, kEmptyStamp);
    PpmdStore32(node + kNextOffset, freeList_[index]);
    PpmdStore32(node + kUnitsOffset, index2Units_[index]);
    freeList_[index] = Ref(node);
    ++freeCount_[index];
  }
  void FreeUnits(void* block, unsigned nu) { InsertNode(block, UnitsToIndex(nu)); }

  // Cuts a block of `oldNu` units down to `newNu`: moved into a free block of the
  // smaller class when there is one, else split in place with the tail freed.
  uint8_t* ShrinkUnits(uint8_t* block, unsigned oldNu, unsigned newNu);
  // Grows a block by one size class, copying it; nullptr when memory has run out.
  uint8_t* ExpandUnits(uint8_t* block, unsigned oldNu);
  // Frees one unit; when it is the lowest unit the unit area simply shrinks.
  void SpecialFreeUnit(void* block);
  // Moves a block near the bottom of the unit area into a free block higher up, so
  // that the bottom can later be given back to the text area.
  uint8_t* MoveUnitsUp(uint8_t* block, unsigned nu);
  // Gives free blocks at the bottom of the unit area back to the text area.
  void ExpandTextArea();
  // Bytes held by records and text.
  uint32_t UsedMemory() const;
  // Makes the next failed search glue free blocks first.
  void ForceGlue() { glueCount_ = 0; }

 private:
  static constexpr uint32_t kAlignOffset = 4;  // keeps reference 0 free as "none"
  static constexpr uint32_t kEmptyStamp = 0xFFFFFFFFu;
  // Free-node layout inside its first unit.
  static constexpr unsigned kStampOffset = 0;
  static constexpr unsigned kNextOffset = 4;
  static constexpr unsigned kUnitsOffset = 8;

  uint8_t* RemoveNode(unsigned index) {
    uint8_t* node = base_ + freeList_[index];
    freeList_[index] = PpmdLoad32(node + kNextOffset);
    --freeCount_[index];
    return node;
  }
  uint8_t* End() const { return base_ + kAlignOffset + size_; }
  uint8_t* AllocUnitsRare(unsigned index);
  void SplitBlock(uint8_t* block, unsigned oldIndex, unsigned newIndex);
  void GlueFreeBlocks();
  // Splits a run of `nu` free units starting at `node` over the free lists.
  void InsertRun(uint8_t* node, uint32_t nu);

  struct FreeMemory {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t[], FreeMemory> memory_;
  uint8_t* base_ = nullptr;
  uint32_t size_ = 0;
  uint8_t* text_ = nullptr;        // next free byte of the text area
  uint8_t* unitsStart_ = nullptr;  // lowest unit; the text area ends here
  uint8_t* loUnit_ = nullptr;      // untouched units lie in [loUnit_, hiUnit_)
  uint8_t* hiUnit_ = nullptr;
  uint32_t glueCount_ = 0;  // failed searches left before free blocks are glued again
  uint32_t freeList_[kIndexCount] = {};
  uint32_t freeCount_[kIndexCount] = {};
  uint8_t index2Units_[kIndexCount] = {};
  uint8_t units2Index_[kMaxUnits] = {};
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_PPMD_ALLOCATOR_H
