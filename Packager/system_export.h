// Functions of the system DLLs that the package looks up at run time instead of
// importing: older systems the package still accepts lack them, and a program
// that imports a missing function is refused by the loader before it can say
// anything. Only for DLLs every process already has loaded (kernel32, ntdll).
#pragma once

#include <windows.h>

namespace qnvpd {

// The export `name` of the loaded module `module`, as a pointer of type Fn;
// null when the module or the export is not there.
template <typename Fn>
Fn SystemExport(const wchar_t* module, const char* name) {
  HMODULE loaded = GetModuleHandleW(module);
  return loaded == nullptr
             ? nullptr
             : reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(loaded, name)));
}

template <typename Fn>
Fn Kernel32Export(const char* name) {
  return SystemExport<Fn>(L"kernel32", name);
}

// ntdll is not among the package's imports either; its native calls exist on
// every system the package accepts, where several Win32 wrappers came later.
template <typename Fn>
Fn NtdllExport(const char* name) {
  return SystemExport<Fn>(L"ntdll", name);
}

}  // namespace qnvpd
