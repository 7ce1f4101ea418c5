// Product installer stand-in for the benchmark: ends at once, so that the run
// measures the package's own work. When the benchmark's probe asks for it
// (QNVPD_BENCH_STAMPS), it first notes when it started, which is the moment a
// user would see the installer begin.
#include <windows.h>

#include "phase_times.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  qnvpd::MarkPhase("setup");
  qnvpd::WritePhaseTimes();
  return 0;
}
