// HeldFolder: the folder the last file was extracted into, held open (and so
// kept from being swapped for a link) for the next files of the same folder,
// as long as its path still leads to it.
#ifndef PAKKARO_ZIP_HELD_FOLDER_H
#define PAKKARO_ZIP_HELD_FOLDER_H

#include <memory>
#include <string>

#include "platform/platform.h"

namespace korbel {

class HeldFolder {
 public:
  // Whether the folder held is `relative` below `base`, still where that path leads.
  bool Serves(const std::string& base, const std::string& relative) const;
  // Opens `relative` below `base`, making what is missing, without following
  // links, and holds it; on failure the folder held before stays. The
  // engine's code: kOk, or why the folder cannot take files.
  int Open(const std::string& base, const std::string& relative, bool* created = nullptr);
  // The folder held; only after a successful Open or Serves.
  platform::TargetFolder& Folder() const { return *folder_; }
  void Forget();

 private:
  std::unique_ptr<platform::TargetFolder> folder_;
  std::string base_;
  std::string relative_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_HELD_FOLDER_H
