// The folder walk: every file below a start folder, breadth first, that
// passes an include and an exclude pattern list. Folders are descended into
// whatever their names, never delivered; a folder that cannot be read
// yields nothing and the walk goes on. Only regular files and folders are
// walked: pipes, sockets and devices are passed over, and so are links to
// folders (a link to a file is delivered as the file it names).
#ifndef PAKKARO_FS_FILE_FINDER_H
#define PAKKARO_FS_FILE_FINDER_H

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "fs/file_info.h"
#include "fs/pattern_list.h"

namespace fs {

template <typename Char>
class BasicFileFinder {
 public:
  static constexpr int RootCapacity = 520;   // the start folder
  static constexpr int PathCapacity = 1032;  // full paths of folders and items

  struct Item {
    FileInfo info;
    std::basic_string<Char> name;  // the plain long name
  };

  BasicFileFinder() = default;
  ~BasicFileFinder() { ReleaseWalk(); }
  BasicFileFinder(const BasicFileFinder&) = delete;
  BasicFileFinder& operator=(const BasicFileFinder&) = delete;

  // Prepares a walk; reads nothing yet. A start path naming a file walks
  // only that file, without recursion, and ignores the include text; one
  // holding '*', '?' or ';' takes its last component as include patterns;
  // one that does not exist takes its last component as the only name.
  void StartWalk(const Char* startPath, bool recursive, const Char* include, const Char* exclude);

  // The next item (it becomes the current one), or nullptr when the walk is
  // finished. The item stays valid while its folder's items are delivered.
  const Item* NextItem();

  // Full path of an item of the current folder (folder path + name), or with
  // relative the part behind the start folder; nullptr for other items. The
  // text stays valid until the next call on the walk.
  const Char* ItemPath(const Item* item, bool relative, int* length = nullptr);
  const FileInfo* ItemInfo(const Item* item) const { return item ? &item->info : nullptr; }

  bool PassesNameFilter(const Char* name, int length) const;

  // True when the walk met a file or folder whose full path does not fit
  // PathCapacity, or a start path it could not take (not resolved, or too
  // long for RootCapacity): the walk could not deliver it, and its caller
  // must not take the walk for complete.
  bool PathsTooLong() const { return pathsTooLong_; }

  // Drops the walk's state; the finder can start a new walk afterwards.
  void ReleaseWalk();

  // The start folder with its trailing separator, and its length.
  const Char* RootFolder() const { return root_; }
  int RootLength() const { return rootLength_; }
  bool Recursive() const { return recursive_; }
  bool SinglePattern() const { return singlePattern_; }
  const PatternList<Char>& IncludeList() const { return include_; }
  const PatternList<Char>& ExcludeList() const { return exclude_; }

 private:
  enum class State { NotStarted, Delivering, Finished };

  void ReadHeadFolder();
  // Cuts root_ behind its last separator and parses the cut-off component
  // as include patterns; false when there is no separator.
  bool SplitLastComponent(bool* matchAll);

  State state_ = State::NotStarted;
  Char root_[RootCapacity] = {};
  int rootLength_ = 0;
  std::deque<std::basic_string<Char>> folders_;  // head: the folder being delivered
  std::vector<Item> items_;
  std::size_t cursor_ = 0;
  PatternList<Char> include_;
  PatternList<Char> exclude_;
  bool recursive_ = false;
  bool singlePattern_ = false;
  bool pathsTooLong_ = false;
  Char path_[PathCapacity] = {};
};

using FileFinder = BasicFileFinder<char>;
using WideFileFinder = BasicFileFinder<platform::WideChar>;

}  // namespace fs

#endif  // PAKKARO_FS_FILE_FINDER_H
