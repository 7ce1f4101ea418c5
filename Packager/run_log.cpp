#include "run_log.h"

#include <cstdio>
#include <cwchar>

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

bool RunLog::Open(const std::wstring& path) {
  // Append-only access: every write lands at the end of the file, whatever
  // another run appended meanwhile. The name is opened as itself: this program
  // runs elevated, and a link or a second name put where the log goes would
  // make it append to a file of someone else's choosing.
  file_.Reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  constexpr DWORD kNotAPlainFile = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (IsOn() && (!GetFileInformationByHandle(file_.Get(), &info) ||
                 (info.dwFileAttributes & kNotAPlainFile) || info.nNumberOfLinks != 1)) {
    file_.Reset();
  }
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
