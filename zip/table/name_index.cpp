#include "zip/table/name_index.h"

#include <array>

#include "fs/path_order.h"

namespace korbel {
namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFFu;

// The path order's weight of every narrow character, looked up once.
const std::array<std::uint16_t, 256>& Weights() {
  static const std::array<std::uint16_t, 256> weights = [] {
    std::array<std::uint16_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
      table[static_cast<std::size_t>(c)] =
          static_cast<std::uint16_t>(fs::PathWeight<char>(static_cast<char>(c)));
    }
    return table;
  }();
  return weights;
}

std::uint32_t HashName(const char* name, std::size_t length) {
  const auto& weights = Weights();
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < length; ++i) {
    hash = (hash ^ weights[static_cast<unsigned char>(name[i])]) * 16777619u;
  }
  // The slot is chosen by the high bits: mix the low ones up into them.
  hash ^= hash >> 16;
  hash *= 0x85EBCA6Bu;
  hash ^= hash >> 13;
  hash *= 0xC2B2AE35u;
  hash ^= hash >> 16;
  return hash;
}

bool SameName(const char* a, std::size_t length, const EntryText& b) {
  if (b.size() != length) return false;
  const auto& weights = Weights();
  for (std::size_t i = 0; i < length; ++i) {
    if (weights[static_cast<unsigned char>(a[i])] != weights[static_cast<unsigned char>(b[i])]) return false;
  }
  return true;
}

}  // namespace

void NameIndex::Reset(std::size_t expected) {
  slots_.assign(expected + expected / 2 + 16, Slot{0, kEmpty});
  occupied_ = 0;
}

const NameIndex::Slot* NameIndex::SlotOf(const Table& table, const char* name, std::size_t length,
                                         std::uint32_t hash) const {
  if (slots_.empty()) return nullptr;
  for (std::size_t at = Home(hash);; at = (at + 1 == slots_.size()) ? 0 : at + 1) {
    const Slot& slot = slots_[at];
    if (slot.head == kEmpty) return nullptr;
    if (slot.head != kVacated && slot.hash == hash && SameName(name, length, table[slot.head]->name)) {
      return &slot;
    }
  }
}

NameIndex::Slot* NameIndex::SlotOf(const Table& table, const char* name, std::size_t length,
                                   std::uint32_t hash) {
  return const_cast<Slot*>(static_cast<const NameIndex*>(this)->SlotOf(table, name, length, hash));
}

void NameIndex::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  std::size_t live = 0;
  for (const Slot& slot : old) live += slot.head < kVacated;
  slots_.assign(2 * live + 16, Slot{0, kEmpty});
  occupied_ = 0;
  for (const Slot& slot : old) {
    if (slot.head >= kVacated) continue;
    std::size_t at = Home(slot.hash);
    while (slots_[at].head != kEmpty) at = (at + 1 == slots_.size()) ? 0 : at + 1;
    slots_[at] = slot;
    ++occupied_;
  }
}

void NameIndex::Insert(const Table& table, std::uint32_t position) {
  const EntryText& name = table[position]->name;
  InsertHashed(table, position, HashName(name.data(), name.size()));
}

void NameIndex::InsertHashed(const Table& table, std::uint32_t position, std::uint32_t hash) {
  ZipEntry& entry = *table[position];
  if (Slot* slot = SlotOf(table, entry.name.data(), entry.name.size(), hash)) {
    entry.nextSameName = slot->head;
    slot->head = position;
    return;
  }
  // A quarter of the slots stays empty, so that every probe ends soon.
  if (4 * (occupied_ + 1) > 3 * slots_.size()) Grow();
  std::size_t at = Home(hash);
  while (slots_[at].head < kVacated) at = (at + 1 == slots_.size()) ? 0 : at + 1;
  if (slots_[at].head == kEmpty) ++occupied_;
  slots_[at] = Slot{hash, position};
  entry.nextSameName = kEnd;
}

void NameIndex::Remove(const Table& table, const ZipEntry* entry) {
  const std::uint32_t hash = HashName(entry->name.data(), entry->name.size());
  Slot* slot = SlotOf(table, entry->name.data(), entry->name.size(), hash);
  if (slot == nullptr) return;
  std::uint32_t* link = &slot->head;
  while (*link != kEnd && table[*link] != entry) link = &table[*link]->nextSameName;
  if (*link == kEnd) return;
  *link = entry->nextSameName;
  if (slot->head == kEnd) slot->head = kVacated;
}

int NameIndex::Find(const Table& table, const char* name, std::size_t length) const {
  const Slot* slot = SlotOf(table, name, length, HashName(name, length));
  if (slot == nullptr) return -1;
  std::uint32_t first = slot->head;
  for (std::uint32_t at = slot->head; at != kEnd; at = table[at]->nextSameName) {
    if (at < first) first = at;
  }
  return static_cast<int>(first);
}

void NameIndex::BeforeSwap(const Table& table, std::uint32_t first, std::uint32_t second) {
  // The links that name either place are made to name the other; the
  // entries take their own links with them. Both may sit in one chain.
  Slot* slots[2] = {nullptr, nullptr};
  for (int i = 0; i < 2; ++i) {
    const ZipEntry& entry = *table[i == 0 ? first : second];
    if (entry.deleted) continue;
    slots[i] =
        SlotOf(table, entry.name.data(), entry.name.size(), HashName(entry.name.data(), entry.name.size()));
  }
  if (slots[1] == slots[0]) slots[1] = nullptr;
  for (Slot* slot : slots) {
    if (slot == nullptr) continue;
    for (std::uint32_t* link = &slot->head; *link != kEnd;) {
      const std::uint32_t at = *link;
      if (at == first) *link = second;
      if (at == second) *link = first;
      link = &table[at]->nextSameName;
    }
  }
}

void NameIndex::Erased(const Table& table, std::uint32_t position) {
  for (Slot& slot : slots_) {
    if (slot.head < kVacated && slot.head > position) --slot.head;
  }
  for (ZipEntry* entry : table) {
    if (entry->nextSameName != kEnd && entry->nextSameName > position) --entry->nextSameName;
  }
}

void NameIndex::Rebuild(const Table& table) {
  Reset(table.size());
  // Inserted from the back, every chain runs in table order. The slots are
  // met at random, a cache miss each in a large table: every entry's home
  // slot is fetched while the entries kAhead places before it are inserted.
  constexpr std::size_t kAhead = 8;
  std::uint32_t hashes[kAhead];
  const std::size_t count = table.size();
  const auto fetch = [&](std::size_t done) {
    if (done >= count) return;
    const EntryText& name = table[count - 1 - done]->name;
    const std::uint32_t hash = HashName(name.data(), name.size());
    hashes[done % kAhead] = hash;
    __builtin_prefetch(&slots_[Home(hash)]);
  };
  for (std::size_t done = 0; done < kAhead; ++done) fetch(done);
  for (std::size_t done = 0; done < count; ++done) {
    const std::uint32_t hash = hashes[done % kAhead];
    fetch(done + kAhead);
    const std::size_t i = count - 1 - done;
    if (!table[i]->deleted) InsertHashed(table, static_cast<std::uint32_t>(i), hash);
  }
}

}  // namespace korbel
