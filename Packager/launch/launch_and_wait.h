// Starting a carried setup program and waiting for it.
#pragma once

#include <string>

#include "launch/child_link.h"
#include "launch/child_outcome.h"
#include "run_log.h"

namespace qnvpd {

// Starts `path` (passed as the application name and, quoted, at the head of the
// command line) with `arguments`, raises its first "TSetDialog" or
// "MsiDialogCloseClass" window, waits for it without limit and tells `link`
// once it has ended. Returns whether it started and, if it did, its exit code,
// else why not (missing file, command line too long, start failed: the caller
// logs that); `link` hears nothing of a child that was not started. While it
// waits, the results the child posts stay queued for the launcher's message
// loop. The start (process id and command line) and the end (exit code) go to
// `log` as they happen: only this step sees them then.
ChildOutcome LaunchAndWait(const std::wstring& path, const std::wstring& arguments,
                           const ChildLink& link, const RunLog& log = OffRunLog());

// True when a window class name marks the installer's main dialog: it contains
// "TSetDialog" or "MsiDialogCloseClass" (case-sensitive).
bool IsChildDialogClass(const wchar_t* className);

}  // namespace qnvpd
