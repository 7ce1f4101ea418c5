#include "checks/wow64.h"

#include "system_export.h"

namespace qnvpd {

Wow64Lookup SystemWow64Lookup() {
  // Looked up by name, not imported: the program must still load on systems
  // whose kernel32 lacks the export.
  Wow64Lookup lookup;
  lookup.isWow64Process = Kernel32Export<BOOL(WINAPI*)(HANDLE, PBOOL)>("IsWow64Process");
  return lookup;
}

int IsWow64(const Wow64Lookup& lookup) {
  BOOL answer = FALSE;
  if (lookup.isWow64Process == nullptr) return 0;  // a system without it is 32-bit
  if (!lookup.isWow64Process(GetCurrentProcess(), &answer)) return 0;
  return answer;
}

}  // namespace qnvpd
