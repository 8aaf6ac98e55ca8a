// The entry table of Korbel: creation, lookup, deletion and sorting.
#include <algorithm>
#include <cstring>

#include "fs/path_order.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

int CompareIgnoringCase(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int d = Lower(static_cast<unsigned char>(a[i])) - Lower(static_cast<unsigned char>(b[i]));
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
    const int d = Lower(ca) - Lower(cb);
    if (d != 0) return d;
    ++i;
    ++j;
  }
  return (i < a.size()) - (j < b.size());
}

}  // namespace

ZipEntry* Korbel::EntryAt(int index) const {
  if (index < 0 || index >= EntryCount()) return nullptr;
  return entries_[static_cast<std::size_t>(index)];
}

const ZipEntry* Korbel::Entry(int index) const { return EntryAt(index); }

int Korbel::NewEntry() {
  // Growth is geometric: a million entries are copied a few times, not
  // once per few hundred added.
  entries_.push_back(entryPool_.New());
  ++liveEntries_;
  return EntryCount() - 1;
}

void Korbel::IndexName(int index) {
  if (nameIndexBuilt_) nameIndex_.Insert(entries_, static_cast<std::uint32_t>(index));
}

void Korbel::ClearTable() {
  ForgetExtractFolder();
  entries_.clear();
  entries_.shrink_to_fit();
  entryPool_.Clear();
  strings_.Clear();
  nameIndex_.Reset(0);
  nameIndexBuilt_ = false;
  keptDirectory_.clear();
  keptDirectory_.shrink_to_fit();
  directoryKept_ = false;
  liveEntries_ = 0;
  sortedBy_ = kNotSorted;
}

void Korbel::MarkDeleted(ZipEntry* entry) {
  if (entry->deleted) return;
  if (nameIndexBuilt_) nameIndex_.Remove(entries_, entry);
  --liveEntries_;
  entry->deleted = 1;
}

void Korbel::UnmarkDeleted(int index) {
  ZipEntry* entry = EntryAt(index);
  if (entry == nullptr || !entry->deleted) return;
  ++liveEntries_;
  entry->deleted = 0;
  IndexName(index);
}

void Korbel::RemoveEntries(bool (*doomed)(const ZipEntry&)) {
  std::size_t kept = 0;
  bool removed = false;
  for (ZipEntry* entry : entries_) {
    if (!doomed(*entry)) {
      entries_[kept++] = entry;
      continue;
    }
    if (!entry->deleted) --liveEntries_;
    entryPool_.Free(entry);
    removed = true;
  }
  entries_.resize(kept);
  if (removed) TableReordered();
}

void Korbel::TableReordered() {
  // Rebuilt when next looked up.
  nameIndexBuilt_ = false;
}

int Korbel::FindEntry(const char* name) const {
  if (name == nullptr) return -1;
  if (*name == '/') ++name;
  if (*name == '\\') ++name;
  if (!nameIndexBuilt_) {
    nameIndex_.Rebuild(entries_);
    nameIndexBuilt_ = true;
  }
  return nameIndex_.Find(entries_, name, std::strlen(name));
}

int Korbel::DeleteEntry(int index) {
  if (EventEnabled(kEventRemove) && Report(kEventRemove, index) != 0) return -1;
  if (openMode_ < kModify) return Fail(kWriteError);
  ZipEntry* entry = EntryAt(index);
  if (entry == nullptr || entry->deleted) return Fail(kBadIndexOrMode);
  sortedBy_ = kNotSorted;
  if (entry->queued) {
    MarkDeleted(entry);
    entries_.erase(entries_.begin() + index);
    entryPool_.Free(entry);
    if (nameIndexBuilt_) nameIndex_.Erased(entries_, static_cast<std::uint32_t>(index));
    return kOk;
  }
  MarkDeleted(entry);
  directoryChanged_ = true;
  if (!(options_ & kKeepSorted)) {
    // Deleted entries gather behind the live ones.
    const int lastLive = LastLiveIndex();
    if (lastLive > index) {
      if (nameIndexBuilt_) nameIndex_.BeforeSwap(entries_, static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(lastLive));
      std::swap(entries_[static_cast<std::size_t>(index)], entries_[static_cast<std::size_t>(lastLive)]);
    }
  }
  return kOk;
}

