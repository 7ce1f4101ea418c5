#include "wow64.h"

namespace qnvpd {

int IsWow64With(IsWow64ProcessFn isWow64Process) {
  BOOL answer = FALSE;
  if (isWow64Process == nullptr) return 0;  // a system without it is 32-bit
  if (!isWow64Process(GetCurrentProcess(), &answer)) return 0;
  return answer;
}

int IsWow64() {
  // Looked up by name, not imported: the program must still load on systems
  // whose kernel32 lacks the export.
  FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32"), "IsWow64Process");
  return IsWow64With(
      reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(proc)));
}

}  // namespace qnvpd
