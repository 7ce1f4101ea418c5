// The run log: an opt-in record of what a run did and why it failed, for
// administrators who deploy the package to many machines. Switched on only by
// a machine policy; when it is off nothing is written anywhere, and whatever
// happens to the log never changes the run.
#pragma once

#include <windows.h>

#include <string>

#include "scoped.h"

namespace qnvpd {

// Where the policy names the log file (under HKEY_LOCAL_MACHINE): only
// administrators can write there, so the path is one an administrator chose.
constexpr wchar_t kLogPolicyKey[] = L"SOFTWARE\\Policies\\KAVRO\\QNVPDSetup";
constexpr wchar_t kLogPolicyValue[] = L"LogFile";

// The log file the policy names: a REG_SZ as stored, a REG_EXPAND_SZ with its
// environment variables expanded. Empty when there is no such value, it has
// another type, or it does not fit. `registryView` is KEY_WOW64_64KEY on 64-bit
// Windows (where Group Policy writes it), else 0.
std::wstring ReadLogPolicy(REGSAM registryView);

// One line of the log in UTF-8 with CR LF: local date and time to the
// millisecond, the process id, the text. Line breaks and other control
// characters in the text become blanks, so one event is always one line.
std::string FormatLogLine(const SYSTEMTIME& localTime, DWORD processId, const std::wstring& text);

// "error <n>: <the system's text for it>", without the text's line end; the
// number alone when the system has no text for it.
std::wstring DescribeError(DWORD error);

// The owner this process gives the objects it creates: an existing log owned
// by it (or by Administrators or SYSTEM) is trusted. A seam because Wine gives
// new files its one user instead, whatever the token says.
struct NewObjectOwnerQuery {
  // Copies the owner's SID into `sid`; false when it cannot be read.
  bool (*read)(BYTE (&sid)[SECURITY_MAX_SID_SIZE]);
};
const NewObjectOwnerQuery& SystemNewObjectOwnerQuery();  // the token's TokenOwner

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
  // with another owner than Administrators, SYSTEM or `owner`'s. A file this
  // opening creates gets the package's private security.
  bool Open(const std::wstring& path,
            const NewObjectOwnerQuery& owner = SystemNewObjectOwnerQuery());
  bool IsOn() const { return file_.IsValid(); }
  // The full path of the open log; empty while it is off.
  const std::wstring& Path() const { return path_; }

  // Appends one line. Each line is one write to a file opened for appending
  // only, so the lines of two runs at once never interleave mid-line. A write
  // that fails is ignored.
  void Write(const std::wstring& text) const;
  // "<what> failed: error <n>: <text>".
  void Failure(const std::wstring& what, DWORD error) const;

 private:
  ScopedFile file_;
  std::wstring path_;
};

// A log that is always off: for steps run without one (tests, tools).
const RunLog& OffRunLog();

}  // namespace qnvpd
