// The last error of a call that failed, for callers that report it.
#pragma once

#include <windows.h>

namespace qnvpd {

// The failing call's error, never 0: a caller must not read a failure as
// success because the platform (or the runtime above it) left the last error
// unset; `fallback` stands then.
inline DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace qnvpd
