// How a carried setup program's run ended, and whether that counts as failure.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// What LaunchAndWait saw of one child. `exitCode` means something only when
// `started` is set; the two fields after it say why not when it is not.
struct ChildOutcome {
  bool started = false;  // false: nothing ran (missing file, command line too long, start failed)
  DWORD exitCode = 0;    // as GetExitCodeProcess read it once the child had ended
  // Not started because the command line would not fit: nothing was tried.
  bool commandLineTooLong = false;
  // Not started otherwise: the system's error of the presence check or the start.
  DWORD startError = 0;
};

// The exit code by which the carried setup programs report failure.
constexpr DWORD kChildFailureExitCode = 2;

// The one rule both runs judge their child by: a child that was not started,
// that ended with kChildFailureExitCode, or that ended with an NTSTATUS error
// (both top bits set, customer bit clear: 0xC0000000 to 0xDFFFFFFF, which is
// how Windows ends a program that crashed or could not be loaded) has failed.
// Every other exit code is the child's own business and is accepted: the
// product installer reports its result through the message it posts.
bool ChildRunFailed(const ChildOutcome& outcome);

// Why ChildRunFailed said so, to follow the child's name in the run's one
// line about it: "was not started: error 2: <the system's text>", "was not
// started: its command line would not fit 1024 characters", "ended with exit
// code 2", or "ended with 0xC0000005, an NTSTATUS error: it crashed or could
// not be loaded".
std::wstring ChildFailureReason(const ChildOutcome& outcome);

// The exit code for the log: decimal for an ordinary code ("3010"),
// hexadecimal for one with the top bit set ("0xC0000005"), followed by the
// system's text for it where ntdll's message table has one.
std::wstring DescribeChildExitCode(DWORD exitCode);

}  // namespace qnvpd
