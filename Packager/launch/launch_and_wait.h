// Starting a carried setup program and waiting for it.
#pragma once

#include <windows.h>

#include <string>

#include "launch/child_outcome.h"
#include "run_log.h"

namespace qnvpd {

// Starts `path` (passed as the application name and, quoted, at the head of the
// command line) with `arguments`, raises its first "TSetDialog" or
// "MsiDialogCloseClass" window, waits for it without limit and posts 1025 to
// notifyWindow once it has ended. Returns whether it started and, if it did,
// its exit code; nothing is posted for a child that was not started (missing
// file, command line too long, start failed). The start (process id and
// command line), the end (exit code) or why it could not start goes to `log`.
ChildOutcome LaunchAndWait(const std::wstring& path, const std::wstring& arguments,
                           HWND notifyWindow, const RunLog& log = OffRunLog());

// True when a window class name marks the installer's main dialog: it contains
// "TSetDialog" or "MsiDialogCloseClass" (case-sensitive).
bool IsChildDialogClass(const wchar_t* className);

}  // namespace qnvpd
