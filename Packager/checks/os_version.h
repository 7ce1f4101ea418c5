// Windows version support.
#pragma once

#include <windows.h>

namespace qnvpd {

// The version query, a seam so tests can report any version (or a failing query).
struct VersionQuery {
  BOOL(WINAPI* getVersion)(OSVERSIONINFOW* info);
};
const VersionQuery& SystemVersionQuery();

// 1 when the system reports version 5.0, else 0 (also when the query fails).
int IsWindows2000(const VersionQuery& query = SystemVersionQuery());

// 1 when the package may run: major version 5 or above, except 5.0 without the
// "-KM" switch (kmFlag). A failed query counts as major version 0: not supported.
int IsOsSupported(int kmFlag, const VersionQuery& query = SystemVersionQuery());

}  // namespace qnvpd
