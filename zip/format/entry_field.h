// The variable-length parts of an entry (name, comment, source path, extra
// fields). An entry loaded from a directory views bytes that the table keeps
// in its arena, so a million entries cost no allocation each; an entry the
// engine makes or changes holds a copy of its own. Either way the bytes are
// followed by a 0, so a name is also a C string.
#ifndef PAKKARO_ZIP_ENTRY_FIELD_H
#define PAKKARO_ZIP_ENTRY_FIELD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace korbel {

template <typename T>
class EntryField {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  EntryField() = default;
  EntryField(const EntryField& other) { CopyFrom(other); }
  EntryField(EntryField&& other) noexcept { TakeFrom(other); }
  ~EntryField() { Release(); }

  EntryField& operator=(const EntryField& other) {
    if (this != &other) {
      Release();
      CopyFrom(other);
    }
    return *this;
  }
  EntryField& operator=(EntryField&& other) noexcept {
    if (this != &other) {
      Release();
      TakeFrom(other);
    }
    return *this;
  }
  template <typename Container, typename = decltype(std::declval<const Container&>().data())>
  EntryField& operator=(const Container& bytes) {
    Assign(bytes.data(), bytes.size());
    return *this;
  }
  EntryField& operator=(const T* text) {
    Assign(text, text ? Length(text) : 0);
    return *this;
  }

  // Holds a copy of `size` bytes.
  void Assign(const T* bytes, std::size_t size) {
    if (size == 0) {
      Release();
      return;
    }
    T* copy = new T[size + 1];
    std::memcpy(copy, bytes, size * sizeof(T));
    copy[size] = T();
    Release();
    data_ = copy;
    size_ = static_cast<std::uint32_t>(size);
    owned_ = true;
  }
  // Views `size` bytes that another owner keeps alive, with a 0 behind them.
  void View(const T* bytes, std::size_t size) {
    Release();
    if (size == 0) return;
    data_ = bytes;
    size_ = static_cast<std::uint32_t>(size);
  }
  void clear() { Release(); }
  const T* data() const { return data_; }
  const T* c_str() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  T operator[](std::size_t at) const { return data_[at]; }
  T back() const { return data_[size_ - 1]; }
  std::size_t find(T value) const {
    for (std::size_t i = 0; i < size_; ++i) {
      if (data_[i] == value) return i;
    }
    return npos;
  }
  std::basic_string_view<T> view() const { return {data_, size_}; }
  std::basic_string<T> str() const { return {data_, size_}; }
  operator std::basic_string_view<T>() const { return view(); }  // NOLINT: reads like a string

  friend bool operator==(const EntryField& a, std::basic_string_view<T> b) { return a.view() == b; }
  friend bool operator==(std::basic_string_view<T> a, const EntryField& b) { return a == b.view(); }
  friend bool operator!=(const EntryField& a, std::basic_string_view<T> b) { return a.view() != b; }
  friend bool operator==(const EntryField& a, const EntryField& b) { return a.view() == b.view(); }
  friend bool operator==(const EntryField& a, const T* b) { return a.view() == std::basic_string_view<T>(b); }
  friend bool operator!=(const EntryField& a, const T* b) { return !(a == b); }
  friend bool operator==(const EntryField& a, const std::basic_string<T>& b) { return a.view() == b; }
  friend bool operator==(const std::basic_string<T>& a, const EntryField& b) { return b.view() == a; }
  friend bool operator!=(const EntryField& a, const std::basic_string<T>& b) { return a.view() != b; }
  friend bool operator==(const EntryField& a, const std::vector<T>& b) {
    return a.size() == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size() * sizeof(T)) == 0);
  }
  friend bool operator==(const std::vector<T>& a, const EntryField& b) { return b == a; }

 private:
  static std::size_t Length(const T* text) {
    std::size_t n = 0;
    while (text[n] != T()) ++n;
    return n;
  }
  static const T* Empty() {
    static const T kNothing[1] = {T()};
    return kNothing;
  }
  void Release() {
    if (owned_) delete[] data_;
    data_ = Empty();
    size_ = 0;
    owned_ = false;
  }
  void CopyFrom(const EntryField& other) {
    if (other.owned_) {
      Assign(other.data_, other.size_);
    } else {
      data_ = other.data_;
      size_ = other.size_;
    }
  }
  void TakeFrom(EntryField& other) {
    data_ = other.data_;
    size_ = other.size_;
    owned_ = other.owned_;
    other.data_ = Empty();
    other.size_ = 0;
    other.owned_ = false;
  }

  const T* data_ = Empty();
  std::uint32_t size_ = 0;
  bool owned_ = false;
};

using EntryText = EntryField<char>;
using EntryBytes = EntryField<std::uint8_t>;

inline std::ostream& operator<<(std::ostream& out, const EntryText& text) { return out << text.view(); }

}  // namespace korbel

#endif  // PAKKARO_ZIP_ENTRY_FIELD_H
