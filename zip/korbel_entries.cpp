// The slots of Korbel that answer from the entry table: lookup, deletion,
// sorting and the per-entry accessors.
#include <cstring>

#include "zip/korbel.h"

namespace korbel {

void Korbel::ClearTable() {
  heldFolder_.Forget();
  table_.Clear();
  keptDirectory_.Forget();
}

int Korbel::FindEntry(const char* name) const {
  if (name == nullptr) return -1;
  if (*name == '/') ++name;
  if (*name == '\\') ++name;
  return table_.Find(name);
}

int Korbel::DeleteEntry(int index) {
  if (EventEnabled(kEventRemove) && Report(kEventRemove, index) != 0) return -1;
  if (openMode_ < kModify) return Fail(kWriteError);
  ZipEntry* entry = table_.At(index);
  if (entry == nullptr || entry->deleted) return Fail(kBadIndexOrMode);
  table_.ForgetOrder();
  if (entry->queued) {
    table_.Erase(index);
    return kOk;
  }
  table_.MarkDeleted(entry);
  tail_.MarkChanged();
  // Deleted entries gather behind the live ones.
  if (!(options_ & kKeepSorted)) table_.MoveBehindLive(index);
  return kOk;
}

int Korbel::SortEntries(int key) {
  if (key < 0) key = static_cast<int>(options_ & kSortKeyBits);
  key &= kSortKeyBits;
  if (EventEnabled(kEventSort) && Report(kEventSort, -1) != 0) return 0;
  reader_.EndPlan();
  table_.Sort(key);
  options_ = (options_ & ~static_cast<std::uint32_t>(kSortKeyBits)) | static_cast<std::uint32_t>(key);
  return EntryCount();
}

// ---- Per-entry accessors: a bad index answers a neutral value. -------------

int Korbel::EntryStatus(int index) const {
  const ZipEntry* entry = table_.At(index);
  return entry ? korbel::EntryStatus(*entry) : 0;
}

const char* Korbel::EntryName(int index) const {
  if (index == -1) return fullPath_;
  if (index == EntryCount()) return PendingName();
  const ZipEntry* entry = table_.At(index);
  return entry ? entry->name.c_str() : nullptr;
}

const char* Korbel::EntryNameAndLength(int index, int* length) const {
  const char* name = EntryName(index);
  if (length != nullptr) *length = name ? static_cast<int>(std::strlen(name)) : 0;
  return name;
}

int Korbel::SetFaulty(int index, int faulty) {
  ZipEntry* entry = table_.At(index);
  if (entry == nullptr) return -1;
  const int previous = entry->faulty;
  entry->faulty = static_cast<std::uint8_t>(faulty != 0);
  return previous;
}

int Korbel::IsReadOnly(int index) const {
  const ZipEntry* entry = table_.At(index);
  return entry ? static_cast<int>(entry->externalAttributes & kEntryReadOnly) : 0;
}

int Korbel::IsFaulty(int index) const {
  const ZipEntry* entry = table_.At(index);
  return entry ? entry->faulty : -1;
}

int Korbel::IsDeleted(int index) const {
  const ZipEntry* entry = table_.At(index);
  return entry ? entry->deleted : 0;
}

int Korbel::IsFolder(int index) const {
  const ZipEntry* entry = table_.At(index);
  return (entry && (entry->externalAttributes & kEntryFolder)) ? 1 : 0;
}

int Korbel::ProcessingState(int index) const {
  const ZipEntry* entry = table_.At(index);
  return entry ? entry->processingState : 0;
}

int Korbel::SetProcessingState(int index, int state) {
  ZipEntry* entry = table_.At(index);
  if (entry == nullptr) return -1;
  const int previous = entry->processingState;
  entry->processingState = static_cast<std::uint8_t>(state & kStatusProcessingMask);
  return previous;
}

std::uint64_t Korbel::EntrySize(int index, bool compressed) const {
  const ZipEntry* entry = table_.At(index);
  if (entry == nullptr) return 0;
  return compressed ? entry->compressedSize : entry->uncompressedSize;
}

std::int64_t Korbel::EntryTimeOf(int index, int kind) const {
  const ZipEntry* entry = table_.At(index);
  if (entry == nullptr) return platform::kNoTime;
  switch (kind) {
    case 0:
      return entry->modified;
    case 1:
      return entry->created;
    case 2:
      return entry->accessed;
    default:
      return platform::kNoTime;
  }
}

std::int64_t Korbel::EntryTime(int index) const { return EntryTimeOf(index, 0); }

void* Korbel::EntryUserData(int index) const {
  const ZipEntry* entry = table_.At(index);
  return entry ? entry->userData : nullptr;
}

int Korbel::SetEntryUserData(int index, void* data) {
  ZipEntry* entry = table_.At(index);
  if (entry == nullptr) return -1;
  entry->userData = data;
  return 0;
}

}  // namespace korbel
