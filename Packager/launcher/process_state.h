// The state that lives for the whole process: set once by the step that owns
// it, read by the later steps.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

struct ProcessState {
  std::wstring installerOptions;  // first part of the product installer's arguments
  std::wstring notifyToken;       // "/W32:<handle>:1024"
  int kmFlag = 0;                 // "-KM"/"-km" seen: Windows 2000 is accepted
  HWND notifyWindow = nullptr;    // receives the installer's result
  wchar_t windowTitle[100] = {};  // string 60
  wchar_t className[100] = {};    // string 111, also the single-instance name
  int postedExitCode = 0;         // low 16 bits of the last WM_USER
};

extern ProcessState g_state;

}  // namespace qnvpd
