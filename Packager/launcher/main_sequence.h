// The order of the whole job: start, checks, the install or removal run, and
// either the failure report or the message loop.
#pragma once

#include <windows.h>

#include "checks/single_instance.h"
#include "launch/run_context.h"

namespace qnvpd {

// The few calls a test must be able to control; everything else stays real.
struct SequenceHooks {
  LANGID (*userLanguage)();
  int (*isOsSupported)(int kmFlag);
  InstanceCheck (*checkSingleInstance)(const wchar_t* name);
  int (*isAdministrator)();
  // The channel's hidden window (CreateNotifyWindow), or null when it cannot be created.
  HWND (*createNotifyWindow)(HINSTANCE instance, const wchar_t* className, const wchar_t* title);
  void (*showMessage)(const wchar_t* text);  // the failure box (run mode 0 only)
  int (*runInstall)(const RunContext& context);  // 0 or 1001
  int (*runRemoval)(const RunContext& context);  // 0 or 1001
};

// The real system calls and runs.
SequenceHooks SystemHooks();

// Runs the package with the command-line tail; returns the process exit code.
int RunMainSequence(HINSTANCE instance, const wchar_t* commandLine, const SequenceHooks& hooks);

}  // namespace qnvpd
