// Folders reached as themselves: opened without following a link, checked to be
// real folders, and deleted through the handle that was checked, so that no
// second lookup by path can be steered elsewhere in between.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// Opens the folder at `path` as itself (never followed), with `access` plus
// listing, attribute and descriptor reads, and without FILE_SHARE_DELETE: while
// the handle is open nobody can rename or delete what it names. (The listing
// right is what makes the share mode count; attribute access alone is not
// checked.) INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenHeldFolder(const std::wstring& path, DWORD access = 0);

// A real folder, checked through the handle (which pins it) and through its
// path (Wine reports a link as a reparse point only there).
bool IsPlainFolder(HANDLE held, const std::wstring& path);

// Marks the folder or file the handle names for deletion; it goes when the
// last handle to it is closed. The handle needs DELETE access. The file system
// refuses a folder that is not empty (ERROR_DIR_NOT_EMPTY). False, with the
// last error set, when refused.
bool DeleteThroughHandle(HANDLE opened);

}  // namespace qnvpd
