// RunProgress: how far the current read has come, for ProgressPosition. A
// run over several entries (ProgressRun 2) counts on from entry to entry;
// otherwise each entry starts from nothing.
#ifndef PAKKARO_ZIP_RUN_PROGRESS_H
#define PAKKARO_ZIP_RUN_PROGRESS_H

#include <cstdint>

namespace korbel {

class RunProgress {
 public:
  // kind 2 starts a run, 1 starts an entry's read unless a run goes on, 0
  // ends the run (all done when it `succeeded`): the state before.
  int Run(int kind, bool succeeded) {
    const int previous = state_;
    if (kind == 2) {
      Reset();
      state_ = 2;
    } else if (kind == 1) {
      if (state_ != 2) Reset();
    } else if (kind == 0) {
      state_ = 0;
      if (succeeded) processed_ = total_;
    }
    return previous;
  }
  void Reset() {
    processed_ = 0;
    total_ = 0;
    state_ = 0;
  }
  // A read starts: outside a run, it is all there is.
  void BeginRead() {
    if (state_ < 2) {
      processed_ = 0;
      total_ = 0;
    }
  }
  void SetEntrySize(std::uint64_t size) { total_ = size; }
  void EntryRead() { processed_ = total_; }

  std::uint64_t Total() const { return total_; }
  // `codecCount`: the bytes the codec decoded of the current entry, when
  // they count (a read on the archive's thread).
  std::uint64_t Position(const std::uint64_t* codecCount) const {
    std::uint64_t position = processed_;
    if (state_ != 0 && codecCount != nullptr) position = *codecCount + (state_ >= 2 ? processed_ : 0);
    return position > total_ ? total_ : position;
  }

 private:
  std::uint64_t processed_ = 0;
  std::uint64_t total_ = 0;
  int state_ = 0;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_RUN_PROGRESS_H
