// 64-bit Windows detection for this 32-bit program.
#pragma once

#include <windows.h>

namespace qnvpd {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

// Non-zero when running on 64-bit Windows. "IsWow64Process" is looked up at run
// time; missing or failing, the answer is 0 (the 32-bit choice). The lookup is a
// seam for tests: pass the function to use, or nullptr for "missing".
int IsWow64();
int IsWow64With(IsWow64ProcessFn isWow64Process);

}  // namespace qnvpd
