// The hidden window through which the product installer reports its result.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// Posted to the window once the child has ended; ends the message loop.
constexpr UINT kQuitRequest = WM_USER + 1;

// How a message is posted; tests pass one that fails.
using PostMessageFn = BOOL(WINAPI*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Tells the message loop that the child has ended: posts the quit request
// behind the child's own results. Should that post fail (a full queue), the
// thread's quit message is set instead, which the loop also sees only after
// every posted message, so the last posted result still decides the exit code.
void PostQuitRequest(HWND window, PostMessageFn post = PostMessageW);

// Registers the window class named by g_state.className (result not examined).
void RegisterNotifyWindowClass(HINSTANCE instance);

// Creates the window hidden and stores it in g_state.notifyWindow: 1, or 0 when it
// cannot be created.
int CreateNotifyWindow(HINSTANCE instance);

// WM_USER sets the posted exit code to the low 16 bits of wParam; 1025 ends the loop.
LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// "/W32:<handle as signed decimal>:1024".
std::wstring FormatNotifyToken(HWND window);

// Pumps the thread's messages until the quit message; returns the posted exit code.
int RunMessageLoop();

}  // namespace qnvpd
