#include "zip/progress_reporter.h"

namespace korbel {
namespace {

// The bit of an event index, 0 for an index outside the 32-bit mask.
std::uint32_t EventBit(std::uint32_t event) { return event < 32 ? (1u << event) : 0u; }

}  // namespace

bool ProgressReporter::Install(std::uintptr_t userData, ProgressCallback function) {
  userData_ = userData;
  callback_ = function;
  eventMask_ = 0xFFFFFFFFu;
  rawMask_ = 0;
  return callback_ != nullptr;
}

std::uint32_t ProgressReporter::Enable(std::uint32_t value, bool wholeMask) {
  std::uint32_t previous = eventMask_;
  eventMask_ |= wholeMask ? value : EventBit(value);
  return previous;
}

std::uint32_t ProgressReporter::Disable(std::uint32_t value, bool wholeMask) {
  std::uint32_t previous = eventMask_;
  eventMask_ &= ~(wholeMask ? value : EventBit(value));
  return previous;
}

std::uint32_t ProgressReporter::SetRawMask(std::uint32_t value, int mode) {
  std::uint32_t previous = rawMask_;
  switch (mode) {
    case 0:
      rawMask_ = value;
      break;
    case 1:
      rawMask_ |= EventBit(value);
      break;
    case 2:
      rawMask_ &= ~EventBit(value);
      break;
    default:
      break;
  }
  return previous;
}

bool ProgressReporter::Wants(int event) const {
  return callback_ != nullptr && event >= 0 &&
         (eventMask_ & EventBit(static_cast<std::uint32_t>(event))) != 0;
}

int ProgressReporter::Report(int event, int entryIndex, const char* nameOrText) {
  if (!Wants(event)) return 0;
  if (rawMask_ & EventBit(static_cast<std::uint32_t>(event))) {
    return callback_(userData_, event, entryIndex, archive_, nullptr);
  }
  if (event == kErrorEvent) return callback_(userData_, event, entryIndex, archive_, nameOrText);
  if (!ComposeStatusLine(event, nameOrText, line_, partLengths_)) return 0;
  return callback_(userData_, event, entryIndex, archive_, line_);
}

}  // namespace korbel
