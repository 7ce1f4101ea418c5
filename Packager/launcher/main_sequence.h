// The order of the whole job: start, checks, the install or removal run, and
// either the failure report or the message loop.
#pragma once

#include <windows.h>

namespace qnvpd {

// The few calls a test must be able to control; everything else stays real.
struct SequenceHooks {
  LANGID (*userLanguage)();
  int (*isOsSupported)(int kmFlag);
  int (*isAnotherInstanceRunning)(const wchar_t* name);
  int (*isAdministrator)();
  int (*createNotifyWindow)(HINSTANCE instance);  // 1, or 0 when it cannot be created
  void (*showMessage)(const wchar_t* text);  // the failure box (run mode 0 only)
  int (*runInstall)(const wchar_t* commandLine);  // 0 or 1001
  int (*runRemoval)(HWND notifyWindow);           // 0 or 1001
};

// The real system calls and runs.
SequenceHooks SystemHooks();

// Runs the package with the command-line tail; returns the process exit code.
int RunMainSequence(HINSTANCE instance, const wchar_t* commandLine, const SequenceHooks& hooks);

// The install run (run modes 0 to 2): extraction, PORTS.dat, the product
// installer, clean-up. 0, or 1001 when it failed.
int RunInstall(const wchar_t* commandLine);

}  // namespace qnvpd
