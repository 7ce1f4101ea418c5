// Folders reached as themselves: created and held in one step, opened without
// following a link, checked to be real folders on a volume that keeps access
// lists, and deleted through the handle that was checked, so that no second
// lookup by path can be steered elsewhere in between.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The access a held folder is opened with besides what the caller asks for:
// listing (which makes the share mode count; attribute access alone is not
// checked), attributes and the descriptor.
constexpr DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
// What DeleteThroughHandle needs of a handle. A hold never has it: a handle
// with delete access and no delete sharing would refuse every other opener
// that does not share delete, the current folder of a program started there
// and the system's own directory listing included.
constexpr DWORD kDeleteAccess = DELETE | FILE_WRITE_ATTRIBUTES;

// Opens the folder at `path` as itself (never followed), with `access` plus
// kHeldFolderAccess, and without FILE_SHARE_DELETE: while the handle is open
// nobody can rename or delete what it names. INVALID_HANDLE_VALUE when it
// cannot be opened.
HANDLE OpenHeldFolder(const std::wstring& path, DWORD access = 0);

// Creates the folder at `path` with `descriptor` and opens it held (as
// OpenHeldFolder) in one step, so nobody can put another folder
// there between the creation and the hold. Never takes over anything already
// there, a link included. Null, with the last error set, when it cannot:
// ERROR_ALREADY_EXISTS when something stands there.
HANDLE CreateHeldFolder(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor);

// A real folder, checked through the handle (which pins it) and through its
// path (Wine reports a link as a reparse point only there).
bool IsPlainFolder(HANDLE held, const std::wstring& path);

// A second handle on the very folder (or file) `opened` names, with `access`,
// found through that handle rather than a path, and sharing everything.
// Taken while a folder is held, with attribute access only, it keeps naming
// that folder wherever it is moved: an anchor for DeleteAnchoredFolder.
// Null, with the last error set, when the system refuses.
HANDLE ReopenThroughHandle(HANDLE opened, DWORD access);

// Deletes the folder `anchor` names, through a delete handle reopened from the
// anchor once the folder's hold has ended: never looked up again by path.
// Refused (and the folder left) when it is not empty.
bool DeleteAnchoredFolder(HANDLE anchor);

// The volume a folder lies on, as far as a private folder there goes.
struct FolderVolume {
  bool known = false;             // the system answered
  bool local = false;             // not a network or remote device
  bool keepsAccessLists = false;  // FILE_PERSISTENT_ACLS: a descriptor takes effect
};

// The volume of the folder the handle names, asked through the handle.
FolderVolume QueryFolderVolume(HANDLE folder);

// Marks the folder or file the handle names for deletion, clearing a read-only
// attribute first; it goes when the last handle to it is closed. The handle
// needs kDeleteAccess (DELETE alone serves where nothing is read-only). The file system refuses a folder that is
// not empty. False, with the last error set, when refused.
bool DeleteThroughHandle(HANDLE opened);

}  // namespace qnvpd
