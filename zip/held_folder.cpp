#include "zip/held_folder.h"

#include "zip/error_codes.h"
#include "zip/extract_path.h"

namespace korbel {

bool HeldFolder::Serves(const std::string& base, const std::string& relative) const {
  return folder_ && base_ == base && relative_ == relative && folder_->Unmoved();
}

int HeldFolder::Open(const std::string& base, const std::string& relative, bool* created) {
  auto opening = std::make_unique<platform::TargetFolder>();
  const int opened = CodeForFolderOpen(opening->Open(base.c_str(), relative.c_str(), true, created));
  if (opened != kOk) return opened;
  folder_ = std::move(opening);
  base_ = base;
  relative_ = relative;
  return kOk;
}

void HeldFolder::Forget() {
  folder_.reset();
  base_.clear();
  relative_.clear();
}

}  // namespace korbel
