// The name index of an entry table: a flat open-addressing table from the
// hash of a name to the first of the live entries that bear it. Entries of
// one name form a chain through ZipEntry::nextSameName, so a name that
// occurs many times costs one slot, and adding one more costs O(1).
//
// Names compare as the path order calls them equal: '/' equals '\', and
// letters of either case weigh the same. Chains hold table positions, so
// whatever moves entries tells the index (BeforeSwap, Rebuild).
#ifndef PAKKARO_ZIP_NAME_INDEX_H
#define PAKKARO_ZIP_NAME_INDEX_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/format/zip_entry.h"

namespace korbel {

class NameIndex {
 public:
  using Table = std::vector<ZipEntry*>;

  // Empties the index and makes room for `expected` names.
  void Reset(std::size_t expected);
  // Makes the entry at `position` findable; its name is final.
  void Insert(const Table& table, std::uint32_t position);
  // Makes `entry` unfindable (it was deleted or is about to go).
  void Remove(const Table& table, const ZipEntry* entry);
  // The lowest position of an indexed entry named `name`; -1 when none.
  int Find(const Table& table, const char* name, std::size_t length) const;
  // The entries at `first` and `second` are about to trade places.
  void BeforeSwap(const Table& table, std::uint32_t first, std::uint32_t second);
  // The entry at `position` left the table; the ones behind moved up.
  void Erased(const Table& table, std::uint32_t position);
  // Indexes the live entries of `table` anew, after a sort or a removal.
  void Rebuild(const Table& table);

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  static constexpr std::uint32_t kVacated = 0xFFFFFFFEu;  // its chain emptied
  struct Slot {
    std::uint32_t hash;
    std::uint32_t head;  // position of the chain's first entry, or a mark
  };
  std::size_t Home(std::uint32_t hash) const {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * slots_.size()) >> 32);
  }
  // The slot whose chain holds names equal to `name`; nullptr when none.
  Slot* SlotOf(const Table& table, const char* name, std::size_t length, std::uint32_t hash);
  const Slot* SlotOf(const Table& table, const char* name, std::size_t length, std::uint32_t hash) const;
  void Grow();
  // Insert, with the hash of the entry's name already known.
  void InsertHashed(const Table& table, std::uint32_t position, std::uint32_t hash);

  std::vector<Slot> slots_;
  std::size_t occupied_ = 0;  // slots not empty, vacated ones included
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_NAME_INDEX_H
