// Loading a system DLL after the start, from the system folder only.
#pragma once

#include <windows.h>

namespace qnvpd {

// What loading from the system folder needs of the system; a seam so tests can
// present a system without the LOAD_LIBRARY_SEARCH_* flags.
struct LibraryLoading {
  // LoadLibraryExW takes LOAD_LIBRARY_SEARCH_SYSTEM32: Windows 8 and later, and
  // Windows Vista and 7 with KB2533623, the update that brought
  // SetDefaultDllDirectories. Not XP, not Vista or 7 without it.
  bool searchFlagsSupported;
  UINT(WINAPI* getSystemDirectory)(LPWSTR buffer, UINT capacity);
  HMODULE(WINAPI* loadLibraryEx)(LPCWSTR fileName, HANDLE reserved, DWORD flags);
};
LibraryLoading SystemLibraryLoading();

// Loads the system DLL `name`, a plain file name such as L"userenv.dll", from
// the system folder and nowhere else: never from the package's folder, the
// current folder or PATH. By name with the search restricted to the system
// folder where the system can do that; elsewhere by its full path in the
// system folder, with the DLL's own imports looked for from there first
// (LOAD_WITH_ALTERED_SEARCH_PATH). Null, with the last error set, when it
// cannot be loaded from there, or when `name` is not a plain file name. Every
// DLL the package loads by name goes through here; USER32, ADVAPI32 and
// COMCTL32 too (Packager/launcher/delay_load_hook.cpp).
HMODULE LoadSystemLibrary(const wchar_t* name,
                          const LibraryLoading& loading = SystemLibraryLoading());

}  // namespace qnvpd
