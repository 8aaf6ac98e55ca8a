#include "zip/table/entry_table.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "fs/char_rules.h"
#include "zip/table/sort_key.h"

namespace korbel {
namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int d =
        fs::FoldAscii(static_cast<unsigned char>(a[i])) - fs::FoldAscii(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return (a.size() < b.size()) ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Runs of decimal digits compare by their value, so a2 sorts before a10.
int CompareNumericAware(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const unsigned char ca = static_cast<unsigned char>(a[i]);
    const unsigned char cb = static_cast<unsigned char>(b[j]);
    if (IsDigit(ca) && IsDigit(cb)) {
      std::size_t endA = i, endB = j;
      while (endA < a.size() && a[endA] == '0') ++endA;
      while (endB < b.size() && b[endB] == '0') ++endB;
      std::size_t digitsA = endA, digitsB = endB;
      while (digitsA < a.size() && IsDigit(static_cast<unsigned char>(a[digitsA]))) ++digitsA;
      while (digitsB < b.size() && IsDigit(static_cast<unsigned char>(b[digitsB]))) ++digitsB;
      const std::size_t lengthA = digitsA - endA, lengthB = digitsB - endB;
      if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
      const int d = a.compare(endA, lengthA, b, endB, lengthB);
      if (d != 0) return d;
      i = digitsA;
      j = digitsB;
      continue;
    }
    const int d = fs::FoldAscii(ca) - fs::FoldAscii(cb);
    if (d != 0) return d;
    ++i;
    ++j;
  }
  return (i < a.size()) - (j < b.size());
}

}  // namespace

int EntryTable::New() {
  // Growth is geometric: a million entries are copied a few times, not
  // once per few hundred added.
  entries_.push_back(pool_.New());
  ++live_;
  return Count() - 1;
}

void EntryTable::IndexName(int index) {
  if (nameIndexBuilt_) nameIndex_.Insert(entries_, static_cast<std::uint32_t>(index));
}

void EntryTable::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  pool_.Clear();
  strings_.Clear();
  nameIndex_.Reset(0);
  nameIndexBuilt_ = false;
  live_ = 0;
  sortedBy_ = kNotSorted;
}

void EntryTable::MarkDeleted(ZipEntry* entry) {
  if (entry->deleted) return;
  if (nameIndexBuilt_) nameIndex_.Remove(entries_, entry);
  --live_;
  entry->deleted = 1;
}

void EntryTable::UnmarkDeleted(int index) {
  ZipEntry* entry = At(index);
  if (entry == nullptr || !entry->deleted) return;
  ++live_;
  entry->deleted = 0;
  IndexName(index);
}

void EntryTable::Erase(int index) {
  ZipEntry* entry = At(index);
  if (entry == nullptr) return;
  // Unindexed while the positions still hold.
  MarkDeleted(entry);
  entries_.erase(entries_.begin() + index);
  pool_.Free(entry);
  if (nameIndexBuilt_) nameIndex_.Erased(entries_, static_cast<std::uint32_t>(index));
}

void EntryTable::Remove(bool (*doomed)(const ZipEntry&)) {
  std::size_t kept = 0;
  bool removed = false;
  for (ZipEntry* entry : entries_) {
    if (!doomed(*entry)) {
      entries_[kept++] = entry;
      continue;
    }
    if (!entry->deleted) --live_;
    pool_.Free(entry);
    removed = true;
  }
  entries_.resize(kept);
  // Rebuilt when next looked up.
  if (removed) nameIndexBuilt_ = false;
}

void EntryTable::MoveBehindLive(int index) {
  const int lastLive = LastLiveIndex();
  if (index < 0 || lastLive <= index) return;
  if (nameIndexBuilt_) {
    nameIndex_.BeforeSwap(entries_, static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(lastLive));
  }
  std::swap(entries_[static_cast<std::size_t>(index)], entries_[static_cast<std::size_t>(lastLive)]);
}

int EntryTable::LastLiveIndex() const {
  for (int i = Count() - 1; i >= 0; --i) {
    if (!entries_[static_cast<std::size_t>(i)]->deleted) return i;
  }
  return -1;
}

int EntryTable::Find(const char* name) const {
  if (!nameIndexBuilt_) {
    nameIndex_.Rebuild(entries_);
    nameIndexBuilt_ = true;
  }
  return nameIndex_.Find(entries_, name, std::strlen(name));
}

void EntryTable::Sort(int key) {
  if (sortedBy_ != key) SortWith(key);
}

void EntryTable::SortByOffset() { SortWith(kSortByOffset); }

void EntryTable::SortWith(int key) {
  auto byKey = [key](const ZipEntry* pa, const ZipEntry* pb) {
    const ZipEntry& a = *pa;
    const ZipEntry& b = *pb;
    if (key == kSortByOffset) {
      if (a.queued != b.queued) return b.queued != 0;
      return a.localHeaderOffset < b.localHeaderOffset;
    }
    if (a.deleted != b.deleted) return b.deleted != 0;
    if (key == kSortBySize) return a.uncompressedSize < b.uncompressedSize;
    if (key == kSortByNameNumeric) return CompareNumericAware(a.name, b.name) < 0;
    return CompareIgnoringCase(a.name, b.name) < 0;
  };
  std::sort(entries_.begin(), entries_.end(), byKey);
  // Rebuilt when next looked up.
  nameIndexBuilt_ = false;
  sortedBy_ = key;
}

}  // namespace korbel
