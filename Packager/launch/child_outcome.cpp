#include "launch/child_outcome.h"

#include <cwchar>

#include "launch/child_command_line.h"
#include "run_log.h"
#include "scoped.h"

namespace qnvpd {

namespace {

constexpr DWORD kSeverityAndCustomerBits = 0xE0000000;
constexpr DWORD kNtStatusError = 0xC0000000;  // severity "error", not a customer code
constexpr DWORD kTopBit = 0x80000000;

std::wstring Hexadecimal(DWORD value) {
  wchar_t text[11] = {};
  std::swprintf(text, 11, L"0x%08lX", static_cast<unsigned long>(value));
  return text;
}

// ntdll's text for an NTSTATUS value, without its line end; empty when it has none.
std::wstring NtStatusText(DWORD status) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll");
  if (ntdll == nullptr) return std::wstring();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
      ntdll, status, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  ScopedLocal owner(text);
  if (length == 0 || text == nullptr) return std::wstring();
  std::wstring message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

bool ChildRunFailed(const ChildOutcome& outcome) {
  if (!outcome.started) return true;
  if (outcome.exitCode == kChildFailureExitCode) return true;
  return (outcome.exitCode & kSeverityAndCustomerBits) == kNtStatusError;
}

std::wstring ChildFailureReason(const ChildOutcome& outcome) {
  if (!outcome.started) {
    if (outcome.commandLineTooLong) {
      return L"was not started: its command line would not fit " +
             std::to_wstring(kChildCommandLineCapacity) + L" characters";
    }
    return L"was not started: " + DescribeError(outcome.startError);
  }
  if (outcome.exitCode == kChildFailureExitCode) {
    return L"ended with exit code " + std::to_wstring(kChildFailureExitCode);
  }
  return L"ended with " + Hexadecimal(outcome.exitCode) +
         L", an NTSTATUS error: it crashed or could not be loaded";
}

std::wstring DescribeChildExitCode(DWORD exitCode) {
  if ((exitCode & kTopBit) == 0) return std::to_wstring(exitCode);
  const std::wstring text = NtStatusText(exitCode);
  return text.empty() ? Hexadecimal(exitCode) : Hexadecimal(exitCode) + L": " + text;
}

}  // namespace qnvpd
