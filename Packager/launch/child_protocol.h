// How the package and a child installer talk: the child posts its result to
// the NotifyWindow named on its command line, and the package posts itself the
// quit request once the child has ended.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// Posted by the child: the low 16 bits of wParam are the run's exit code.
constexpr UINT kResultMessage = WM_USER;
// Posted to the NotifyWindow once the child has ended; ends the message loop.
constexpr UINT kQuitRequest = WM_USER + 1;

// "/W32:<handle as signed decimal>:1024".
std::wstring FormatNotifyToken(HWND window);

// How messages are posted; tests present a queue that refuses them.
struct MessagePosting {
  BOOL(WINAPI* postMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
const MessagePosting& SystemMessagePosting();

// Tells the message loop that the child has ended: posts the quit request
// behind the child's own results. Should that post fail (a full queue), the
// thread's quit message is set instead, which the loop also sees only after
// every posted message, so the last posted result still decides the exit code.
void PostQuitRequest(HWND window, const MessagePosting& posting = SystemMessagePosting());

}  // namespace qnvpd
