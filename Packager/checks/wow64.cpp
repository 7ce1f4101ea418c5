#include "checks/wow64.h"

namespace qnvpd {

Wow64Lookup SystemWow64Lookup() {
  // Looked up by name, not imported: the program must still load on systems
  // whose kernel32 lacks the export.
  FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process");
  Wow64Lookup lookup;
  lookup.isWow64Process =
      reinterpret_cast<BOOL(WINAPI*)(HANDLE, PBOOL)>(reinterpret_cast<void (*)()>(proc));
  return lookup;
}

int IsWow64(const Wow64Lookup& lookup) {
  BOOL answer = FALSE;
  if (lookup.isWow64Process == nullptr) return 0;  // a system without it is 32-bit
  if (!lookup.isWow64Process(GetCurrentProcess(), &answer)) return 0;
  return answer;
}

}  // namespace qnvpd
