// Timestamps of a run's phases, for the benchmark only. A package built with
// the QNVPD_PHASE_TIMES option records a high-resolution counter value at each
// mark and, when the run ends, appends "<phase> <counter>" lines to the file
// the QNVPD_BENCH_STAMPS environment variable names. Without the option every
// call is empty and compiles to nothing, so the shipped package is unchanged.
#pragma once

#include <windows.h>

namespace qnvpd {

#ifdef QNVPD_PHASE_TIMES

struct PhaseMark {
  const char* phase;
  LONGLONG counter;
};

struct PhaseLog {
  static constexpr int kCapacity = 32;
  PhaseMark marks[kCapacity];
  int count;
};

inline PhaseLog& ThePhaseLog() {
  static PhaseLog log = {};
  return log;
}

// Records that `phase` has just ended. `phase` must be a literal.
inline void MarkPhase(const char* phase) {
  PhaseLog& log = ThePhaseLog();
  if (log.count == PhaseLog::kCapacity) return;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  log.marks[log.count++] = {phase, now.QuadPart};
}

inline void WritePhaseTimes() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"QNVPD_BENCH_STAMPS", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const PhaseLog& log = ThePhaseLog();
  for (int i = 0; i < log.count; ++i) {
    char line[96];
    const int size = wsprintfA(line, "%s %I64d\r\n", log.marks[i].phase, log.marks[i].counter);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
  }
  CloseHandle(file);
}

#else

inline void MarkPhase(const char*) {}
inline void WritePhaseTimes() {}

#endif

}  // namespace qnvpd
