// What both runs are given: built once by the main sequence, read only below it.
#pragma once

#include <windows.h>

#include <string>

#include "launch/child_link.h"
#include "result_codes.h"
#include "run_log.h"

namespace qnvpd {

struct RunContext {
  RunMode runMode = kRunInteractive;
  LANGID language = 0;                   // the user default language id, from its one hook
  std::wstring installerOptions;         // first part of the product installer's arguments
  const wchar_t* commandLine = L"";      // the package's whole command-line tail
  const ChildLink* childLink = nullptr;  // the channel back from the child (the launcher's)
  const RunLog* runLog = nullptr;        // the run log, when the policy asks for one

  const RunLog& Log() const { return runLog != nullptr ? *runLog : OffRunLog(); }
};

}  // namespace qnvpd
