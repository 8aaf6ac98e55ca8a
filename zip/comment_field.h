// CommentField: the comment field of the end record. A loaded archive's
// comment is written back byte for byte until a new one is set; an archive
// this engine creates gets the identification text unless given one.
#ifndef PAKKARO_ZIP_COMMENT_FIELD_H
#define PAKKARO_ZIP_COMMENT_FIELD_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korbel {

class CommentField {
 public:
  // The comment as text, or nullptr when there is none.
  const char* Text() const { return text_ ? text_->c_str() : nullptr; }
  // nullptr removes the comment.
  void Set(const char* comment);
  // The stored bytes of a loaded archive's comment.
  void Loaded(std::vector<std::uint8_t> stored);
  void Forget();
  // The bytes the end record carries.
  std::string Stored() const;

 private:
  std::unique_ptr<std::string> text_;
  // Null for an archive this engine creates and once a comment was set.
  std::unique_ptr<std::vector<std::uint8_t>> stored_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_COMMENT_FIELD_H
