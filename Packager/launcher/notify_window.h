// The hidden window through which the product installer reports its result.
#pragma once

#include <windows.h>

#include "run_log.h"

namespace qnvpd {

// Registers the window class of that name (result not examined).
void RegisterNotifyWindowClass(HINSTANCE instance, const wchar_t* className);

// Creates the window of the class hidden; null when it cannot be created.
HWND CreateNotifyWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title);

// The result message keeps the low 16 bits of its wParam with the window as the
// posted exit code; the quit request ends the loop.
LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Pumps the thread's messages until the quit message; returns the exit code last
// posted to the window (0 when none was). Each result posted goes to `log`.
int RunMessageLoop(HWND window, const RunLog& log = OffRunLog());

}  // namespace qnvpd
