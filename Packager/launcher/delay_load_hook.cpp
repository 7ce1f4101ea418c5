// Where the package's system DLLs besides KERNEL32 come from.
//
// The package imports only KERNEL32 and msvcrt, which the loader always takes
// from the system folder. USER32, ADVAPI32 and COMCTL32 are delay-loaded
// (CMakeLists.txt, QNVPD_DELAY_LOADED_DLLS): the first call of one of their
// functions, always after wWinMain has restricted the DLL search, loads the
// DLL through mingw-w64's delay-load helper, and this hook hands it the DLL
// loaded from the system folder by LoadSystemLibrary. A planted USER32.dll,
// or a version.dll or imm32.dll that USER32 and COMCTL32 would have pulled in
// before wWinMain as static imports, is never looked at.
//
// Linked into the package program itself (not into a library): the helper's
// default, empty hooks come from the runtime library, and an object of the
// program's own takes their place only if it is linked before that library.
#include <windows.h>

#include <delayimp.h>

#include "system_library.h"

namespace {

// The exit codes the loader gives a program whose import is missing.
constexpr UINT kDllNotFound = 0xC0000135;         // STATUS_DLL_NOT_FOUND
constexpr UINT kEntryPointNotFound = 0xC0000139;  // STATUS_ENTRYPOINT_NOT_FOUND

FARPROC WINAPI BeforeDelayLoad(unsigned note, PDelayLoadInfo info) {
  if (note != dliNotePreLoadLibrary) return nullptr;
  // The helper's names are the import library's ASCII names ("USER32.dll").
  wchar_t name[64] = {};
  for (size_t i = 0; info->szDll[i] != '\0'; ++i) {
    if (i + 1 == sizeof name / sizeof *name) ExitProcess(kDllNotFound);
    name[i] = static_cast<unsigned char>(info->szDll[i]);
  }
  HMODULE module = qnvpd::LoadSystemLibrary(name);
  // Never null: the helper would then load the name itself, with the plain
  // search order that looks in the package's folder first.
  if (module == nullptr) ExitProcess(kDllNotFound);
  return reinterpret_cast<FARPROC>(module);
}

// A function this Windows lacks: the run ends as the loader would have ended
// it at the start for a missing static import, instead of with the helper's
// unhandled exception.
FARPROC WINAPI DelayLoadFailed(unsigned note, PDelayLoadInfo) {
  ExitProcess(note == dliFailLoadLib ? kDllNotFound : kEntryPointNotFound);
}

// The end of the delay-load descriptors, for tools/post-link.py: the import
// libraries put theirs in .text$2, and the linker sorts .text$2z after them.
__attribute__((section(".text$2z"), used, aligned(4))) const ImgDelayDescr kDelayImportEnd = {};

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = BeforeDelayLoad;
PfnDliHook __pfnDliFailureHook2 = DelayLoadFailed;
}
