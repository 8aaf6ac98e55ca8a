#include "fs/file_finder.h"

#include <functional>

#include "fs/char_rules.h"
#include "fs/path_strings.h"

namespace fs {
namespace {

template <typename Char>
bool IsDotName(const Char* name) {
  return name[0] == Char('.') && (name[1] == 0 || (name[1] == Char('.') && name[2] == 0));
}

template <typename Char>
bool HoldsPatternCharacters(const Char* text) {
  for (; *text; ++text) {
    if (*text == Char(';') || *text == Char('*') || *text == Char('?')) return true;
  }
  return false;
}

}  // namespace

template <typename Char>
void BasicFileFinder<Char>::ReleaseWalk() {
  // Searches are closed before ReadHeadFolder returns, so none is open here.
  state_ = State::NotStarted;
  root_[0] = 0;
  rootLength_ = 0;
  folders_.clear();
  items_.clear();
  items_.shrink_to_fit();
  cursor_ = 0;
  include_.clear();
  exclude_.clear();
  recursive_ = false;
  singlePattern_ = false;
  pathsTooLong_ = false;
  path_[0] = 0;
}

template <typename Char>
bool BasicFileFinder<Char>::SplitLastComponent(bool* matchAll) {
  int cut = TextLength(root_);
  while (cut > 0 && !IsSeparator(root_[cut - 1])) --cut;
  if (cut == 0) return false;
  if (ParsePatternList(root_ + cut, include_, true)) *matchAll = true;
  root_[cut] = 0;
  return true;
}

template <typename Char>
void BasicFileFinder<Char>::StartWalk(const Char* startPath, bool recursive, const Char* include,
                                      const Char* exclude) {
  ReleaseWalk();
  state_ = State::Finished;  // until the start path proves usable
  recursive_ = recursive;
  if (!startPath || !startPath[0]) return;

  const std::uint32_t resolved = platform::GetFullPath(startPath, root_, RootCapacity);
  if (resolved == 0 || resolved >= static_cast<std::uint32_t>(RootCapacity)) {
    // A start that cannot be taken is a walk that could not deliver.
    root_[0] = 0;
    pathsTooLong_ = true;
    return;
  }
  // The walk builds its paths with '\' only, so relative paths read alike
  // on every platform.
  const int length = ConvertSeparators(root_, Char('\\'));

  bool matchAll = false;
  bool takeIncludeText = true;
  if (HoldsPatternCharacters(root_)) {
    if (!SplitLastComponent(&matchAll)) return;
  } else if (!IsSeparator(root_[length - 1])) {
    FileRecord<Char> record;
    const int found = GetFileInfo(root_, &record);
    bool appendSeparator = false;
    if (found == InfoNotFound || found == InfoNoPath) {
      // A server share answers only a search below it.
      if (IsSeparator(root_[0]) && IsSeparator(root_[1]) && length + 2 < RootCapacity) {
        const Char suffix[] = {Char('\\'), Char('*'), Char(0)};
        CopyBounded(path_, root_, PathCapacity);
        AppendBounded(path_, suffix, PathCapacity);
        const int share = GetFileInfo(path_, &record);
        appendSeparator = share != InfoNotFound && share != InfoNoPath;
      }
      if (!appendSeparator && !SplitLastComponent(&matchAll)) return;
    } else if (found == InfoOk && (record.info.attributes & InfoFolder)) {
      appendSeparator = true;
    } else {
      // A file: its folder is searched for its name alone.
      if (!SplitLastComponent(&matchAll)) return;
      recursive_ = false;
      takeIncludeText = false;
    }
    if (appendSeparator) {
      if (length + 1 >= RootCapacity) {
        pathsTooLong_ = true;
        return;
      }
      root_[length] = Char('\\');
      root_[length + 1] = 0;
    }
  }
  rootLength_ = TextLength(root_);

  if (takeIncludeText && !matchAll && ParsePatternList(include, include_, true)) {
    matchAll = true;
  }
  ParsePatternList(exclude, exclude_, false);
  if (matchAll) include_.clear();
  singlePattern_ = !recursive_ && include_.size() == 1;
  state_ = State::Delivering;
}

template <typename Char>
const typename BasicFileFinder<Char>::Item* BasicFileFinder<Char>::NextItem() {
  if (state_ != State::Delivering) return nullptr;
  while (cursor_ >= items_.size()) {
    if (folders_.empty()) {
      folders_.emplace_back(root_);
    } else if (folders_.size() == 1) {
      state_ = State::Finished;
      folders_.clear();
      items_.clear();
      return nullptr;
    } else {
      folders_.pop_front();
    }
    ReadHeadFolder();
  }
  return &items_[cursor_++];
}

template <typename Char>
void BasicFileFinder<Char>::ReadHeadFolder() {
  items_.clear();
  cursor_ = 0;
  const std::basic_string<Char>& folder = folders_.front();
  const int folderLength = static_cast<int>(folder.size());

  static const Char kAll[] = {Char('*'), Char(0)};
  const Char* name = singlePattern_ ? include_.front().text.c_str() : kAll;
  // A pattern that does not fit whole would search another folder.
  if (folderLength + TextLength(name) >= PathCapacity) return;
  CopyBounded(path_, folder.c_str(), PathCapacity);
  AppendBounded(path_, name, PathCapacity);

  FileRecord<Char> record;
  const platform::SearchHandle search = FindFirstInfo(path_, &record, nullptr);
  if (search == platform::kInvalidSearch) return;
  do {
    const int nameLength = TextLength(record.name);
    if (record.special) continue;
    if (record.info.attributes & InfoFolder) {
      if (!recursive_ || IsDotName(record.name) || record.link) continue;
      if (folderLength + nameLength + 2 >= PathCapacity) {
        pathsTooLong_ = true;
        continue;
      }
      std::basic_string<Char> subfolder = folder;
      subfolder.append(record.name, static_cast<std::size_t>(nameLength));
      subfolder.push_back(Char('\\'));
      folders_.push_back(std::move(subfolder));
    } else if (PassesNameFilter(record.name, nameLength)) {
      if (folderLength + nameLength >= PathCapacity) {
        pathsTooLong_ = true;
        continue;
      }
      items_.push_back(Item{record.info, std::basic_string<Char>(record.name)});
    }
  } while (FindNextInfo(search, &record) == InfoOk);
  FindCloseInfo(search);
}

template <typename Char>
const Char* BasicFileFinder<Char>::ItemPath(const Item* item, bool relative, int* length) {
  if (length) *length = 0;
  const std::less<const Item*> before;
  if (!item || items_.empty() || folders_.empty() || before(item, items_.data()) ||
      !before(item, items_.data() + items_.size())) {
    return nullptr;
  }
  CopyBounded(path_, folders_.front().c_str(), PathCapacity);
  const int full = AppendBounded(path_, item->name.c_str(), PathCapacity);
  const int skip = relative ? rootLength_ : 0;
  if (length) *length = full - skip;
  return path_ + skip;
}

template <typename Char>
bool BasicFileFinder<Char>::PassesNameFilter(const Char* name, int length) const {
  return fs::PassesNameFilter(include_, exclude_, name, length);
}

template class BasicFileFinder<char>;
template class BasicFileFinder<platform::WideChar>;

}  // namespace fs
