// Text built in a buffer of fixed capacity, as the paths and command lines the
// package hands to the system are: an append that would not fit fails and
// leaves the text as it was, instead of cutting it short.
#pragma once

#include <cstddef>
#include <cwchar>
#include <string>

namespace qnvpd {

// The platform's path limit, the terminating zero included.
constexpr size_t kPathCapacity = 260;

template <size_t Capacity>
class BoundedText {
 public:
  static constexpr size_t kCapacity = Capacity;  // the terminating zero included

  // False, and nothing appended, when the text and its zero would not fit.
  bool Append(const wchar_t* text, size_t length) {
    if (length > Capacity - 1 - size_) return false;
    std::wmemcpy(text_ + size_, text, length);
    size_ += length;
    text_[size_] = L'\0';
    return true;
  }
  bool Append(const std::wstring& text) { return Append(text.data(), text.size()); }
  bool Append(wchar_t c) { return Append(&c, 1); }

  const wchar_t* c_str() const { return text_; }
  // The whole zero-filled buffer, for calls that may write into it.
  wchar_t* Buffer() { return text_; }
  size_t size() const { return size_; }
  std::wstring str() const { return std::wstring(text_, size_); }

 private:
  wchar_t text_[Capacity] = {};
  size_t size_ = 0;
};

}  // namespace qnvpd
