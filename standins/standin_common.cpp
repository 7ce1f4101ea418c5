#include "standin_common.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace standin {

std::wstring Env(const wchar_t* name) {
  wchar_t buf[4096];
  DWORD n = GetEnvironmentVariableW(name, buf, 4096);
  if (n == 0 || n >= 4096) return L"";
  return std::wstring(buf, n);
}

int EnvInt(const wchar_t* name, int fallback) {
  std::wstring v = Env(name);
  if (v.empty()) return fallback;
  return static_cast<int>(std::wcstoul(v.c_str(), nullptr, 0));
}

std::wstring ReportPath() {
  std::wstring p = Env(L"QNVPD_STANDIN_REPORT");
  if (!p.empty()) return p;
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  return std::wstring(temp, n) + L"qnvpd-standin-report.txt";
}

static std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

void Report(const std::wstring& key, const std::wstring& value) {
  std::string line = Utf8(key) + "=" + Utf8(value) + "\r\n";
  // Several stand-ins of one run append to the same file, one after another.
  HANDLE f = CreateFileW(ReportPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(f);
}

std::wstring CurrentFolder() {
  wchar_t buf[4096];
  DWORD n = GetCurrentDirectoryW(4096, buf);
  return std::wstring(buf, n < 4096 ? n : 0);
}

std::wstring ModulePath(void* module) {
  wchar_t buf[4096];
  DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), buf, 4096);
  return std::wstring(buf, n < 4096 ? n : 0);
}

void HoldIfAsked() {
  std::wstring hold = Env(L"QNVPD_STANDIN_HOLD");
  if (hold.empty()) return;
  for (int i = 0; i < 12000; ++i) {
    if (GetFileAttributesW(hold.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(10);
  }
}

std::wstring FileDigest(const std::wstring& path, unsigned long long* size) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return L"";
  unsigned long long hash = 1469598103934665603ULL, total = 0;
  std::vector<unsigned char> buf(1 << 16);
  DWORD got = 0;
  while (ReadFile(f, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) {
      hash ^= buf[i];
      hash *= 1099511628211ULL;
    }
    total += got;
  }
  CloseHandle(f);
  if (size) *size = total;
  wchar_t text[17];
  swprintf(text, 17, L"%016llx", hash);
  return text;
}

}  // namespace standin
