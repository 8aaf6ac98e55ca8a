#include "zip/io/read_window.h"

#include <algorithm>

#include "zip/io/archive_store.h"

namespace korbel {

const unsigned char* ReadWindow::Get(ArchiveStore& store, std::int64_t position, std::size_t length) {
  if (position < 0 || length > capacity_) return nullptr;
  const auto end = static_cast<std::uint64_t>(position) + length;
  if (position >= start_ && end <= static_cast<std::uint64_t>(start_) + filled_) {
    return block_.data() + (position - start_);
  }
  const std::int64_t size = store.Size();
  if (size < 0 || end > static_cast<std::uint64_t>(size)) return nullptr;
  filled_ = 0;
  const auto want =
      static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(capacity_), size - position));
  // Grown to what the source holds, not to the capacity: a small archive
  // must not pay for clearing a large window on every load.
  if (block_.size() < want) block_.resize(want);
  if (store.Seek(position, platform::kSeekBegin) != position) return nullptr;
  if (store.Read(block_.data(), want) != static_cast<std::int64_t>(want)) return nullptr;
  start_ = position;
  filled_ = want;
  return block_.data();
}

}  // namespace korbel
