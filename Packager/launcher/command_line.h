// Run mode and options from the package's command line. Every switch is found
// by a plain, case-sensitive substring search over the whole command line, and
// only the listed spellings count.
#pragma once

#include <windows.h>

#include <string>

#include "result_codes.h"

namespace qnvpd {

// The product installer's language switch for a user default language id.
const wchar_t* LanguageToken(LANGID userLanguage);

// Appends " /hide_progress <language switch>" to the installer options.
void AppendLanguageOptions(LANGID userLanguage, std::wstring* installerOptions);

// The -LOG: switch ("-LOG:" or "-log:"), whose value is a path and so may hold
// any text, switch text included.
struct LogSwitch {
  // The value of the first -LOG: switch: up to the next blank or tab, or,
  // when it begins with a double quote, up to the next one (to the end of the
  // command line when there is none). Empty when there is no switch or no value.
  std::wstring path;
  // The command line with every -LOG: switch and its value replaced by blanks:
  // the text the other switches are looked for in, so that a log path never
  // selects a run mode or an option.
  std::wstring switchText;
};
LogSwitch ParseLogSwitch(const wchar_t* commandLine);

// The run mode: 3 for "-u3"/"-U3", 1 for "-s1"/"-S1", 2 for "-u1"/"-U1", else 0,
// tested in that order. Sets the installer options for modes 0 to 2
// ("/clone_wait", plus the language options in 1 and 2); mode 3 leaves them.
RunMode ParseRunMode(const wchar_t* commandLine, LANGID userLanguage,
                 std::wstring* installerOptions);

// 1 when "-KM" or "-km" occurs anywhere in the command line.
int HasKmSwitch(const wchar_t* commandLine);

// Decimal conversion as the runtime's _wtoi does it: leading white space, an
// optional sign, digits up to the first non-digit; no digits give 0. Values
// beyond the int range saturate instead of wrapping into a valid port number.
int ConvertDecimal(const wchar_t* text, size_t length);

// The requested QN and VD port numbers (1-32 COM, 33-40 LPT, 0 none). Read in
// run mode 1 only; both are 0 otherwise.
void ParsePortOptions(const wchar_t* commandLine, int runMode, int* qnPort, int* vdPort);

// 106 when both ports are the same and given, 107 for a VD port without a QN
// port, else 0.
int CheckPortConflict(int qnPort, int vdPort);

}  // namespace qnvpd
