// The channel back from the child installer, all of it: the hidden
// notification window (its class and procedure), the token that names it on
// the installer's command line, the result the installer posts, the quit
// request the package posts itself once the child has ended, the drain before
// a failure box, and the message loop that ends a successful run.
//
// The conversation, in order: the install run puts Token() on the installer's
// command line; the installer posts kResultMessage to the window as often as
// it likes; once the child has ended, the launch layer calls ChildEnded(),
// which queues kQuitRequest behind those results. Nothing is dispatched
// meanwhile. After a successful run RunMessageLoop() dispatches them in order
// and returns the last posted code; after a failed run DrainBeforeFailureBox()
// removes the quit request (or the quit message standing in for it), so that
// the failure box stays open until it is answered.
#pragma once

#include <windows.h>

#include <string>

#include "launch/child_link.h"
#include "run_log.h"

namespace qnvpd {

// Posted by the child: the low 16 bits of wParam are the run's exit code.
constexpr UINT kResultMessage = WM_USER;
// Posted to the window once the child has ended; ends the message loop.
constexpr UINT kQuitRequest = WM_USER + 1;

// "/W32:<handle as signed decimal>:1024".
std::wstring FormatNotifyToken(HWND window);

// How messages are posted; tests present a queue that refuses them.
struct MessagePosting {
  BOOL(WINAPI* postMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
const MessagePosting& SystemMessagePosting();

// Creates a hidden window of a registered class; null when it cannot be
// created. The system's default for the main sequence's createNotifyWindow hook.
HWND CreateNotifyWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* title);
using NotifyWindowFactory = HWND (*)(HINSTANCE instance, const wchar_t* className,
                                     const wchar_t* title);

class ChildChannel final : public ChildLink {
 public:
  explicit ChildChannel(const MessagePosting& posting = SystemMessagePosting())
      : posting_(posting) {}
  ChildChannel(const ChildChannel&) = delete;
  ChildChannel& operator=(const ChildChannel&) = delete;
  // The window is not destroyed here: except after a failed run (Close), it is
  // left to the end of the process (a second copy looks for it by its class
  // name, to bring the running one forward).
  ~ChildChannel() = default;

  // Registers the window class `className` with the channel's procedure
  // (result not examined), creates the window through `create` and formats the
  // token. False, with GetLastError() telling why, when no window was made.
  bool Open(HINSTANCE instance, const wchar_t* className, const wchar_t* title,
            NotifyWindowFactory create = CreateNotifyWindow);

  HWND Window() const { return window_; }

  // "/W32:<handle>:1024" once open.
  const std::wstring& Token() const override { return token_; }

  // Posts the quit request behind the child's own results. Should that post
  // fail (a full queue), the thread's quit message is set instead, which the
  // loop also sees only after every posted message, so the last posted result
  // still decides the exit code.
  void ChildEnded() const override;

  // The low 16 bits of the last result posted to the window and dispatched;
  // 0 when none was.
  int PostedExitCode() const;

  // Pumps the thread's messages until the quit message (or a failing
  // GetMessage); returns PostedExitCode(). Each result posted goes to `log`:
  // only the loop sees them.
  int RunMessageLoop(const RunLog& log = OffRunLog()) const;

  // After a failed run, before its box: removes a quit request or quit message
  // still queued (a launch that failed late has already announced the child's
  // end), which would otherwise close the box before anyone could read it.
  void DrainBeforeFailureBox() const;

  // Destroys the window (after a failed run's box).
  void Close();

 private:
  MessagePosting posting_;
  HWND window_ = nullptr;
  std::wstring token_;
};

}  // namespace qnvpd
