// The package's load configuration:
//  - DependentLoadFlags tells Windows 10 1607 and later to look for the
//    package's static imports in the system folder only
//    (LOAD_LIBRARY_SEARCH_SYSTEM32), before any code of the package runs. The
//    package imports only KERNEL32 and msvcrt, which come from there anyway:
//    the flag keeps it so should an import ever be added.
//  - SecurityCookie points at the stack protector's guard, which the loader
//    then seeds (Packager/launcher/stack_guard.cpp).
//
// GNU ld 2.40 keeps this structure but does not point data directory 10 at
// it: tools/post-link.py does, right after the link, and checks both fields.
// mingw-w64 declares the old layout, which ends with the SafeSEH fields;
// DependentLoadFlags is its WORD at offset 0x36 ("Reserved1" there). There is
// no SafeSEH handler table: the image is marked NO_SEH instead (CMakeLists.txt,
// qnvpd_add_package). Everything else stays 0 as the package has none of it.
// Linked into the package program itself.
#include <windows.h>

#include <cstddef>
#include <cstdint>

extern "C" uintptr_t __stack_chk_guard;  // Packager/launcher/stack_guard.cpp

namespace {

static_assert(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32) == 0x48,
              "the layout tools/post-link.py expects");
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, Reserved1) == 0x36, "DependentLoadFlags");
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SecurityCookie) == 0x3C, "SecurityCookie");

}  // namespace

// The name the loader's convention gives it (one more underscore on x86). The
// loader reads it before any code runs, so it must be data the linker fills,
// with no initialisation at run time: tools/post-link.py checks the cookie's
// address in the file.
extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY32 _load_config_used = {
    sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32),  // Size: the layout up to SEHandlerCount
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // TimeDateStamp to ProcessAffinityMask
    0,                                      // CSDVersion
    LOAD_LIBRARY_SEARCH_SYSTEM32,           // DependentLoadFlags
    0,                                      // EditList
    static_cast<DWORD>(reinterpret_cast<uintptr_t>(&__stack_chk_guard)),  // SecurityCookie
    0, 0};                                  // SEHandlerTable, SEHandlerCount
