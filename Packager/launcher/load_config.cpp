// The package's load configuration: DependentLoadFlags tells Windows 10 1607
// and later to look for the package's static imports in the system folder
// only (LOAD_LIBRARY_SEARCH_SYSTEM32), before any code of the package runs.
// The package imports only KERNEL32 and msvcrt, which come from there anyway:
// the flag keeps it so should an import ever be added.
//
// GNU ld 2.40 keeps this structure but does not point data directory 10 at
// it: tools/post-link.py does, right after the link. mingw-w64 declares the
// old layout, which ends with the SafeSEH fields; the flag is its WORD at
// offset 0x36 ("Reserved1", DependentLoadFlags in today's SDK). Everything
// else stays 0 as the package has none of it: no /GS security cookie (GCC's
// stack protector does not use one) and no SafeSEH handler table (the
// package's exceptions are DWARF, not SEH), the same as an image without a
// load configuration. Linked into the package program itself.
#include <windows.h>

#include <cstddef>

namespace {

constexpr IMAGE_LOAD_CONFIG_DIRECTORY32 PackageLoadConfig() {
  IMAGE_LOAD_CONFIG_DIRECTORY32 config = {};
  config.Size = sizeof config;  // 0x48, the layout up to SEHandlerCount
  config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;  // DependentLoadFlags
  return config;
}

static_assert(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32) == 0x48,
              "the layout tools/post-link.py expects");
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, Reserved1) == 0x36, "DependentLoadFlags");

}  // namespace

// The name the loader's convention gives it (one more underscore on x86).
extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY32 _load_config_used = PackageLoadConfig();
