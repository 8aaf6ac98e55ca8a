// The line that shows how far a pack has come, on the standard error when
// that is a console or terminal: files done of all, bytes done of all, the
// percentage and the current file, redrawn in place at most ten times a
// second once the run has taken a second. Nothing is written when the
// standard error is a file or pipe, so redirected runs look as before.
#ifndef PAKKARO_APP_PACK_PROGRESS_H
#define PAKKARO_APP_PACK_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

#include "zip/korbel.h"

namespace pakkaro {

// The progress line as UTF-8, at most `width` - 1 characters (the last
// column stays free so that the terminal never wraps): the name is
// shortened from its front ("...") to fit.
std::string ProgressLine(std::uint64_t filesDone, std::uint64_t filesAll, std::uint64_t bytesDone,
                         std::uint64_t bytesAll, const std::string& name, int width);

class PackProgress {
 public:
  // Starts the clock; draws nothing until Follow is called.
  PackProgress();
  // Clears the line and takes the callback off the archive.
  ~PackProgress();
  PackProgress(const PackProgress&) = delete;
  PackProgress& operator=(const PackProgress&) = delete;

  // Follows the archive's writing of its queued entries (the engine's
  // events 7 and 14), with the totals taken from the queued entries.
  void Follow(korbel::Korbel& archive);
  // Removes the line, before the program's own message.
  void Clear();

 private:
  static int OnEvent(std::uintptr_t self, int event, int entryIndex, korbel::ArchiveBase* archive,
                     const char* text);
  void Draw(korbel::Korbel& archive, int entryIndex);

  bool enabled_;
  korbel::Korbel* followed_ = nullptr;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
  std::uint64_t filesAll_ = 0;
  std::uint64_t bytesAll_ = 0;
  std::uint64_t filesDone_ = 0;
  std::uint64_t bytesDone_ = 0;
  int width_ = 80;
};

}  // namespace pakkaro

#endif  // PAKKARO_APP_PACK_PROGRESS_H
