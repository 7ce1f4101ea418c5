// Entry point of the package.
#include <windows.h>

#include "launcher/dll_hardening.h"
#include "launcher/main_sequence.h"
#include "phase_times.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  qnvpd::MarkPhase("load");
  qnvpd::RestrictDllSearchPath();
  const int exitCode = qnvpd::RunMainSequence(instance, commandLine, qnvpd::SystemHooks());
  qnvpd::MarkPhase("message-loop");
  qnvpd::WritePhaseTimes();
  return exitCode;
}
