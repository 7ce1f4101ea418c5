// One copy of the package at a time.
#pragma once

#include <windows.h>

namespace qnvpd {

// What the single-instance check found.
enum class InstanceCheck {
  kAlone,           // the mutex is this run's: go on
  kAloneNameTaken,  // the name is taken by an object no copy of the package made;
                    // a mutex in the package's private namespace guards the run: go on
  kAnotherCopy,     // another copy runs (its window was raised): refuse
  kNoGuard,         // no guard could be set up: refuse, as if another copy ran
};

// What the check asks of the system beyond the named mutex; a seam so tests can
// present what the system under test cannot (private namespaces, which Wine
// lacks, and a mutex made by another user).
struct InstanceGuardSystem {
  // Creates the mutex `name` in the package's private namespace, making the
  // namespace where it does not exist yet; as CreateMutexW: a handle, with
  // ERROR_ALREADY_EXISTS when the mutex existed, or null with the error
  // (ERROR_NOT_SUPPORTED where the system has no private namespaces).
  HANDLE (*createPrivateMutex)(const wchar_t* name);
  // Whether an existing mutex could have been made by a copy of the package:
  // owned by Administrators, by SYSTEM or by the owner this process's token
  // gives new objects (true where the owner cannot be read).
  bool (*isFromAPackage)(HANDLE mutex);
};
const InstanceGuardSystem& SystemInstanceGuard();

// Creates the named mutex (never closed, so it lasts as long as the process),
// which other tools look for, and where the system has private namespaces also
// a mutex of the same name in the package's own namespace, whose boundary only
// administrators can create: a name squatted by an object some user made (an
// event, a mutex of a standard user's, one an administrator may not open) then
// does not stop the run. Where another copy holds either mutex, a window of that
// class name, if any, is brought to the foreground.
InstanceCheck CheckSingleInstance(const wchar_t* name,
                                  const InstanceGuardSystem& system = SystemInstanceGuard());

// 1 when the run must not go on (kAnotherCopy, kNoGuard), else 0.
int IsAnotherInstanceRunning(const wchar_t* name);

}  // namespace qnvpd
