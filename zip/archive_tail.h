// ArchiveTail: where the archive's entries end and its directory begins,
// where the end records sit, and whether the directory in the file still
// says what the entry table holds. A change moves the tail as it writes; the
// directory written at the end of a change goes where the tail says.
#ifndef PAKKARO_ZIP_ARCHIVE_TAIL_H
#define PAKKARO_ZIP_ARCHIVE_TAIL_H

#include <cstdint>

namespace korbel {

class ArchiveTail {
 public:
  // The first byte after the entries' data: the directory's place.
  std::int64_t DirectoryStart() const { return directoryStart_; }
  // The bytes of the directory as loaded, up to its end record.
  std::int64_t LoadedDirectorySize() const { return endRecord_ - directoryStart_; }
  // Whether the directory must be written before the archive is complete.
  bool Changed() const { return changed_; }

  // Where the directory loaded from the file lies.
  void Loaded(std::int64_t directoryStart, std::int64_t endRecord) {
    directoryStart_ = directoryStart;
    endRecord_ = endRecord;
  }
  // A new, empty archive: its directory is still to be written.
  void Empty() {
    Forget();
    changed_ = true;
  }
  // The entries' data now ends at `position`.
  void DataEndsAt(std::int64_t position) { directoryStart_ = position; }
  // The table no longer matches the directory in the file.
  void MarkChanged() { changed_ = true; }
  // The directory was written at DirectoryStart(): the file matches again.
  void Written() { changed_ = false; }
  // Closed, or opened anew: nothing known, nothing to write.
  void Forget() {
    directoryStart_ = 0;
    endRecord_ = 0;
    changed_ = false;
  }

 private:
  std::int64_t directoryStart_ = 0;
  std::int64_t endRecord_ = 0;
  bool changed_ = false;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ARCHIVE_TAIL_H
