#include "zip/comment_field.h"

#include "zip/format/end_record.h"
#include "zip/format/name_codec.h"

namespace korbel {
namespace {

// Stands as the comment of an archive this engine creates when none is set.
constexpr const char* kIdentification = "KB Korbel V5.01 (c) 2026 Pakkaro";

}  // namespace

void CommentField::Set(const char* comment) {
  if (comment == nullptr) {
    text_.reset();
    // A loaded archive's comment is gone; a new archive still gets the identification.
    if (stored_) stored_->clear();
  } else {
    text_ = std::make_unique<std::string>(comment);
    stored_.reset();
  }
}

void CommentField::Loaded(std::vector<std::uint8_t> stored) {
  Forget();
  stored_ = std::make_unique<std::vector<std::uint8_t>>(std::move(stored));
  if (stored_->empty()) return;
  text_ = std::make_unique<std::string>();
  DecodeName(stored_->data(), stored_->size(), 0, text_.get());
}

void CommentField::Forget() {
  text_.reset();
  stored_.reset();
}

std::string CommentField::Stored() const {
  if (stored_) return std::string(stored_->begin(), stored_->end());
  return EncodeArchiveComment(text_ ? *text_ : std::string(kIdentification));
}

}  // namespace korbel
