// One copy of the package at a time.
#pragma once

namespace qnvpd {

// Creates the named mutex (never closed, so it lasts as long as the process).
// 1 when another copy holds it, or when the mutex cannot be made at all; then a
// window of that class name, if any, is brought to the foreground. 0 otherwise.
int IsAnotherInstanceRunning(const wchar_t* name);

}  // namespace qnvpd
