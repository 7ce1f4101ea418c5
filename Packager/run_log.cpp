#include "run_log.h"

#include <aclapi.h>

#include <cstdio>
#include <cwchar>
#include <deque>
#include <vector>

#include "held_folder.h"
#include "log_path.h"
#include "private_security.h"
#include "system_variables.h"

namespace qnvpd {

namespace {

// Room for the longest path Windows can name, with its terminator.
constexpr DWORD kPolicyTextCapacity = 32768;

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                      nullptr, nullptr);
  return utf8;
}

}  // namespace

std::wstring ReadLogPolicy(REGSAM registryView) {
  ScopedKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLogPolicyKey, 0, KEY_QUERY_VALUE | registryView,
                    key.Receive()) != ERROR_SUCCESS) {
    return std::wstring();
  }
  std::wstring raw(kPolicyTextCapacity, L'\0');
  DWORD type = 0;
  DWORD bytes = static_cast<DWORD>((raw.size() - 1) * sizeof(wchar_t));
  if (RegQueryValueExW(key.Get(), kLogPolicyValue, nullptr, &type,
                       reinterpret_cast<BYTE*>(&raw[0]), &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::wstring();
  }
  // A stored text need not carry its terminator; the buffer keeps one spare.
  raw.resize(wcsnlen(raw.c_str(), bytes / sizeof(wchar_t)));
  if (type == REG_SZ || raw.empty()) return raw;

  // The environment is the caller's: an unelevated user can set variables of
  // the same names before the elevation, and the policy is the machine's.
  std::wstring expanded;
  if (!ExpandSystemVariables(raw, &expanded)) return std::wstring();
  return expanded;
}

std::string FormatLogLine(const SYSTEMTIME& localTime, DWORD processId,
                          const std::wstring& text) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ",
                localTime.wYear, localTime.wMonth, localTime.wDay, localTime.wHour,
                localTime.wMinute, localTime.wSecond, localTime.wMilliseconds,
                static_cast<unsigned long>(processId));
  std::wstring flat = text;
  for (wchar_t& c : flat) {
    if (c < L' ' || c == 0x7F) c = L' ';
  }
  return stamp + ToUtf8(flat) + "\r\n";
}

std::wstring DescribeError(DWORD error) {
  std::wstring described = L"error " + std::to_wstring(error);
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  ScopedLocal owner(text);
  if (length == 0 || text == nullptr) return described;
  std::wstring message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return message.empty() ? described : described + L": " + message;
}

namespace {

// The path made absolute as the system would for an open; empty when it cannot.
std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return std::wstring();
  full.resize(length);
  return full;
}

bool HandleShowsPlainFolder(HANDLE held) {
  BY_HANDLE_FILE_INFORMATION info = {};
  return GetFileInformationByHandle(held, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens and holds every folder of the log's path, root first, each as itself.
// Held without FILE_SHARE_DELETE until the log is open, so that none can be
// renamed away and replaced by a link once it has been looked at.
bool HoldFolders(const std::vector<std::wstring>& folders, std::deque<ScopedFile>* held) {
  for (size_t i = 0; i < folders.size(); ++i) {
    held->emplace_back(OpenHeldFolder(folders[i]));
    if (!held->back().IsValid()) return false;
    // A volume root is what a drive letter or a share names, never a folder
    // link; Wine reports the Linux mount point behind a drive (Z:\ is /) as a
    // reparse point through its path, so the root is checked by handle only.
    const bool plain = i == 0 ? HandleShowsPlainFolder(held->back().Get())
                              : IsPlainFolder(held->back().Get(), folders[i]);
    if (!plain) return false;
  }
  return true;
}

// A disk file with one name, and not a link: nothing else is appended to.
bool IsOneNamedDiskFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  constexpr DWORD kNotAPlainFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
         !(info.dwFileAttributes & kNotAPlainFile) && info.nNumberOfLinks == 1;
}

bool CarriesPrivateDescriptor(HANDLE file) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  ScopedLocal owned(descriptor);
  return IsPrivateDescriptor(descriptor);
}

}  // namespace

const ExistingLogCheck& SystemExistingLogCheck() {
  static const ExistingLogCheck check = {CarriesPrivateDescriptor};
  return check;
}

void StepReport::Fail(const std::wstring& step, const std::wstring& path, DWORD error) {
  failed_ = true;
  step_ = step;
  path_ = path;
  error_ = error;
  lines_.push_back(step + (path.empty() ? L"" : L" " + path) + L" failed: " + DescribeError(error));
}

bool RunLog::Open(const std::wstring& path, const ExistingLogCheck& existing) {
  file_.Reset();
  path_.clear();
  const std::wstring full = FullPath(path);
  // Decided on the text alone: a device or pipe must not even be opened.
  const std::vector<std::wstring> folders = LogPathFolders(full);
  if (folders.empty()) return false;
  std::deque<ScopedFile> held;  // the owners cannot move, so not a vector
  if (!HoldFolders(folders, &held)) return false;

  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) return false;
  // Opened through its held folder's handle, so the folder checked is the one
  // written in. Append-only access: every write lands at the end of the file,
  // whatever another run appended meanwhile.
  bool created = false;
  ScopedHandle opened(CreateFileBelow(
      held.back().Get(), full.substr(full.rfind(L'\\') + 1),
      FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
      security.Attributes()->lpSecurityDescriptor, &created));
  if (!opened.IsValid() || !IsOneNamedDiskFile(opened.Get()) ||
      (!created && !existing.isPackagesOwn(opened.Get()))) {
    return false;
  }
  file_.Reset(opened.Release());
  path_ = full;
  return true;
}

void RunLog::Write(const std::wstring& text) const {
  if (!IsOn()) return;
  // Saved and restored: a caller may still be about to read the error of the
  // step it is logging.
  const DWORD savedError = GetLastError();
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string line = FormatLogLine(now, GetCurrentProcessId(), text);
  DWORD written = 0;
  WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  SetLastError(savedError);
}

const RunLog& OffRunLog() {
  static const RunLog off;
  return off;
}

void RunLog::Failure(const std::wstring& what, DWORD error) const {
  if (!IsOn()) return;
  Write(what + L" failed: " + DescribeError(error));
}

void RunLog::Write(const StepReport& report) const {
  for (const std::wstring& line : report.Lines()) Write(line);
}

}  // namespace qnvpd
