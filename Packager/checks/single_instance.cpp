#include "single_instance.h"

#include <windows.h>

namespace qnvpd {

int IsAnotherInstanceRunning(const wchar_t* name) {
  // Not owned and never closed: the mutex's mere existence marks a running
  // package, and it vanishes with the process however the process ends.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
  if (mutex == nullptr) return 1;  // without its guard the package does not run
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // The running copy's notification window bears the same name as its class;
    // bring it forward so the user sees which installer is active.
    HWND other = FindWindowW(name, nullptr);
    if (other != nullptr) SetForegroundWindow(other);
    return 1;
  }
  return 0;
}

}  // namespace qnvpd
