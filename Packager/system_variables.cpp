#include "system_variables.h"

#include <windows.h>

#include <cwchar>

#include "bounded_text.h"
#include "scoped.h"

namespace qnvpd {

namespace {

constexpr wchar_t kVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfileListKey[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

using VariableLookup = std::wstring (*)(const std::wstring& name);

// Replaces each "%NAME%" in `text` with lookup(NAME), as ExpandEnvironmentStringsW
// does with the process's variables; a '%' without a closing one is plain text.
// False when a reference names a variable the lookup does not have: the text
// then does not name the folder its setting means.
bool ExpandReferences(const std::wstring& text, VariableLookup lookup, std::wstring* expanded) {
  expanded->clear();
  size_t at = 0;
  for (;;) {
    const size_t open = text.find(L'%', at);
    const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
    if (close == std::wstring::npos) {
      expanded->append(text, at, std::wstring::npos);
      return true;
    }
    const std::wstring value = lookup(text.substr(open + 1, close - open - 1));
    if (value.empty()) return false;
    expanded->append(text, at, open - at);
    expanded->append(value);
    at = close + 1;
  }
}

bool IsNamed(const std::wstring& name, const wchar_t* variable) {
  return _wcsicmp(name.c_str(), variable) == 0;  // variable names ignore case
}

// The Windows folder and its drive, from the system itself (not from the
// variables of the same names, which whoever started the process can set).
std::wstring KernelVariable(const std::wstring& name) {
  wchar_t windows[kPathCapacity] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) return {};
  if (IsNamed(name, L"SystemRoot")) return windows;
  if (IsNamed(name, L"SystemDrive") && windows[1] == L':') return std::wstring(windows, 2);
  return {};
}

// A machine setting the system makes its folder variables from, with its own
// references to the Windows folder and drive expanded.
std::wstring MachineSetting(const wchar_t* keyPath, const wchar_t* valueName) {
  std::wstring expanded;
  if (!ExpandReferences(ReadMachineText(keyPath, valueName), KernelVariable, &expanded)) return {};
  return expanded;
}

// The system's own value of a folder variable: taken from where the system
// takes it for every process (HKEY_LOCAL_MACHINE and the kernel), never from
// this process's environment, which an unelevated user can set before the
// elevation (HKCU\Environment). Empty for a variable the system does not set.
std::wstring SystemVariable(const std::wstring& name) {
  // Read in this 32-bit program's registry view, which on 64-bit Windows
  // holds the x86 folder: the one the system gives 32-bit programs.
  if (IsNamed(name, L"ProgramFiles")) return MachineSetting(kVersionKey, L"ProgramFilesDir");
  if (IsNamed(name, L"ProgramData")) return MachineSetting(kProfileListKey, L"ProgramData");
  if (IsNamed(name, L"ALLUSERSPROFILE")) {
    // Windows Vista and later: the ProgramData folder; Windows XP: a profile.
    const std::wstring programData = MachineSetting(kProfileListKey, L"ProgramData");
    if (!programData.empty()) return programData;
    const std::wstring profiles = MachineSetting(kProfileListKey, L"ProfilesDirectory");
    const std::wstring allUsers = MachineSetting(kProfileListKey, L"AllUsersProfile");
    if (profiles.empty() || allUsers.empty()) return {};
    return profiles + L"\\" + allUsers;
  }
  return KernelVariable(name);
}

}  // namespace

std::wstring ReadMachineText(const wchar_t* keyPath, const wchar_t* valueName) {
  ScopedKey key;
  if (RegOpenKeyW(HKEY_LOCAL_MACHINE, keyPath, key.Receive()) != ERROR_SUCCESS) return {};

  wchar_t raw[kPathCapacity] = {};
  DWORD bytes = sizeof raw;
  if (RegQueryValueExW(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(raw),
                       &bytes) != ERROR_SUCCESS) {
    return {};
  }
  // Stored strings need not carry their terminator; one that fills the whole
  // buffer without one does not fit.
  const size_t units = bytes / sizeof(wchar_t);
  if (wmemchr(raw, L'\0', units) == nullptr) {
    if (units >= kPathCapacity) return {};
    raw[units] = L'\0';
  }
  return raw;
}

bool ExpandSystemVariables(const std::wstring& text, std::wstring* expanded) {
  return ExpandReferences(text, SystemVariable, expanded);
}

}  // namespace qnvpd
