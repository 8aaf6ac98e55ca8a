// PpmdModel: the context model of PPMd variant I revision 1, and the coding of one
// symbol through it in either direction.
#ifndef PAKKARO_ZIP_CODEC_PPMD_MODEL_H
#define PAKKARO_ZIP_CODEC_PPMD_MODEL_H

#include <cstdint>

#include "zip/codec/ppmd_allocator.h"

namespace korbel {

class PpmdRangeDecoder;
class PpmdRangeEncoder;

// Context model of PPMd variant I revision 1, shared by both directions: contexts of
// order 0..maxOrder over the preceding bytes, each with its symbol statistics; escapes
// to shorter contexts priced by secondary escape estimation (SEE); binary contexts
// priced by an adaptive table; and a policy for when the model memory runs out.
// Encoder and decoder stay in step because they run the same updates on the same
// symbols.
class PpmdModel {
 public:
  // Longest order the model structures allow; zip streams use at most 16.
  static constexpr int kMaxOrder = 64;
  // What happens when the model memory runs out.
  static constexpr int kRestart = 0;  // start again with an empty model
  static constexpr int kCutOff = 1;   // prune the context tree back to 3/4 of the memory
  // 2 (freeze) is run as kCutOff, the way common decoders run such streams.

  PpmdModel();

  // Reserves `memorySize` bytes of model memory; false when not available.
  bool Allocate(uint32_t memorySize);
  // Starts an empty model; needs a successful Allocate first.
  void Init(int maxOrder, int restoreMethod);

  // Codes one byte; symbol -1 codes the end mark (an escape through every order).
  void EncodeSymbol(PpmdRangeEncoder& coder, int symbol);
  // Returns the byte, -1 for the end mark, or -2 when the stream is corrupt.
  int DecodeSymbol(PpmdRangeDecoder& coder);

  // Allocator state, visible to tests of the memory policy.
  const PpmdAllocator& Allocator() const { return alloc_; }

 private:
  // Adaptive escape estimate: summ / 2^shift is the current escape frequency.
  struct See {
    uint16_t summ;
    uint8_t shift;
    uint8_t count;  // steps left until the estimate is sharpened (shift raised)
    void Update();
  };

  PpmdContext* ContextAt(uint32_t ref) const { return alloc_.ContextAt(ref); }
  PpmdContext* SuffixOf(const PpmdContext* c) const { return alloc_.ContextAt(c->Suffix()); }
  PpmdState* StatsOf(const PpmdContext* c) const { return alloc_.StatesAt(c->Stats()); }
  uint32_t Ref(const void* p) const { return alloc_.Ref(p); }
  PpmdState* FindState(PpmdContext* c, uint8_t symbol) const;

  void RestartModel();
  void RestoreModel(PpmdContext* stop);
  uint32_t CutOff(PpmdContext* ctx, int order);
  void Refresh(PpmdContext* ctx, unsigned oldNu, unsigned scale);
  PpmdContext* CreateSuccessors(bool skip, PpmdState* suffixState, PpmdContext* c);
  PpmdContext* ReduceOrder(PpmdState* suffixState, PpmdContext* c);
  void UpdateModel();
  void Rescale();
  void NextContext();
  void UpdateFirst();
  void UpdateNext();
  void UpdateAfterEscape();
  void UpdateBinary();
  See* MakeEscFreq(unsigned maskedNumStats, uint32_t* escFreq);
  // After an escape: decodes in the shorter contexts, skipping the symbols
  // that charMask_ has ruled out; answers as DecodeSymbol does.
  int DecodeMasked(PpmdRangeDecoder& coder);
  // The encoder's side of DecodeMasked.
  void EncodeMasked(PpmdRangeEncoder& coder, int symbol);
  uint16_t* BinSumm(PpmdContext* mc);

  PpmdAllocator alloc_;
  PpmdContext* minContext_ = nullptr;  // context the next symbol is coded in
  PpmdContext* maxContext_ = nullptr;  // longest context of the current position
  PpmdState* foundState_ = nullptr;    // state of the symbol just coded
  int maxOrder_ = 0;
  int restoreMethod_ = kRestart;
  int orderFall_ = 0;     // orders lost since the model last followed a full-length context
  unsigned initEsc_ = 0;  // escape frequency for a binary context that gains its 2nd symbol
  unsigned prevSuccess_ = 0;
  // Run of successful predictions; counts up from a negative start, so bit 31 tells
  // "still in the starting stretch". Wraps like 32-bit arithmetic.
  uint32_t runLength_ = 0;
  uint32_t initRunLength_ = 0;
  uint8_t ns2Index_[260];    // symbol count -> SEE / binary table row
  uint8_t ns2BsIndex_[256];  // suffix symbol count -> binary table column group
  See see_[24][32];
  See dummySee_;
  uint16_t binSumm_[25][64];
  uint8_t charMask_[256];  // 0xFF for symbols not yet excluded by an escape
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_PPMD_MODEL_H
