// The progress callback of an archive object with its event masks: which
// events reach the callback, which of them without a text, and the part
// lengths of the last status line.
#ifndef PAKKARO_ZIP_PROGRESS_REPORTER_H
#define PAKKARO_ZIP_PROGRESS_REPORTER_H

#include <cstdint>

#include "zip/error_texts.h"

namespace korbel {

class ArchiveBase;

// Called with the user data, the event index, the entry index (or -1), the
// archive object and the status text (null for a raw event). A nonzero
// answer stops the reporting operation (for event 15: skips the file).
using ProgressCallback = int (*)(std::uintptr_t userData, int event, int entryIndex, ArchiveBase* archive,
                                 const char* text);

class ProgressReporter {
 public:
  explicit ProgressReporter(ArchiveBase* archive = nullptr) : archive_(archive) {}
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  // The archive handed to the callback.
  void SetArchive(ArchiveBase* archive) { archive_ = archive; }

  // Stores callback and user data, reports every event with text from now
  // on (event mask all ones, raw mask 0); true when a callback is installed.
  bool Install(std::uintptr_t userData, ProgressCallback function);
  // wholeMask: OR `value` into the event mask; else set the bit of event
  // index `value`. Answers the previous mask.
  std::uint32_t Enable(std::uint32_t value, bool wholeMask);
  // wholeMask: clear the bits of `value`; else the bit of event index
  // `value`. Answers the previous mask.
  std::uint32_t Disable(std::uint32_t value, bool wholeMask);
  // Mode 0 replaces the raw-event mask with `value`, mode 1 sets the bit of
  // event index `value`, mode 2 clears it; answers the previous mask.
  std::uint32_t SetRawMask(std::uint32_t value, int mode);

  // Whether a callback is installed and the event's bit is set.
  bool Wants(int event) const;

  // Calls the callback for an event it wants (else answers 0): with a null
  // text when the event is raw; for event 10 with `nameOrText` as it is
  // (the composed error text); otherwise with the status line of prefix,
  // `nameOrText` (the entry's name, or the archive path for index -1) and
  // suffix. Answers the callback's result.
  int Report(int event, int entryIndex, const char* nameOrText);

  ProgressCallback callback() const { return callback_; }
  std::uintptr_t userData() const { return userData_; }
  std::uint32_t eventMask() const { return eventMask_; }
  std::uint32_t rawMask() const { return rawMask_; }
  // Prefix, name and suffix (with its zero) lengths of the last status line.
  const std::uint32_t* partLengths() const { return partLengths_; }

 private:
  ArchiveBase* archive_;
  ProgressCallback callback_ = nullptr;
  std::uintptr_t userData_ = 0;
  std::uint32_t eventMask_ = 0;
  std::uint32_t rawMask_ = 0;
  std::uint32_t partLengths_[3] = {0, 0, 0};
  char line_[kStatusLineCapacity] = {};
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_PROGRESS_REPORTER_H
