// ArchiveReplacement: the file a change of an archive is written to before it
// replaces the archive. An archive file is never written in place: the change
// goes into a new file beside it (zip/replacement_name.h), for a change to an
// existing archive after its bytes were copied there, and only a complete
// file, flushed to the disk, takes the archive's name, by one rename. A
// failure, a kill or a crash at any instant leaves the old archive as it was.
//
// While the change runs, the archive is held open for reading with the
// writer's lock: a second writer waits, then fails, and never builds on a
// directory that has been replaced in the meantime. Readers are not stopped.
//
// A memory archive is changed in place; a copy of its bytes taken before the
// first write goes back over it when the change fails.
#ifndef PAKKARO_ZIP_ARCHIVE_REPLACEMENT_H
#define PAKKARO_ZIP_ARCHIVE_REPLACEMENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace korbel {

class ArchiveStore;

class ArchiveReplacement {
 public:
  // `pathRoom`: the longest path, with its terminator, the archive takes.
  ArchiveReplacement(ArchiveStore* store, std::size_t pathRoom) : store_(store), pathRoom_(pathRoom) {}
  ArchiveReplacement(const ArchiveReplacement&) = delete;
  ArchiveReplacement& operator=(const ArchiveReplacement&) = delete;

  // Create mode: holds an existing `target` with the writer's lock, removes
  // what killed runs left and makes a new replacement the store's file.
  bool Create(const char* target);
  // Called before the first write of a change of the archive at `target`,
  // which was `loadedSize` bytes when loaded: a file archive is copied into
  // its replacement (a compaction passes `copyArchive` false and copies what
  // stays itself, see CopyFromOriginal), a memory archive's bytes are kept.
  // Raises the engine's code on failure, leaving the store as it was.
  void Begin(const char* target, std::int64_t loadedSize, bool copyArchive);
  // Gives the finished replacement the archive's name (or copies it into a
  // hard-linked archive); false, and the replacement removed, on failure.
  bool Finish(const char* target);
  // Ends the change without it: the replacement is removed.
  void Drop();
  // Undoes a failed change: a memory archive's bytes go back to what they
  // were before it, the replacement is removed.
  void Abandon();

  // Whether the compaction still has to copy the entries that stay from the
  // archive as loaded; CopyFromOriginal does that, CopyDone ends it.
  bool CopyPending() const { return copyPending_; }
  void CopyFromOriginal(std::int64_t from, std::int64_t to, std::uint64_t length);
  void CopyDone() { copyPending_ = false; }

  // The file a change is written to, empty when none.
  const std::string& Path() const { return path_; }

 private:
  bool HoldOriginal(const char* target);
  void RemoveStale(const char* target);
  bool OpenFile(const char* target);
  bool CopyBack(const char* target);

  ArchiveStore* const store_;
  const std::size_t pathRoom_;
  platform::FileCloser original_;  // the archive, held while a change runs
  std::string path_;
  bool begun_ = false;
  bool copyPending_ = false;
  std::vector<unsigned char> memorySnapshot_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ARCHIVE_REPLACEMENT_H
