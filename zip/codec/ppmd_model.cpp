#include "zip/codec/ppmd_model.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "zip/codec/ppmd_range_coder.h"

namespace korbel {

namespace {

constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinScale = 1u << (kIntBits + kPeriodBits);

// Starting escape probabilities of binary contexts, per column group of the table.
constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
// Escape frequency a binary context brings when it gains its second symbol, by how
// likely its escape had become.
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

// Binary contexts whose successor chain goes this deep or shallower survive a cut-off
// even without a successor.
constexpr int kCutOffKeepOrder = 9;

inline unsigned HighFlag(unsigned symbol) { return symbol >= 0x40 ? 0x08 : 0; }

// Moves a binary probability towards the 0 branch (hit) or the 1 branch (escape) by
// 1/128 of the distance.
inline uint16_t ProbAfterHit(unsigned prob) {
  return static_cast<uint16_t>(prob + (1u << kIntBits) - ((prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
}
inline uint16_t ProbAfterEscape(unsigned prob) {
  return static_cast<uint16_t>(prob - ((prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
}

inline void AddSummFreq(PpmdContext* c, unsigned add) { c->SetSummFreq(c->SummFreq() + add); }

}  // namespace

inline void PpmdModel::See::Update() {
  if (shift < kPeriodBits && --count == 0) {
    summ = static_cast<uint16_t>(summ << 1);
    count = static_cast<uint8_t>(3u << shift++);
  }
}

PpmdModel::PpmdModel() {
  for (unsigned i = 0; i < 5; ++i) ns2Index_[i] = static_cast<uint8_t>(i);
  // Rows widen by one count per step: 5 | 6 6 | 7 7 7 | 8 8 8 8 | ...
  for (unsigned i = 5, row = 5, left = 1; i < 260; ++i) {
    ns2Index_[i] = static_cast<uint8_t>(row);
    if (--left == 0) left = ++row - 4;
  }
  ns2BsIndex_[0] = 0;
  ns2BsIndex_[1] = 2;
  std::memset(ns2BsIndex_ + 2, 4, 9);
  std::memset(ns2BsIndex_ + 11, 6, 256 - 11);
  std::memset(see_, 0, sizeof see_);
  std::memset(binSumm_, 0, sizeof binSumm_);
  std::memset(charMask_, 0xFF, sizeof charMask_);
  // Contexts with all 256 symbols use a fixed escape estimate: at the full shift it
  // never adapts.
  dummySee_ = See{0, static_cast<uint8_t>(kPeriodBits), 64};
}

bool PpmdModel::Allocate(uint32_t memorySize) { return alloc_.Allocate(memorySize); }

void PpmdModel::Init(int maxOrder, int restoreMethod) {
  maxOrder_ = maxOrder;
  restoreMethod_ = restoreMethod;
  // A model reused for another stream starts as a new one would.
  initEsc_ = 0;
  RestartModel();
}

inline PpmdState* PpmdModel::FindState(PpmdContext* c, uint8_t symbol) const {
  // Every symbol of a context is also in its suffix; the bound only keeps a damaged
  // model inside its memory.
  PpmdState* s = StatsOf(c);
  PpmdState* const last = s + c->numStats;
  while (s->symbol != symbol && s != last) ++s;
  return s;
}

void PpmdModel::RestartModel() {
  alloc_.Restart();
  orderFall_ = maxOrder_;
  initRunLength_ = static_cast<uint32_t>(-std::min(maxOrder_, 12) - 1);
  runLength_ = initRunLength_;
  prevSuccess_ = 0;

  PpmdContext* root = alloc_.AllocContext();
  root->SetSuffix(0);
  root->numStats = 255;
  root->flags = 0;
  root->SetSummFreq(256 + 1);
  PpmdState* s = reinterpret_cast<PpmdState*>(alloc_.AllocUnits(PpmdAllocator::kIndexCount - 1));
  root->SetStats(Ref(s));
  for (unsigned i = 0; i < 256; ++i) {
    s[i].symbol = static_cast<uint8_t>(i);
    s[i].freq = 1;
    s[i].SetSuccessor(0);
  }
  minContext_ = maxContext_ = root;
  foundState_ = s;

  // A row of either table serves several frequencies or symbol counts; it starts from
  // a value for the count just past the ones it serves.
  for (unsigned row = 0, n = 0; row < 25; ++row) {
    while (ns2Index_[n] == row) ++n;
    for (unsigned k = 0; k < 8; ++k) {
      const uint16_t value = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (n + 1));
      for (unsigned m = 0; m < 64; m += 8) binSumm_[row][k + m] = value;
    }
  }
  for (unsigned row = 0, n = 0; row < 24; ++row) {
    while (ns2Index_[n + 3] == row + 3) ++n;
    for (unsigned k = 0; k < 32; ++k) {
      see_[row][k].shift = kPeriodBits - 4;
      see_[row][k].summ = static_cast<uint16_t>((2 * n + 5) << see_[row][k].shift);
      see_[row][k].count = 7;
    }
  }
}

void PpmdModel::Refresh(PpmdContext* ctx, unsigned oldNu, unsigned scale) {
  unsigned i = ctx->numStats;
  PpmdState* s =
      reinterpret_cast<PpmdState*>(alloc_.ShrinkUnits(alloc_.Ptr(ctx->Stats()), oldNu, (i + 2) >> 1));
  ctx->SetStats(Ref(s));
  // A total near 2^15 would overflow once doubled: halve the frequencies then too.
  scale |= ctx->SummFreq() >= 0x8000 ? 1 : 0;
  unsigned flags = (ctx->flags & (0x10 + 0x04 * scale)) + HighFlag(s->symbol);
  unsigned escFreq = ctx->SummFreq() - s->freq;
  s->freq = static_cast<uint8_t>((s->freq + scale) >> scale);
  unsigned sumFreq = s->freq;
  do {
    ++s;
    escFreq -= s->freq;
    s->freq = static_cast<uint8_t>((s->freq + scale) >> scale);
    sumFreq += s->freq;
    flags |= HighFlag(s->symbol);
  } while (--i);
  ctx->SetSummFreq(sumFreq + ((escFreq + scale) >> scale));
  ctx->flags = static_cast<uint8_t>(flags);
}

uint32_t PpmdModel::CutOff(PpmdContext* ctx, int order) {
  // A context reached a second time through a shortcut successor may already have been
  // freed in this pass (its first bytes then hold the free-block stamp): drop the link.
  if (ctx->flags == 0xFF || !alloc_.IsUnit(Ref(ctx))) return 0;
  if (ctx->numStats == 0) {
    PpmdState* s = ctx->OneState();
    if (alloc_.IsUnit(s->Successor())) {
      const uint32_t successor = order < maxOrder_ ? CutOff(ContextAt(s->Successor()), order + 1) : 0;
      s->SetSuccessor(successor);
      if (successor != 0 || order <= kCutOffKeepOrder) return Ref(ctx);
    }
    alloc_.SpecialFreeUnit(ctx);
    return 0;
  }

  const unsigned nu = (ctx->numStats + 2u) >> 1;
  ctx->SetStats(Ref(alloc_.MoveUnitsUp(alloc_.Ptr(ctx->Stats()), nu)));
  PpmdState* const stats = StatsOf(ctx);
  // States that lead only into the (discarded) text area move to the end and drop out.
  int last = ctx->numStats;
  for (int k = last; k >= 0; --k) {
    PpmdState* s = stats + k;
    if (!alloc_.IsUnit(s->Successor())) {
      s->SetSuccessor(0);
      std::swap(*s, stats[last--]);
    } else if (order < maxOrder_) {
      s->SetSuccessor(CutOff(ContextAt(s->Successor()), order + 1));
    } else {
      s->SetSuccessor(0);
    }
  }

  if (last != ctx->numStats && order != 0) {
    ctx->numStats = static_cast<uint8_t>(last);
    if (last < 0) {
      alloc_.FreeUnits(stats, nu);
      alloc_.SpecialFreeUnit(ctx);
      return 0;
    }
    if (last == 0) {
      ctx->flags = static_cast<uint8_t>((ctx->flags & 0x10) + HighFlag(stats->symbol));
      *ctx->OneState() = *stats;
      alloc_.FreeUnits(stats, nu);
      ctx->OneState()->freq = static_cast<uint8_t>((ctx->OneState()->freq + 11u) >> 3);
    } else {
      Refresh(ctx, nu, ctx->SummFreq() > 16u * static_cast<unsigned>(last) ? 1 : 0);
    }
  }
  return Ref(ctx);
}

void PpmdModel::RestoreModel(PpmdContext* stop) {
  alloc_.ResetText(0);
  if (restoreMethod_ == kRestart) {
    RestartModel();
    return;
  }

  // Undo the half-done update: contexts from the longest down to `stop` had already
  // taken the new symbol; the rest up to the coding context lose a little weight.
  PpmdContext* c = maxContext_;
  for (; c != stop; c = SuffixOf(c)) {
    if (--c->numStats == 0) {
      PpmdState* s = StatsOf(c);
      c->flags = static_cast<uint8_t>((c->flags & 0x10) + HighFlag(s->symbol));
      *c->OneState() = *s;
      alloc_.SpecialFreeUnit(s);
      c->OneState()->freq = static_cast<uint8_t>((c->OneState()->freq + 11u) >> 3);
    } else {
      Refresh(c, (c->numStats + 3u) >> 1, 0);
    }
  }
  for (; c != minContext_; c = SuffixOf(c)) {
    if (c->numStats == 0) {
      PpmdState* s = c->OneState();
      s->freq = static_cast<uint8_t>(s->freq - (s->freq >> 1));
    } else {
      AddSummFreq(c, 4);
      if (c->SummFreq() > 128u + 4u * c->numStats) Refresh(c, (c->numStats + 2u) >> 1, 1);
    }
  }

  if (alloc_.UsedMemory() < (alloc_.Size() >> 1)) {
    RestartModel();
    return;
  }
  while (maxContext_->Suffix() != 0) maxContext_ = SuffixOf(maxContext_);
  // At least one pass, which also drops every link into the discarded text; each
  // further pass prunes one level more, until a quarter of the memory is free. A tree
  // that stops shrinking short of that is started afresh instead of forever.
  uint32_t used = alloc_.UsedMemory();
  int stalled = 0;
  do {
    CutOff(maxContext_, 0);
    alloc_.ExpandTextArea();
    const uint32_t now = alloc_.UsedMemory();
    stalled = now < used ? 0 : stalled + 1;
    used = now;
    if (stalled == 4) {
      RestartModel();
      return;
    }
  } while (used > 3 * (alloc_.Size() >> 2));
  alloc_.ForceGlue();
  orderFall_ = maxOrder_;
}

PpmdContext* PpmdModel::CreateSuccessors(bool skip, PpmdState* suffixState, PpmdContext* c) {
  const uint32_t upBranch = foundState_->Successor();
  const uint8_t symbol = foundState_->symbol;
  PpmdState* path[kMaxOrder + 1];
  unsigned depth = 0;
  if (!skip) path[depth++] = foundState_;

  // Walk down the suffixes while their states for this symbol still point at the same
  // text position: each of them gets a new context of its own.
  while (c->Suffix() != 0) {
    c = SuffixOf(c);
    PpmdState* s;
    if (suffixState) {
      s = suffixState;
      suffixState = nullptr;
    } else if (c->numStats != 0) {
      s = FindState(c, symbol);
      if (s->freq < kMaxFreq - 9) {
        ++s->freq;
        AddSummFreq(c, 1);
      }
    } else {
      s = c->OneState();
      s->freq = static_cast<uint8_t>(s->freq + ((SuffixOf(c)->numStats == 0) & (s->freq < 24)));
    }
    const uint32_t successor = s->Successor();
    if (successor != upBranch) {
      c = ContextAt(successor);
      if (depth == 0) return c;
      break;
    }
    if (depth == kMaxOrder + 1) return nullptr;
    path[depth++] = s;
  }

  // The new contexts all predict the byte that followed in the text.
  PpmdState up;
  up.symbol = *alloc_.Ptr(upBranch);
  up.SetSuccessor(upBranch + 1);
  const uint8_t flags = static_cast<uint8_t>(0x10 * (symbol >= 0x40) + HighFlag(up.symbol));
  if (c->numStats == 0) {
    up.freq = c->OneState()->freq;
  } else {
    const PpmdState* s = FindState(c, up.symbol);
    const uint32_t cf = s->freq - 1u;
    const uint32_t s0 = c->SummFreq() - c->numStats - cf;
    uint32_t freq;
    if (2 * cf <= s0) {
      freq = 5 * cf > s0 ? 1 : 0;
    } else {
      freq = s0 != 0 ? (cf + 2 * s0 - 3) / s0 : cf;
    }
    up.freq = static_cast<uint8_t>(1 + freq);
  }

  while (depth != 0) {
    PpmdContext* child = alloc_.AllocContext();
    if (!child) return nullptr;
    child->numStats = 0;
    child->flags = flags;
    *child->OneState() = up;
    child->SetSuffix(Ref(c));
    path[--depth]->SetSuccessor(Ref(child));
    c = child;
  }
  return c;
}

PpmdContext* PpmdModel::ReduceOrder(PpmdState* suffixState, PpmdContext* c) {
  PpmdContext* const start = c;
  const uint32_t upBranch = alloc_.TextRef();
  const uint8_t symbol = foundState_->symbol;
  PpmdState* s = nullptr;

  foundState_->SetSuccessor(upBranch);
  ++orderFall_;
  for (;;) {
    if (suffixState) {
      c = SuffixOf(c);
      s = suffixState;
      suffixState = nullptr;
    } else {
      if (c->Suffix() == 0) return c;
      c = SuffixOf(c);
      if (c->numStats != 0) {
        s = FindState(c, symbol);
        if (s->freq < kMaxFreq - 9) {
          s->freq = static_cast<uint8_t>(s->freq + 2);
          AddSummFreq(c, 2);
        }
      } else {
        s = c->OneState();
        s->freq = static_cast<uint8_t>(s->freq + (s->freq < 32));
      }
    }
    if (s->Successor() != 0) break;
    s->SetSuccessor(upBranch);
    ++orderFall_;
  }

  if (s->Successor() <= upBranch) {
    PpmdState* const saved = foundState_;
    foundState_ = s;
    PpmdContext* successor = CreateSuccessors(false, nullptr, c);
    s->SetSuccessor(successor ? Ref(successor) : 0);
    foundState_ = saved;
  }
  if (orderFall_ == 1 && start == maxContext_) {
    foundState_->SetSuccessor(s->Successor());
    alloc_.UnputText();
  }
  if (s->Successor() == 0) return nullptr;
  return ContextAt(s->Successor());
}

void PpmdModel::UpdateModel() {
  uint32_t fSuccessor = foundState_->Successor();
  const unsigned fFreq = foundState_->freq;
  const uint8_t fSymbol = foundState_->symbol;
  PpmdState* s = nullptr;

  // The symbol also gains weight one order down.
  if (fFreq < kMaxFreq / 4 && minContext_->Suffix() != 0) {
    PpmdContext* c = SuffixOf(minContext_);
    if (c->numStats == 0) {
      s = c->OneState();
      if (s->freq < 32) ++s->freq;
    } else {
      s = StatsOf(c);
      if (s->symbol != fSymbol) {
        s = FindState(c, fSymbol);
        if (s[0].freq >= s[-1].freq) {
          std::swap(s[0], s[-1]);
          --s;
        }
      }
      if (s->freq < kMaxFreq - 9) {
        s->freq = static_cast<uint8_t>(s->freq + 2);
        AddSummFreq(c, 2);
      }
    }
  }

  PpmdContext* c = maxContext_;
  if (orderFall_ == 0 && fSuccessor != 0) {
    PpmdContext* cs = CreateSuccessors(true, s, minContext_);
    if (!cs) {
      foundState_->SetSuccessor(0);
      RestoreModel(c);
    } else {
      foundState_->SetSuccessor(Ref(cs));
      maxContext_ = cs;
    }
    return;
  }

  alloc_.PutText(fSymbol);
  uint32_t successor = alloc_.TextRef();
  if (alloc_.TextFull()) {
    RestoreModel(c);
    return;
  }

  if (fSuccessor == 0) {
    PpmdContext* cs = ReduceOrder(s, minContext_);
    if (!cs) {
      RestoreModel(c);
      return;
    }
    fSuccessor = Ref(cs);
  } else if (!alloc_.IsUnit(fSuccessor)) {
    PpmdContext* cs = CreateSuccessors(false, s, minContext_);
    if (!cs) {
      RestoreModel(c);
      return;
    }
    fSuccessor = Ref(cs);
  }

  if (--orderFall_ == 0) {
    successor = fSuccessor;
    if (maxContext_ != minContext_) alloc_.UnputText();
  }

  // Add the symbol to every context that escaped to the one it was found in.
  const unsigned ns = minContext_->numStats;
  const unsigned s0 = minContext_->SummFreq() - ns - fFreq;
  const unsigned flag = HighFlag(fSymbol);
  for (; c != minContext_; c = SuffixOf(c)) {
    const unsigned ns1 = c->numStats;
    if (ns1 != 0) {
      if ((ns1 & 1) != 0) {
        // An even number of states fills its units: grow by one unit.
        const unsigned oldNu = (ns1 + 1) >> 1;
        if (alloc_.UnitsToIndex(oldNu) != alloc_.UnitsToIndex(oldNu + 1)) {
          uint8_t* grown = alloc_.ExpandUnits(alloc_.Ptr(c->Stats()), oldNu);
          if (!grown) {
            RestoreModel(c);
            return;
          }
          c->SetStats(Ref(grown));
        }
      }
      AddSummFreq(c, 3 * ns1 + 1 < ns ? 1 : 0);
    } else {
      PpmdState* s2 = reinterpret_cast<PpmdState*>(alloc_.AllocUnits(0));
      if (!s2) {
        RestoreModel(c);
        return;
      }
      *s2 = *c->OneState();
      c->SetStats(Ref(s2));
      if (s2->freq < kMaxFreq / 4 - 1) {
        s2->freq = static_cast<uint8_t>(s2->freq << 1);
      } else {
        s2->freq = kMaxFreq - 4;
      }
      c->SetSummFreq(s2->freq + initEsc_ + (ns > 2 ? 1 : 0));
    }

    uint32_t cf = 2 * fFreq * (c->SummFreq() + 6u);
    const uint32_t sf = s0 + c->SummFreq();
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      AddSummFreq(c, 4);
    } else {
      cf = 4 + (cf > 9 * sf) + (cf > 12 * sf) + (cf > 15 * sf);
      AddSummFreq(c, cf);
    }
    PpmdState* added = StatsOf(c) + ns1 + 1;
    added->SetSuccessor(successor);
    added->symbol = fSymbol;
    added->freq = static_cast<uint8_t>(cf);
    c->flags = static_cast<uint8_t>(c->flags | flag);
    c->numStats = static_cast<uint8_t>(ns1 + 1);
  }
  maxContext_ = minContext_ = ContextAt(fSuccessor);
}

void PpmdModel::Rescale() {
  PpmdContext* const mc = minContext_;
  PpmdState* const stats = StatsOf(mc);
  PpmdState* s = foundState_;
  // The found symbol moves to the front.
  if (s != stats) {
    const PpmdState found = *s;
    for (; s != stats; --s) s[0] = s[-1];
    *s = found;
  }
  unsigned escFreq = mc->SummFreq() - s->freq;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  const unsigned adder = orderFall_ != 0 ? 1 : 0;
  s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
  unsigned sumFreq = s->freq;

  // Halve every frequency, keeping the states sorted by frequency.
  unsigned i = mc->numStats;
  do {
    ++s;
    escFreq -= s->freq;
    s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
    sumFreq += s->freq;
    if (s[0].freq > s[-1].freq) {
      const PpmdState moving = *s;
      PpmdState* to = s;
      do {
        to[0] = to[-1];
      } while (--to != stats && moving.freq > to[-1].freq);
      *to = moving;
    }
  } while (--i);

  if (s->freq == 0) {
    // Symbols that fell to 0 leave the context.
    const unsigned numStats = mc->numStats;
    do {
      ++i;
    } while ((--s)->freq == 0);
    escFreq += i;
    mc->numStats = static_cast<uint8_t>(mc->numStats - i);
    if (mc->numStats == 0) {
      PpmdState only = *stats;
      only.freq =
          static_cast<uint8_t>(std::min<unsigned>((2 * only.freq + escFreq - 1) / escFreq, kMaxFreq / 3));
      alloc_.InsertNode(stats, alloc_.UnitsToIndex((numStats + 2) >> 1));
      mc->flags = static_cast<uint8_t>((mc->flags & 0x10) + HighFlag(only.symbol));
      foundState_ = mc->OneState();
      *foundState_ = only;
      return;
    }
    const unsigned n0 = (numStats + 2) >> 1;
    const unsigned n1 = (mc->numStats + 2u) >> 1;
    if (n0 != n1) mc->SetStats(Ref(alloc_.ShrinkUnits(reinterpret_cast<uint8_t*>(stats), n0, n1)));
    unsigned flags = mc->flags & ~0x08u;
    PpmdState* t = StatsOf(mc);
    for (unsigned k = 0; k <= mc->numStats; ++k) flags |= HighFlag(t[k].symbol);
    mc->flags = static_cast<uint8_t>(flags);
  }
  mc->SetSummFreq(sumFreq + escFreq - (escFreq >> 1));
  mc->flags = static_cast<uint8_t>(mc->flags | 0x04);
  foundState_ = StatsOf(mc);
}

inline void PpmdModel::NextContext() {
  const uint32_t successor = foundState_->Successor();
  if (orderFall_ == 0 && alloc_.IsUnit(successor)) {
    minContext_ = maxContext_ = ContextAt(successor);
  } else {
    UpdateModel();
    minContext_ = maxContext_;
  }
}

// The symbol was the first (most frequent) state of its context.
inline void PpmdModel::UpdateFirst() {
  prevSuccess_ = 2u * foundState_->freq >= minContext_->SummFreq() ? 1 : 0;
  runLength_ += prevSuccess_;
  AddSummFreq(minContext_, 4);
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + 4);
  if (foundState_->freq > kMaxFreq) Rescale();
  NextContext();
}

// The symbol was a later state of the context coded first.
inline void PpmdModel::UpdateNext() {
  PpmdState* s = foundState_;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  AddSummFreq(minContext_, 4);
  if (s[0].freq > s[-1].freq) {
    std::swap(s[0], s[-1]);
    foundState_ = --s;
    if (s->freq > kMaxFreq) Rescale();
  }
  NextContext();
}

// The symbol was found after one or more escapes.
void PpmdModel::UpdateAfterEscape() {
  AddSummFreq(minContext_, 4);
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + 4);
  if (foundState_->freq > kMaxFreq) Rescale();
  runLength_ = initRunLength_;
  UpdateModel();
  minContext_ = maxContext_;
}

inline void PpmdModel::UpdateBinary() {
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + (foundState_->freq < 196));
  prevSuccess_ = 1;
  ++runLength_;
  NextContext();
}

inline PpmdModel::See* PpmdModel::MakeEscFreq(unsigned maskedNumStats, uint32_t* escFreq) {
  const PpmdContext* mc = minContext_;
  const unsigned numStats = mc->numStats;
  if (numStats == 0xFF) {
    *escFreq = 1;
    return &dummySee_;
  }
  See* see = &see_[ns2Index_[numStats + 2] - 3]
                  [(mc->SummFreq() > 11 * (numStats + 1) ? 1 : 0) +
                   (2 * numStats < SuffixOf(mc)->numStats + maskedNumStats ? 2 : 0) + (mc->flags & 0x1C)];
  const unsigned r = see->summ >> see->shift;
  see->summ = static_cast<uint16_t>(see->summ - r);
  *escFreq = r + (r == 0 ? 1 : 0);
  return see;
}

inline uint16_t* PpmdModel::BinSumm(PpmdContext* mc) {
  const unsigned freq = mc->OneState()->freq;
  return &binSumm_[std::min<unsigned>(ns2Index_[static_cast<uint8_t>(freq - 1)], 24)]
                  [ns2BsIndex_[SuffixOf(mc)->numStats] + prevSuccess_ + (mc->flags & 0x18) +
                   ((runLength_ >> 26) & 0x20)];
}

void PpmdModel::EncodeSymbol(PpmdRangeEncoder& coder, int symbol) {
  PpmdContext* mc = minContext_;
  if (mc->numStats != 0) {
    PpmdState* s = StatsOf(mc);
    const unsigned summ = mc->SummFreq();
    if (s->symbol == symbol) {
      coder.Encode(0, s->freq, summ);
      foundState_ = s;
      UpdateFirst();
      return;
    }
    prevSuccess_ = 0;
    uint32_t sum = s->freq;
    unsigned i = mc->numStats;
    do {
      ++s;
      if (s->symbol == symbol) {
        coder.Encode(sum, s->freq, summ);
        foundState_ = s;
        UpdateNext();
        return;
      }
      sum += s->freq;
    } while (--i);
    coder.Encode(sum, summ - sum, summ);
    std::memset(charMask_, 0xFF, sizeof charMask_);
    PpmdState* stats = StatsOf(mc);
    for (unsigned k = 0; k <= mc->numStats; ++k) charMask_[stats[k].symbol] = 0;
  } else {
    uint16_t* prob = BinSumm(mc);
    PpmdState* s = mc->OneState();
    if (s->symbol == symbol) {
      coder.EncodeBit0(*prob);
      *prob = ProbAfterHit(*prob);
      foundState_ = s;
      UpdateBinary();
      return;
    }
    coder.EncodeBit1(*prob);
    *prob = ProbAfterEscape(*prob);
    initEsc_ = kExpEscape[*prob >> 10];
    std::memset(charMask_, 0xFF, sizeof charMask_);
    charMask_[s->symbol] = 0;
    prevSuccess_ = 0;
  }

  EncodeMasked(coder, symbol);
}

void PpmdModel::EncodeMasked(PpmdRangeEncoder& coder, int symbol) {
  for (;;) {
    const unsigned maskedNumStats = minContext_->numStats;
    do {
      ++orderFall_;
      if (minContext_->Suffix() == 0) return;  // the end mark has escaped from order 0
      minContext_ = SuffixOf(minContext_);
    } while (minContext_->numStats == maskedNumStats);

    uint32_t escFreq;
    See* see = MakeEscFreq(maskedNumStats, &escFreq);
    PpmdState* s = StatsOf(minContext_);
    const unsigned n = minContext_->numStats + 1u;
    uint32_t sum = 0;
    for (unsigned k = 0; k < n; ++k, ++s) {
      const unsigned cur = s->symbol;
      if (static_cast<int>(cur) == symbol) {
        const uint32_t low = sum;
        PpmdState* const found = s;
        for (; k < n; ++k, ++s) sum += s->freq & charMask_[s->symbol];
        coder.Encode(low, found->freq, sum + escFreq);
        see->Update();
        foundState_ = found;
        UpdateAfterEscape();
        return;
      }
      sum += s->freq & charMask_[cur];
      charMask_[cur] = 0;
    }
    coder.Encode(sum, escFreq, sum + escFreq);
    see->summ = static_cast<uint16_t>(see->summ + sum + escFreq);
  }
}

int PpmdModel::DecodeSymbol(PpmdRangeDecoder& coder) {
  PpmdContext* mc = minContext_;
  if (mc->numStats != 0) {
    PpmdState* s = StatsOf(mc);
    const uint32_t summ = mc->SummFreq();
    const uint32_t count = coder.GetThreshold(summ);
    uint32_t hiCnt = s->freq;
    if (count < hiCnt) {
      coder.Decode(0, s->freq);
      foundState_ = s;
      const uint8_t symbol = s->symbol;
      UpdateFirst();
      return symbol;
    }
    prevSuccess_ = 0;
    unsigned i = mc->numStats;
    do {
      ++s;
      hiCnt += s->freq;
      if (hiCnt > count) {
        coder.Decode(hiCnt - s->freq, s->freq);
        foundState_ = s;
        const uint8_t symbol = s->symbol;
        UpdateNext();
        return symbol;
      }
    } while (--i);
    if (count >= summ) return -2;
    coder.Decode(hiCnt, summ - hiCnt);
    std::memset(charMask_, 0xFF, sizeof charMask_);
    PpmdState* stats = StatsOf(mc);
    for (unsigned k = 0; k <= mc->numStats; ++k) charMask_[stats[k].symbol] = 0;
  } else {
    uint16_t* prob = BinSumm(mc);
    if (coder.DecodeBit(*prob) == 0) {
      *prob = ProbAfterHit(*prob);
      foundState_ = mc->OneState();
      const uint8_t symbol = foundState_->symbol;
      UpdateBinary();
      return symbol;
    }
    *prob = ProbAfterEscape(*prob);
    initEsc_ = kExpEscape[*prob >> 10];
    std::memset(charMask_, 0xFF, sizeof charMask_);
    charMask_[mc->OneState()->symbol] = 0;
    prevSuccess_ = 0;
  }
  return DecodeMasked(coder);
}

int PpmdModel::DecodeMasked(PpmdRangeDecoder& coder) {
  for (;;) {
    const unsigned maskedNumStats = minContext_->numStats;
    do {
      ++orderFall_;
      if (minContext_->Suffix() == 0) return -1;
      minContext_ = SuffixOf(minContext_);
    } while (minContext_->numStats == maskedNumStats);

    PpmdState* const stats = StatsOf(minContext_);
    const unsigned n = minContext_->numStats + 1u;
    uint32_t hiCnt = 0;
    for (unsigned k = 0; k < n; ++k) hiCnt += stats[k].freq & charMask_[stats[k].symbol];
    uint32_t escFreq;
    See* see = MakeEscFreq(maskedNumStats, &escFreq);
    const uint32_t freqSum = hiCnt + escFreq;
    const uint32_t count = coder.GetThreshold(freqSum);
    if (count < hiCnt) {
      PpmdState* s = stats;
      uint32_t cum = s->freq & charMask_[s->symbol];
      while (cum <= count) {
        ++s;
        cum += s->freq & charMask_[s->symbol];
      }
      coder.Decode(cum - s->freq, s->freq);
      see->Update();
      foundState_ = s;
      const uint8_t symbol = s->symbol;
      UpdateAfterEscape();
      return symbol;
    }
    if (count >= freqSum) return -2;
    coder.Decode(hiCnt, freqSum - hiCnt);
    see->summ = static_cast<uint16_t>(see->summ + freqSum);
    for (unsigned k = 0; k < n; ++k) charMask_[stats[k].symbol] = 0;
  }
}

}  // namespace korbel
