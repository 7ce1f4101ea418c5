// Windows version support.
#pragma once

#include <windows.h>

namespace qnvpd {

// The version query, a seam so tests can report any version (or a failing query).
using VersionQuery = BOOL(WINAPI*)(OSVERSIONINFOW*);

// 1 when the system reports version 5.0, else 0 (also when the query fails).
int IsWindows2000(VersionQuery query = GetVersionExW);

// 1 when the package may run: major version 5 or above, except 5.0 without the
// "-KM" switch (kmFlag). A failed query counts as major version 0: not supported.
int IsOsSupported(int kmFlag, VersionQuery query = GetVersionExW);

}  // namespace qnvpd
