// The stack protector's guard and failure routines (-fstack-protector-strong,
// _FORTIFY_SOURCE), in place of GCC's libssp: libssp seeds its guard through
// the crypto API, a static import of ADVAPI32 loaded before wWinMain restricts
// the DLL search, and reports a failure through the C runtime's stdio. Here
// the package keeps its imports at KERNEL32 and msvcrt.
//
// The guard is the image's security cookie: the load configuration's
// SecurityCookie points at it (Packager/launcher/load_config.cpp), and the
// Windows loader replaces the default value it starts with by a random one
// before any code of the image runs (Wine 8 does the same). Microsoft
// documents the field only as the cookie of the /GS implementation, and a
// loader that leaves it alone is possible (an older one, or a copy whose load
// configuration was lost): the TLS callback below, which runs before the
// program's entry point, seeds a guard that still holds the default from the
// values the Visual C++ runtime uses for its own cookie.
//
// Linked into every program that links qnvpd_core (the package and the test
// programs), before the runtime libraries, so libssp is never linked.
#include <windows.h>

#include <cstdint>

namespace {

// The value the loader recognises as "not yet seeded" in an x86 image.
constexpr uintptr_t kDefaultSecurityCookie = 0xBB40E64E;

}  // namespace

extern "C" {

uintptr_t __stack_chk_guard = kDefaultSecurityCookie;

// Ends the process as Windows ends it on a /GS failure: no handler, no box,
// exit code STATUS_STACK_BUFFER_OVERRUN. The stack is not to be trusted, so
// nothing of the program runs any more.
__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail() {
  // Windows 8 and later: the kernel ends the process at once.
  if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
  }
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  // Terminating the own process does not return.
  for (;;) Sleep(INFINITE);
}

// A fortified string or memory function found a copy larger than its
// destination, before writing it: ended the same way.
__attribute__((noreturn, no_stack_protector)) void __chk_fail() { __stack_chk_fail(); }

}  // extern "C"

namespace {

// Runs before the program's entry point, with no protected frame live; not
// protected itself, as it changes the guard its own check would compare with.
__attribute__((no_stack_protector)) void NTAPI SeedGuard(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_PROCESS_ATTACH || __stack_chk_guard != kDefaultSecurityCookie) return;
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  uintptr_t guard = now.dwLowDateTime ^ now.dwHighDateTime;
  guard ^= GetCurrentProcessId();
  guard ^= GetCurrentThreadId();
  guard ^= GetTickCount();
  guard ^= counter.LowPart ^ static_cast<uintptr_t>(counter.HighPart);
  // Never the default again, and never a guard whose high half is empty.
  if (guard == kDefaultSecurityCookie) {
    guard = kDefaultSecurityCookie + 1;
  } else if ((guard & 0xFFFF0000u) == 0) {
    guard |= (guard | 0x4711u) << 16;
  }
  __stack_chk_guard = guard;
}

}  // namespace

// The runtime's TLS directory lists the callbacks between .CRT$XLA and
// .CRT$XLZ; .CRT$XLB puts this one before the runtime's own.
extern "C" {
__attribute__((section(".CRT$XLB"), used)) PIMAGE_TLS_CALLBACK qnvpd_seed_guard = SeedGuard;
}
