// Runs a program once and prints "<milliseconds> <peak private bytes>
// <peak working set> <exit code>", then "<phase>=<milliseconds>" for every
// timestamp the program and its children noted (QNVPD_BENCH_STAMPS; see
// Packager/phase_times.h), counted from the moment this probe started it: the
// benchmark's measuring probe.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

namespace {

// The stamps file the runs append to: fresh for every run.
std::wstring PrepareStamps() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring path = std::wstring(temp) + L"qnvpd-bench-stamps.txt";
  DeleteFileW(path.c_str());
  SetEnvironmentVariableW(L"QNVPD_BENCH_STAMPS", path.c_str());
  return path;
}

void PrintStamps(const std::wstring& path, LONGLONG start, LONGLONG frequency) {
  FILE* stamps = _wfopen(path.c_str(), L"r");
  if (stamps == nullptr) return;
  char phase[64];
  long long counter = 0;
  while (std::fscanf(stamps, "%63s %lld", phase, &counter) == 2) {
    std::printf(" %s=%.3f", phase, 1000.0 * static_cast<double>(counter - start) / frequency);
  }
  std::fclose(stamps);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring cmd = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 2; i < argc; ++i) cmd += L" " + std::wstring(argv[i]);
  const std::wstring stamps = PrepareStamps();
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  QueryPerformanceCounter(&t0);
  if (!CreateProcessW(argv[1], &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 3;
  // The counters are peaks already; sample them while the program runs, since
  // not every system answers for a process that has ended.
  PROCESS_MEMORY_COUNTERS pmc = {};
  pmc.cb = sizeof pmc;
  while (WaitForSingleObject(pi.hProcess, 2) == WAIT_TIMEOUT) {
    PROCESS_MEMORY_COUNTERS now = {};
    now.cb = sizeof now;
    if (GetProcessMemoryInfo(pi.hProcess, &now, sizeof now)) pmc = now;
  }
  QueryPerformanceCounter(&t1);
  PROCESS_MEMORY_COUNTERS last = {};
  last.cb = sizeof last;
  if (GetProcessMemoryInfo(pi.hProcess, &last, sizeof last) && last.PeakPagefileUsage) pmc = last;
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
  std::printf("%.3f %lu %lu %lu", ms, static_cast<unsigned long>(pmc.PeakPagefileUsage),
              static_cast<unsigned long>(pmc.PeakWorkingSetSize),
              static_cast<unsigned long>(code));
  PrintStamps(stamps, t0.QuadPart, freq.QuadPart);
  std::printf("\n");
  return 0;
}
