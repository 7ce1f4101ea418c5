// Small owners for the handles the package opens: each closes what it holds when
// it goes out of scope, so every early return releases it. Not copyable.
#pragma once

#include <windows.h>

namespace qnvpd {

template <typename Traits>
class Scoped {
 public:
  using Handle = typename Traits::Handle;
  Scoped() : handle_(Traits::Invalid()) {}
  explicit Scoped(Handle handle) : handle_(handle) {}
  ~Scoped() { Reset(); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

  bool IsValid() const { return handle_ != Traits::Invalid(); }
  Handle Get() const { return handle_; }
  // For functions that fill in a handle; whatever was held is released first.
  Handle* Receive() {
    Reset();
    return &handle_;
  }
  // Gives the handle up to the caller, who closes it from then on.
  Handle Release() {
    Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }
  void Reset(Handle handle = Traits::Invalid()) {
    if (IsValid()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_;
};

struct KernelHandleTraits {  // processes, threads, files opened by CreateFile
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
struct FileHandleTraits {  // CreateFileW reports failure as INVALID_HANDLE_VALUE
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};
struct LibraryTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};
struct LocalMemoryTraits {  // LocalAlloc, and descriptors the system allocates that way
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { LocalFree(h); }
};

using ScopedHandle = Scoped<KernelHandleTraits>;
using ScopedFile = Scoped<FileHandleTraits>;
using ScopedFind = Scoped<FindHandleTraits>;
using ScopedKey = Scoped<RegKeyTraits>;
using ScopedLibrary = Scoped<LibraryTraits>;
using ScopedLocal = Scoped<LocalMemoryTraits>;

}  // namespace qnvpd
