// What both runs are given: built once by the main sequence, read only below it.
#pragma once

#include <windows.h>

#include <string>

#include "result_codes.h"
#include "run_log.h"

namespace qnvpd {

struct RunContext {
  RunMode runMode = kRunInteractive;
  LANGID language = 0;                // the user default language id, from its one hook
  std::wstring installerOptions;      // first part of the product installer's arguments
  const wchar_t* commandLine = L"";   // the package's whole command-line tail
  std::wstring notifyToken;           // "/W32:<handle>:1024"
  HWND notifyWindow = nullptr;        // receives the installer's result
  const RunLog* runLog = nullptr;     // the run log, when the policy asks for one

  const RunLog& Log() const { return runLog != nullptr ? *runLog : OffRunLog(); }
};

}  // namespace qnvpd
