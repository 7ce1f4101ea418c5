// A program linked as the package is (its delay-load hook, load configuration
// and stack protector), for what the package itself cannot be made to show
// (tests/e2e/hardening_e2e_test.cpp):
//
//   hardening_probe delay-load  calls the function of beside.dll, a marker DLL
//                               (tests/helpers/marker_dll.cpp) that is not in
//                               the system folder; it never restricts the DLL
//                               search first, so only the hook keeps the copy
//                               beside the program from being loaded
//   hardening_probe smash <n>   writes n bytes into an 8-byte buffer on a
//                               guarded frame
//   hardening_probe copy <n>    copies n bytes into an 8-byte buffer outside
//                               any frame by memcpy, which FORTIFY checks
//   hardening_probe guard       ends with the stack protector's guard as its
//                               exit code
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

extern "C" uintptr_t __stack_chk_guard;  // Packager/launcher/stack_guard.cpp
extern "C" int MarkerProbe();            // beside.dll, delay-loaded

namespace {

__attribute__((noinline)) void Overrun(size_t count) {
  char buffer[8];
  volatile char* bytes = buffer;  // the compiler must not see the overrun coming
  for (size_t i = 0; i < count; ++i) bytes[i] = 'x';
}

// Not on the stack, so that only FORTIFY's check can catch an overrun.
char g_copied[8];

void Copy(size_t count) {
  static const char kSource[64] = {};
  std::memcpy(g_copied, kSource, count);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"delay-load") == 0) return MarkerProbe();
  if (argc == 3 && std::wcscmp(argv[1], L"smash") == 0) {
    Overrun(std::wcstoul(argv[2], nullptr, 10));
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"copy") == 0) {
    Copy(std::wcstoul(argv[2], nullptr, 10));
    return 0;
  }
  if (argc == 2 && std::wcscmp(argv[1], L"guard") == 0) return static_cast<int>(__stack_chk_guard);
  return 9001;
}
