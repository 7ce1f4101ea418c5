#include "run_log.h"

#include <aclapi.h>

#include <cstdio>
#include <cwchar>
#include <deque>
#include <vector>

#include "held_folder.h"
#include "log_path.h"
#include "private_security.h"

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

  std::wstring expanded(kPolicyTextCapacity, L'\0');
  const DWORD needed = ExpandEnvironmentStringsW(raw.c_str(), &expanded[0], kPolicyTextCapacity);
  if (needed == 0 || needed > kPolicyTextCapacity) return std::wstring();
  expanded.resize(needed - 1);
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

// A file someone else owns could have been made by them to read or hold what
// the package writes; its owner can always change who may.
bool HasTrustedOwner(HANDLE file, const NewObjectOwnerQuery& query) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  ScopedLocal owned(descriptor);
  if (IsAdministratorsOrSystem(owner)) return true;
  alignas(DWORD) BYTE ours[SECURITY_MAX_SID_SIZE] = {};
  return owner != nullptr && IsValidSid(owner) && query.read(ours) && EqualSid(owner, ours);
}

bool ReadTokenOwner(BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  ScopedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  alignas(TOKEN_OWNER) BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenOwner, buffer, sizeof buffer, &size)) return false;
  const PSID owner = reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner;
  return IsValidSid(owner) && CopySid(sizeof sid, sid, owner);
}

}  // namespace

const NewObjectOwnerQuery& SystemNewObjectOwnerQuery() {
  static const NewObjectOwnerQuery query = {ReadTokenOwner};
  return query;
}

bool RunLog::Open(const std::wstring& path, const NewObjectOwnerQuery& owner) {
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
  // Append-only access: every write lands at the end of the file, whatever
  // another run appended meanwhile. The name is opened as itself, and a pipe
  // server put there could not act in the package's name.
  file_.Reset(CreateFileW(full.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, security.Attributes(), OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                              SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                          nullptr));
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (IsOn() && (!IsOneNamedDiskFile(file_.Get()) ||
                 (existed && !HasTrustedOwner(file_.Get(), owner)))) {
    file_.Reset();
  }
  if (IsOn()) path_ = full;
  return IsOn();
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

}  // namespace qnvpd
