// Entry point of the package.
#include <windows.h>

#include "launcher/dll_hardening.h"
#include "launcher/main_sequence.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  qnvpd::RestrictDllSearchPath();
  return qnvpd::RunMainSequence(instance, commandLine, qnvpd::SystemHooks());
}
