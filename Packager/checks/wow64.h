// 64-bit Windows detection for this 32-bit program.
#pragma once

#include <windows.h>

namespace qnvpd {

// "IsWow64Process", looked up at run time (null: the system lacks it); a seam so
// tests can present a missing or failing export.
struct Wow64Lookup {
  BOOL(WINAPI* isWow64Process)(HANDLE process, PBOOL answer);
};
Wow64Lookup SystemWow64Lookup();

// Non-zero when running on 64-bit Windows; missing or failing, the answer is 0
// (the 32-bit choice).
int IsWow64(const Wow64Lookup& lookup = SystemWow64Lookup());

}  // namespace qnvpd
