// Keeps the package loadable on the oldest Windows versions it accepts.
//
// The C++ runtime's thread support imports a few system functions that older
// systems lack; a program importing a missing function is refused by the loader
// before it can even say "not supported". These definitions take the place of
// the import slots the runtime refers to, so those functions are not imported:
// each is looked up at run time instead, with a plain fallback. Linked into the
// package program itself (not into a library), so that it comes before the
// system import libraries.
#include <windows.h>

#include "system_export.h"

namespace {

template <typename Fn>
Fn Lookup(const char* name) {
  return qnvpd::Kernel32Export<Fn>(name);
}

ULONGLONG WINAPI TickCount64() {
  using Fn = ULONGLONG(WINAPI*)();
  if (Fn real = Lookup<Fn>("GetTickCount64")) return real();
  // The runtime measures short waits with it; the 32-bit count serves for those.
  return GetTickCount();
}

PVOID WINAPI AddVectoredHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
  using Fn = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
  Fn real = Lookup<Fn>("AddVectoredExceptionHandler");
  return real != nullptr ? real(first, handler) : nullptr;
}

ULONG WINAPI RemoveVectoredHandler(PVOID handle) {
  using Fn = ULONG(WINAPI*)(PVOID);
  Fn real = Lookup<Fn>("RemoveVectoredExceptionHandler");
  return real != nullptr && handle != nullptr ? real(handle) : 0;
}

}  // namespace

extern "C" {
ULONGLONG(WINAPI* qnvpd_imp_GetTickCount64)() __asm__("__imp__GetTickCount64@0") = TickCount64;
PVOID(WINAPI* qnvpd_imp_AddVectoredExceptionHandler)(ULONG, PVECTORED_EXCEPTION_HANDLER) __asm__(
    "__imp__AddVectoredExceptionHandler@8") = AddVectoredHandler;
ULONG(WINAPI* qnvpd_imp_RemoveVectoredExceptionHandler)(PVOID) __asm__(
    "__imp__RemoveVectoredExceptionHandler@4") = RemoveVectoredHandler;
}
