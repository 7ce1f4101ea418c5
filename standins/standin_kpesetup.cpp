// Stand-in for the removal setups: records how it was started and ends with the
// exit code the test asks for.
#include <windows.h>

#include "standin_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  standin::Report(L"kpesetup", standin::ModulePath(nullptr));
  standin::Report(L"kpesetup.commandline", GetCommandLineW());
  standin::Report(L"kpesetup.cwd", standin::CurrentFolder());
  standin::HoldIfAsked();
  return standin::EnvInt(L"QNVPD_STANDIN_EXIT", 0);
}