int Korbel::LastLiveIndex() const {
  for (int i = EntryCount() - 1; i >= 0; --i) {
    if (!entries_[static_cast<std::size_t>(i)]->deleted) return i;
  }
  return -1;
}

int Korbel::SortEntries(int key) {
  if (key < 0) key = static_cast<int>(options_ & kSortKeyBits);
  key &= kSortKeyBits;
  if (EventEnabled(kEventSort) && Report(kEventSort, -1) != 0) return 0;
  if (sortedBy_ != key) {
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
    TableReordered();
    sortedBy_ = key;
  }
  options_ = (options_ & ~static_cast<std::uint32_t>(kSortKeyBits)) | static_cast<std::uint32_t>(key);
  return EntryCount();
}

// ---- Per-entry accessors: a bad index answers a neutral value. -------------

int Korbel::EntryStatus(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return entry ? korbel::EntryStatus(*entry) : 0;
}

const char* Korbel::EntryName(int index) const {
  if (index == -1) return fullPath_;
  if (index == EntryCount()) return pendingName_;
  const ZipEntry* entry = EntryAt(index);
  return entry ? entry->name.c_str() : nullptr;
}

const char* Korbel::EntryNameAndLength(int index, int* length) const {
  const char* name = EntryName(index);
  if (length != nullptr) *length = name ? static_cast<int>(std::strlen(name)) : 0;
  return name;
}

int Korbel::SetFaulty(int index, int faulty) {
  ZipEntry* entry = EntryAt(index);
  if (entry == nullptr) return -1;
  const int previous = entry->faulty;
  entry->faulty = static_cast<std::uint8_t>(faulty != 0);
  return previous;
}

int Korbel::IsReadOnly(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return entry ? static_cast<int>(entry->externalAttributes & kEntryReadOnly) : 0;
}

int Korbel::IsFaulty(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return entry ? entry->faulty : -1;
}

int Korbel::IsDeleted(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return entry ? entry->deleted : 0;
}

int Korbel::IsFolder(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return (entry && (entry->externalAttributes & kEntryFolder)) ? 1 : 0;
}

int Korbel::ProcessingState(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return entry ? entry->processingState : 0;
}

int Korbel::SetProcessingState(int index, int state) {
  ZipEntry* entry = EntryAt(index);
  if (entry == nullptr) return -1;
  const int previous = entry->processingState;
  entry->processingState = static_cast<std::uint8_t>(state & kStatusProcessingMask);
  return previous;
}

std::uint64_t Korbel::EntrySize(int index, bool compressed) const {
  const ZipEntry* entry = EntryAt(index);
  if (entry == nullptr) return 0;
  return compressed ? entry->compressedSize : entry->uncompressedSize;
}

std::int32_t Korbel::EntryTimeOf(int index, int kind) const {
  const ZipEntry* entry = EntryAt(index);
  if (entry == nullptr) return -1;
  switch (kind) {
    case 0: return entry->modified;
    case 1: return entry->created;
    case 2: return entry->accessed;
    default: return -1;
  }
}

std::int32_t Korbel::EntryTime(int index) const { return EntryTimeOf(index, 0); }

void* Korbel::EntryUserData(int index) const {
  const ZipEntry* entry = EntryAt(index);
  return entry ? entry->userData : nullptr;
}

int Korbel::SetEntryUserData(int index, void* data) {
  ZipEntry* entry = EntryAt(index);
  if (entry == nullptr) return -1;
  entry->userData = data;
  return 0;
}

}  // namespace korbel
