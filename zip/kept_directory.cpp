#include "zip/kept_directory.h"

namespace korbel {

void KeptDirectory::Keep(ArchiveStore& store, std::int64_t start, std::size_t size) {
  bytes_.resize(size);
  if (size > 0) store.ReadAt(start, bytes_.data(), size);
  kept_ = true;
}

void KeptDirectory::Forget() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  kept_ = false;
}

const std::uint8_t* KeptDirectory::CentralOf(const ZipEntry& entry) const {
  if (entry.keptCentralAt == kNotKept || !kept_) return nullptr;
  return bytes_.data() + entry.keptCentralAt;
}

}  // namespace korbel
