// Stand-in for the removal library: its entry records that it ran and from where.
#include <windows.h>

#include "standin_common.h"

static HMODULE g_self;

extern "C" int RCVCLN_UninstQNCOMUSB() {
  standin::Report(L"library", standin::ModulePath(g_self));
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}
