// A DLL that only leaves a mark: when a process loads it, it creates
// "<its own path>.loaded" beside itself. Built under the names of system DLLs
// (version.dll, imm32.dll, ...) and planted beside a copy of the package, it
// shows whether the package, or a system DLL the package loaded, picked up a
// DLL from the package's folder. It exports no function of the system DLL it
// stands in for, so a program that needed one fails to start, which shows too.
// Its one export, MarkerProbe, is what the hardening probe delay-loads from it
// (tests/helpers/hardening_probe.cpp).
#include <windows.h>

#include <cwchar>

extern "C" __declspec(dllexport) int MarkerProbe() { return 0; }

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  const wchar_t kSuffix[] = L".loaded";
  wchar_t path[MAX_PATH + sizeof kSuffix / sizeof *kSuffix] = {};
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  std::wcscpy(path + length, kSuffix);
  HANDLE mark = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}
