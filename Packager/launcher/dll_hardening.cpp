#include "launcher/dll_hardening.h"

#include <windows.h>

namespace qnvpd {

void RestrictDllSearchPath() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  if (kernel32 == nullptr) return;
  // Both looked up at run time: the first is missing before XP SP1, the second
  // before Windows 8 (and on Windows 7 without its update). The empty DLL
  // directory takes the current folder out of the search where only the first
  // exists; the second restricts the default search to the system folder.
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDllDirectoryW")));
  if (setDllDirectory != nullptr) setDllDirectory(L"");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace qnvpd
