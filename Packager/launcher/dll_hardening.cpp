#include "launcher/dll_hardening.h"

#include <windows.h>

#include "system_export.h"

namespace qnvpd {

void RestrictDllSearchPath() {
  // Both looked up at run time: the first is missing before XP SP1, the second
  // before Windows 8 (and on Windows 7 without its update). The empty DLL
  // directory takes the current folder out of the search where only the first
  // exists; the second restricts the default search to the system folder.
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDllDirectory = Kernel32Export<SetDllDirectoryFn>("SetDllDirectoryW");
  if (setDllDirectory != nullptr) setDllDirectory(L"");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = Kernel32Export<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace qnvpd
