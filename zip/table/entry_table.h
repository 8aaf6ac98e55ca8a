// The entry table of an archive: the entries in their order, where they
// live, the index that finds them by name, how many are live and which key
// the order follows. Positions in the table are the entry indexes of the
// public interface, so every change of order goes through here and the name
// index follows it.
#ifndef PAKKARO_ZIP_ENTRY_TABLE_H
#define PAKKARO_ZIP_ENTRY_TABLE_H

#include <cstddef>
#include <vector>

#include "zip/format/string_arena.h"
#include "zip/format/zip_entry.h"
#include "zip/table/entry_pool.h"
#include "zip/table/name_index.h"

namespace korbel {

class EntryTable {
 public:
  using Entries = std::vector<ZipEntry*>;
  static constexpr int kNotSorted = -1;

  int Count() const { return static_cast<int>(entries_.size()); }
  int Live() const { return live_; }
  int Capacity() const { return static_cast<int>(entries_.capacity()); }
  // The entry at `index`, or nullptr for an index outside the table.
  ZipEntry* At(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return entries_[static_cast<std::size_t>(index)];
  }
  const Entries& All() const { return entries_; }
  // Where loaded names, extra fields and comments are copied to; they live
  // until Clear.
  StringArena& Strings() { return strings_; }
  // Room for `count` entries, so that loading a directory grows the table once.
  void Reserve(std::size_t count) { entries_.reserve(count); }

  // Appends a fresh live entry and answers its index. It is not findable by
  // name until IndexName.
  int New();
  // Makes the entry at `index` findable by its name; called once the name is set.
  void IndexName(int index);
  void Clear();

  // A deleted entry stays in the table, unfindable and not counted live.
  void MarkDeleted(ZipEntry* entry);
  void UnmarkDeleted(int index);
  // Takes the entry at `index` out of the table at once; the ones behind
  // move up.
  void Erase(int index);
  // Removes every entry that `doomed` picks, in one pass.
  void Remove(bool (*doomed)(const ZipEntry&));
  // Moves the entry at `index` behind the live ones, by trading places with
  // the last live entry.
  void MoveBehindLive(int index);
  int LastLiveIndex() const;

  // The lowest index of a live entry whose name the path order calls equal
  // to `name`, or -1.
  int Find(const char* name) const;

  // Orders the table by a sort key (kSortByName, kSortBySize, kSortByOffset,
  // kSortByNameNumeric), unless it is in that order already.
  void Sort(int key);
  // Orders the table by where the entries' data lies, queued entries last,
  // whatever order the table believes it is in: offsets change under it
  // when entries are written or moved.
  void SortByOffset();
  int SortedBy() const { return sortedBy_; }
  // The order follows no key any more (an entry was added or moved).
  void ForgetOrder() { sortedBy_ = kNotSorted; }

 private:
  void SortWith(int key);

  // The entries live in pool_, their loaded names and extra fields in strings_.
  Entries entries_;
  EntryPool pool_;
  StringArena strings_;
  // Built when a name is first looked up: listing or testing an archive
  // never needs it.
  mutable NameIndex nameIndex_;
  mutable bool nameIndexBuilt_ = false;
  int live_ = 0;
  int sortedBy_ = kNotSorted;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ENTRY_TABLE_H
