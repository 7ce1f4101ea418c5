#include "launcher/command_line.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

#include "languages.h"
#include "leading_decimal.h"
#include "result_codes.h"

namespace qnvpd {

namespace {

bool Contains(const wchar_t* text, const wchar_t* what) {
  return text != nullptr && std::wcsstr(text, what) != nullptr;
}

constexpr size_t kOptionNameLength = 7;  // "-QN:COM" and its kin

// The number after the first occurrence of option, or -1 when the option is absent.
// The value text runs from the end of the name to the first blank (or the end).
bool ReadOptionValue(const wchar_t* commandLine, const wchar_t* option, int* value) {
  const wchar_t* found = std::wcsstr(commandLine, option);
  if (found == nullptr) return false;
  const wchar_t* start = found + kOptionNameLength;
  // The value text ends at the first blank at or after the option itself.
  const wchar_t* blank = std::wcschr(found, L' ');
  const wchar_t* end = blank ? blank : found + std::wcslen(found);
  *value = end > start ? ConvertDecimal(start, static_cast<size_t>(end - start)) : 0;
  return true;
}

int ParseDevicePort(const wchar_t* commandLine, const wchar_t* comOption,
                    const wchar_t* lptOption) {
  int port = 0;
  int n = 0;
  if (ReadOptionValue(commandLine, comOption, &n) && n >= 1 && n <= 32) port = n;
  // A usable LPT number wins over the COM one; an unusable one leaves it.
  if (ReadOptionValue(commandLine, lptOption, &n) && n >= 1 && n <= 8) port = 32 + n;
  return port;
}

}  // namespace

const wchar_t* LanguageToken(LANGID userLanguage) {
  return LanguageFor(userLanguage).installerSwitch;
}

void AppendLanguageOptions(LANGID userLanguage, std::wstring* installerOptions) {
  installerOptions->append(L" ");
  installerOptions->append(L"/hide_progress");
  installerOptions->append(L" ");
  installerOptions->append(LanguageToken(userLanguage));
}

LogSwitch ParseLogSwitch(const wchar_t* commandLine) {
  LogSwitch parsed;
  parsed.switchText = commandLine != nullptr ? commandLine : L"";
  std::wstring& text = parsed.switchText;
  constexpr size_t kNameLength = 5;  // "-LOG:"
  bool first = true;
  for (size_t from = 0;;) {
    const size_t at = std::min(text.find(L"-LOG:", from), text.find(L"-log:", from));
    if (at == std::wstring::npos) break;
    const size_t value = at + kNameLength;
    size_t valueEnd = 0;  // where the value text ends
    size_t end = 0;       // where the switch ends, closing quote included
    if (value < text.size() && text[value] == L'"') {
      const size_t quote = text.find(L'"', value + 1);
      valueEnd = quote == std::wstring::npos ? text.size() : quote;
      end = quote == std::wstring::npos ? text.size() : quote + 1;
      if (first) parsed.path = text.substr(value + 1, valueEnd - value - 1);
    } else {
      valueEnd = std::min(text.find_first_of(L" \t", value), text.size());
      end = valueEnd;
      if (first) parsed.path = text.substr(value, valueEnd - value);
    }
    first = false;
    text.replace(at, end - at, end - at, L' ');
    from = end;
  }
  return parsed;
}

RunMode ParseRunMode(const wchar_t* commandLine, LANGID userLanguage,
                 std::wstring* installerOptions) {
  if (Contains(commandLine, L"-u3") || Contains(commandLine, L"-U3")) return kRunRemoval;
  *installerOptions = L"/clone_wait";
  if (Contains(commandLine, L"-s1") || Contains(commandLine, L"-S1")) {
    AppendLanguageOptions(userLanguage, installerOptions);
    return kRunSilentWithPorts;
  }
  if (Contains(commandLine, L"-u1") || Contains(commandLine, L"-U1")) {
    AppendLanguageOptions(userLanguage, installerOptions);
    return kRunSilent;
  }
  return kRunInteractive;
}

int HasKmSwitch(const wchar_t* commandLine) {
  return Contains(commandLine, L"-KM") || Contains(commandLine, L"-km") ? 1 : 0;
}

int ConvertDecimal(const wchar_t* text, size_t length) {
  return ParseLeadingNumber(text, length, [](wchar_t c) { return std::iswspace(c) != 0; });
}

void ParsePortOptions(const wchar_t* commandLine, int runMode, int* qnPort, int* vdPort) {
  *qnPort = 0;
  *vdPort = 0;
  if (runMode != kRunSilentWithPorts || commandLine == nullptr) return;
  *qnPort = ParseDevicePort(commandLine, L"-QN:COM", L"-QN:LPT");
  *vdPort = ParseDevicePort(commandLine, L"-VD:COM", L"-VD:LPT");
}

int CheckPortConflict(int qnPort, int vdPort) {
  int result = kResultOk;
  if (qnPort == vdPort && qnPort != 0) result = kResultSamePort;
  if (qnPort == 0 && vdPort != 0) result = kResultVdWithoutQn;
  return result;
}

}  // namespace qnvpd
