// Writing one carried resource to a file.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// Writes RCDATA resource `id` of the running program to folder\name. 0 when the
// whole file was written; otherwise the platform's error code of the failing
// step, and no partial file is left behind (a short write counts as a failure,
// ERROR_DISK_FULL when the platform reported none). A target path that does not
// fit its buffer gives ERROR_FILENAME_EXCED_RANGE.
DWORD ExtractResource(const std::wstring& folder, WORD id, const std::wstring& name);

}  // namespace qnvpd
