#include "log_path.h"

#include <cwctype>
#include <initializer_list>

namespace qnvpd {

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsServerNameCharacter(wchar_t c) {
  return IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == L'_';
}

bool EqualsIgnoringCase(const std::wstring& text, const wchar_t* what) {
  size_t i = 0;
  for (; i < text.size() && what[i] != L'\0'; ++i) {
    if (std::towupper(text[i]) != std::towupper(what[i])) return false;
  }
  return i == text.size() && what[i] == L'\0';
}

// Without the trailing dots and blanks the system drops when it looks a name up.
std::wstring TrimmedName(std::wstring name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return name;
}

// A name the system reserves for a device in every folder, also with an
// extension ("nul.log", "COM3.txt").
bool IsDeviceName(const std::wstring& component) {
  std::wstring base = TrimmedName(component.substr(0, component.find(L'.')));
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (EqualsIgnoringCase(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const std::wstring prefix = base.substr(0, 3);
  const wchar_t digit = base[3];
  const bool numbered = (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' ||
                        digit == L'\u00B2' || digit == L'\u00B3';
  return numbered && (EqualsIgnoringCase(prefix, L"COM") || EqualsIgnoringCase(prefix, L"LPT"));
}

// The shares through which a server offers pipes and mailslots, not files.
bool IsPipeShare(const std::wstring& share) {
  const std::wstring name = TrimmedName(share);
  return EqualsIgnoringCase(name, L"pipe") || EqualsIgnoringCase(name, L"mailslot") ||
         EqualsIgnoringCase(name, L"IPC$");
}

// The length of the volume root ("C:\", "\\server\share\"), or 0 when the path
// starts with neither.
size_t RootLength(const std::wstring& path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\') return 3;
  if (path.compare(0, 2, L"\\\\") != 0) return 0;
  const size_t serverEnd = path.find(L'\\', 2);
  if (serverEnd == std::wstring::npos) return 0;
  const std::wstring server = path.substr(2, serverEnd - 2);
  // "." and "?" name the local device namespace, not a server.
  if (server.find_first_not_of(L'.') == std::wstring::npos) return 0;
  for (wchar_t c : server) {
    if (!IsServerNameCharacter(c)) return 0;
  }
  const size_t shareEnd = path.find(L'\\', serverEnd + 1);
  if (shareEnd == std::wstring::npos) return 0;
  const std::wstring share = path.substr(serverEnd + 1, shareEnd - serverEnd - 1);
  if (share.empty() || IsPipeShare(share)) return 0;
  return shareEnd + 1;
}

}  // namespace

std::vector<std::wstring> LogPathFolders(const std::wstring& fullPath) {
  for (size_t i = 0; i < fullPath.size(); ++i) {
    const wchar_t c = fullPath[i];
    // A colon past the drive's names a stream.
    if (c < L' ' || c == L'/' || c == L'"' || c == L'*' || c == L'<' || c == L'>' ||
        c == L'?' || c == L'|' || (c == L':' && i != 1)) {
      return {};
    }
  }
  const size_t rootLength = RootLength(fullPath);
  if (rootLength == 0) return {};

  std::vector<std::wstring> folders = {fullPath.substr(0, rootLength)};
  size_t start = rootLength;
  while (true) {
    const size_t end = fullPath.find(L'\\', start);
    const std::wstring component =
        fullPath.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    // "." and ".." would leave the folders checked here.
    if (component.empty() || component == L"." || component == L".." ||
        IsDeviceName(component)) {
      return {};
    }
    if (end == std::wstring::npos) return folders;  // the file's own name
    folders.push_back(fullPath.substr(0, end));
    start = end + 1;
  }
}

}  // namespace qnvpd
