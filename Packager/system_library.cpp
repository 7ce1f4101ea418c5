#include "system_library.h"

#include <cwchar>

#include "bounded_text.h"
#include "system_export.h"

namespace qnvpd {

namespace {

// Neither a path nor a drive-relative name: nothing that could point the load
// anywhere but into the system folder.
bool IsPlainFileName(const wchar_t* name) {
  return name != nullptr && *name != L'\0' && std::wcspbrk(name, L"\\/:") == nullptr;
}

}  // namespace

LibraryLoading SystemLibraryLoading() {
  LibraryLoading loading;
  // KB2533623 brought the flags and SetDefaultDllDirectories together.
  loading.searchFlagsSupported = Kernel32Export<FARPROC>("SetDefaultDllDirectories") != nullptr;
  loading.getSystemDirectory = GetSystemDirectoryW;
  loading.loadLibraryEx = LoadLibraryExW;
  return loading;
}

HMODULE LoadSystemLibrary(const wchar_t* name, const LibraryLoading& loading) {
  if (!IsPlainFileName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (loading.searchFlagsSupported) {
    return loading.loadLibraryEx(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // Without the flags a bare name would be looked for in the package's folder
  // first: only a full path keeps the search out of it.
  wchar_t folder[kPathCapacity] = {};
  const UINT length = loading.getSystemDirectory(folder, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  BoundedText<kPathCapacity> path;
  if (!path.Append(folder, length) || !path.Append(L'\\') ||
      !path.Append(name, std::wcslen(name))) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return loading.loadLibraryEx(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace qnvpd
