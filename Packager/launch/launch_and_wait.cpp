#include "launch/launch_and_wait.h"

#include <cwchar>
#include <vector>

#include "launch/child_command_line.h"
#include "phase_times.h"
#include "scoped.h"

namespace qnvpd {

namespace {

constexpr int kMaxPollRounds = 5000;     // then simply wait
constexpr DWORD kDialogSettleMs = 1000;  // let the dialog finish drawing first
constexpr int kMaxExitCodeReads = 100;

// Answers every message other threads have sent to this thread's windows (a
// child's SendMessage broadcast waits for the hidden NotifyWindow too); posted
// messages are neither removed nor dispatched, so the child's results stay
// queued, in their order, for the launcher's message loop.
void AnswerSentMessages() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Waits until `handle` is signalled (null: only the time passes) or `ms` have
// passed, answering sent messages meanwhile. True when the handle was signalled.
bool WaitAnswering(HANDLE handle, DWORD ms) {
  const DWORD count = handle != nullptr ? 1 : 0;
  const DWORD start = GetTickCount();
  for (;;) {
    AnswerSentMessages();
    DWORD remaining = INFINITE;
    if (ms != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      remaining = elapsed >= ms ? 0 : ms - elapsed;
    }
    const DWORD woken =
        MsgWaitForMultipleObjects(count, &handle, FALSE, remaining, QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0 + count) continue;  // a sent message arrived: answer it
    if (woken == WAIT_FAILED && count != 0) {
      return WaitForSingleObject(handle, remaining) == WAIT_OBJECT_0;
    }
    return count != 0 && woken == WAIT_OBJECT_0;
  }
}

void Pause(DWORD ms) { WaitAnswering(nullptr, ms); }

// EnumWindows callback: raises the first top-level window of the child process
// (id in `childProcessId`) that is the installer's dialog, and stops there.
BOOL CALLBACK BringChildDialogToFront(HWND window, LPARAM childProcessId) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != static_cast<DWORD>(childProcessId)) return TRUE;

  wchar_t className[260] = {};
  GetClassNameW(window, className, 260);
  if (!IsChildDialogClass(className)) return TRUE;

  Pause(kDialogSettleMs);
  SetForegroundWindow(window);
  return FALSE;
}

bool HasEnded(HANDLE process) { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; }

// Looks for the child's dialog until it is found, the child ends, or the rounds
// run out; a child that never shows one is then just waited for. Between two
// looks the one-millisecond pause is a wait on the child, so its end stops the
// polling at once rather than after the pause.
void RaiseChildDialog(HANDLE process, DWORD processId) {
  if (HasEnded(process)) return;
  int rounds = 0;
  for (;;) {
    if (!EnumWindows(BringChildDialogToFront, static_cast<LPARAM>(processId))) return;
    if (WaitAnswering(process, 1)) return;
    if (++rounds > kMaxPollRounds) return;
  }
}

// The exit code of an ended process. The code can still read STILL_ACTIVE for a
// moment after the process handle is signalled; after the last read, 259 stands.
DWORD ReadExitCode(HANDLE process) {
  DWORD code = STILL_ACTIVE;  // a failed read counts as "not known yet"
  for (int reads = 1;; ++reads) {
    GetExitCodeProcess(process, &code);
    if (code != STILL_ACTIVE || reads >= kMaxExitCodeReads) return code;
    Pause(10);
  }
}

}  // namespace

bool IsChildDialogClass(const wchar_t* className) {
  return std::wcsstr(className, L"TSetDialog") != nullptr ||
         std::wcsstr(className, L"MsiDialogCloseClass") != nullptr;
}

ChildOutcome LaunchAndWait(const std::wstring& path, const std::wstring& arguments,
                           const ChildLink& link, const RunLog& log) {
  ChildOutcome outcome;
  PROCESS_INFORMATION processInfo = {};
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USEPOSITION;
  startup.wShowWindow = SW_SHOWNORMAL;

  // The whole path, as it is also the application name below. A folder passes
  // too: the start then fails and says why.
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    outcome.startError = GetLastError();
    return outcome;
  }
  std::vector<wchar_t> commandLine;
  if (!ComposeChildCommandLine(path, arguments, &commandLine)) {
    outcome.commandLineTooLong = true;
    return outcome;
  }

  // The path is also the application name, so a blank in it can never make the
  // system start some other program that happens to match its first words.
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &processInfo)) {
    outcome.startError = GetLastError();
    return outcome;
  }
  ScopedHandle process(processInfo.hProcess);
  ScopedHandle thread(processInfo.hThread);
  MarkPhase("child-start");
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  if (log.IsOn()) {
    log.Write(L"started " + name + L": process " + std::to_wstring(processInfo.dwProcessId) +
              L", command line: " + commandLine.data());
  }

  RaiseChildDialog(process.Get(), processInfo.dwProcessId);
  WaitAnswering(process.Get(), INFINITE);
  MarkPhase("child-wait");
  Pause(10);
  outcome.started = true;
  outcome.exitCode = ReadExitCode(process.Get());
  MarkPhase("exit-code");
  log.Write(name + L" ended: exit code " + DescribeChildExitCode(outcome.exitCode));

  thread.Reset();
  process.Reset();
  // The launcher's message loop stops on it, after the child's own results.
  link.ChildEnded();
  return outcome;
}

}  // namespace qnvpd
