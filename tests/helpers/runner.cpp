// Starts a program, waits for it and prints its full 32-bit exit code (Wine's
// own exit status is cut to 8 bits). Usage: runner.exe <program> [arguments...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: runner <program> [arguments...]\n");
    return 9001;
  }
  std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 2; i < argc; ++i) cmd += L" " + std::wstring(argv[i]);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    std::wprintf(L"could not start %ls (error %lu)\n", argv[1], GetLastError());
    return 9002;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::wprintf(L"exit code: %lu\n", code);
  return static_cast<int>(code & 0xFF);
}
