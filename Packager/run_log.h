// The run log: an opt-in record of what a run did and why it failed, for
// administrators who deploy the package to many machines. Switched on only by
// a machine policy; when it is off nothing is written anywhere, and whatever
// happens to the log never changes the run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "scoped.h"

namespace qnvpd {

// Where the policy names the log file (under HKEY_LOCAL_MACHINE): only
// administrators can write there, so the path is one an administrator chose.
constexpr wchar_t kLogPolicyKey[] = L"SOFTWARE\\Policies\\KAVRO\\QNVPDSetup";
constexpr wchar_t kLogPolicyValue[] = L"LogFile";

// The log file the policy names: a REG_SZ as stored, a REG_EXPAND_SZ with its
// references expanded from the system's own values (ExpandSystemVariables),
// never from this process's environment. Empty when there is no such value, it
// has another type, does not fit, or refers to a variable the system does not
// set. `registryView` is KEY_WOW64_64KEY on 64-bit Windows (where Group Policy
// writes it), else 0.
std::wstring ReadLogPolicy(REGSAM registryView);

// One line of the log in UTF-8 with CR LF: local date and time to the
// millisecond, the process id, the text. Line breaks and other control
// characters in the text become blanks, so one event is always one line.
std::string FormatLogLine(const SYSTEMTIME& localTime, DWORD processId, const std::wstring& text);

// "error <n>: <the system's text for it>", without the text's line end; the
// number alone when the system has no text for it.
std::wstring DescribeError(DWORD error);

// Whether an existing log is one the package itself created: it carries the
// package's private descriptor (owned by Administrators or SYSTEM, a protected
// DACL for those two only). A file with any other descriptor may have been made
// by someone else to read or hold what the package writes, or be a script an
// administrator owns that must not grow command-line text. A seam because Wine
// stores no descriptors.
struct ExistingLogCheck {
  bool (*isPackagesOwn)(HANDLE file);
};
const ExistingLogCheck& SystemExistingLogCheck();  // the file's stored descriptor

// What a step tells the run about itself, for the run to log once: what it
// noticed, in the order it happened, and, when it failed, which step failed on
// which path with which system error.
class StepReport {
 public:
  void Note(const std::wstring& line) { lines_.push_back(line); }
  // "<step> <path> failed: error <n>: <text>", remembered as the failure.
  void Fail(const std::wstring& step, const std::wstring& path, DWORD error);

  const std::vector<std::wstring>& Lines() const { return lines_; }
  bool Failed() const { return failed_; }
  const std::wstring& FailedStep() const { return step_; }
  const std::wstring& FailedPath() const { return path_; }
  DWORD Error() const { return error_; }

 private:
  std::vector<std::wstring> lines_;
  bool failed_ = false;
  std::wstring step_;
  std::wstring path_;
  DWORD error_ = ERROR_SUCCESS;
};

class RunLog {
 public:
  // Every call below costs nothing but the IsOn() test while the log is off.
  RunLog() = default;  // off
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens `path` (a relative one from the current folder) for appending. False,
  // and the log stays off, when the path is not one LogPathFolders accepts, a
  // folder on it is missing, a link or not itself under its name, the file is
  // a link, not a disk file, one of several names of a file, or exists already
  // without the package's private descriptor (see ExistingLogCheck). The file
  // is opened through the handle of its held folder, so the folder checked is
  // the one written in; one this opening creates gets the private descriptor.
  bool Open(const std::wstring& path,
            const ExistingLogCheck& existing = SystemExistingLogCheck());
  bool IsOn() const { return file_.IsValid(); }
  // The full path of the open log; empty while it is off.
  const std::wstring& Path() const { return path_; }

  // Appends one line. Each line is one write to a file opened for appending
  // only, so the lines of two runs at once never interleave mid-line. A write
  // that fails is ignored.
  void Write(const std::wstring& text) const;
  // "<what> failed: error <n>: <text>".
  void Failure(const std::wstring& what, DWORD error) const;
  // Every line of a step's report, in order.
  void Write(const StepReport& report) const;

 private:
  ScopedFile file_;
  std::wstring path_;
};

// A log that is always off: for steps run without one (tests, tools).
const RunLog& OffRunLog();

}  // namespace qnvpd
