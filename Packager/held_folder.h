// Folders reached as themselves: created and held in one step, opened without
// following a link, checked to be real folders on a volume that keeps access
// lists, and deleted through the handle that was checked, so that no second
// lookup by path can be steered elsewhere in between.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qnvpd {

// The access a held folder is opened with besides what the caller asks for:
// listing (which makes the share mode count; attribute access alone is not
// checked), attributes and the descriptor.
constexpr DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
// What DeleteThroughHandle needs of a handle: deleting, and reading and
// clearing a read-only attribute first (the system checks both accesses). A
// hold never has it: a handle with delete access and no delete sharing would
// refuse every other opener that does not share delete, the current folder of
// a program started there and the system's own directory listing included.
constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
// A hold's share mode: others may read and write, never rename or delete.
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the folder at `path` as itself (never followed), with `access` plus
// kHeldFolderAccess, and without FILE_SHARE_DELETE: while the handle is open
// nobody can rename or delete what it names. INVALID_HANDLE_VALUE when it
// cannot be opened.
HANDLE OpenHeldFolder(const std::wstring& path, DWORD access = 0);

// Creates the folder `name` (one name, no backslash) in the folder `parent`
// names, with `descriptor`, and opens it held (as OpenHeldFolder) in one step:
// relative to the parent's handle, so no link or rename above it can lead the
// creation elsewhere, and nobody can put another folder there between the
// creation and the hold. Never takes over anything already there, a link
// included. Null, with the last error set, when it cannot:
// ERROR_ALREADY_EXISTS when something stands there.
HANDLE CreateHeldFolderBelow(HANDLE parent, const std::wstring& name,
                             PSECURITY_DESCRIPTOR descriptor);

// Opens the entry `name` of the folder `parent` names, through that handle,
// as itself (a link is opened as the link), with `access` and `share`; for a
// folder to be listed, `folder` asks that it is one. Null, with the last error
// set, when it cannot.
HANDLE OpenEntryBelow(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                      bool folder);

// Opens the file `name` in the folder `parent` names, through that handle, or
// creates it there with `descriptor` (FILE_OPEN_IF), never following a link at
// that name, and letting a pipe server found there identify the package only.
// *created tells whether this call made it. Null, with the last error set,
// when it cannot.
HANDLE CreateFileBelow(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                       PSECURITY_DESCRIPTOR descriptor, bool* created);

// A real folder, checked through the handle (which pins it) and through its
// path (Wine reports a link as a reparse point only there).
bool IsPlainFolder(HANDLE held, const std::wstring& path);

// A second handle on the very folder (or file) `opened` names, with `access`,
// found through that handle rather than a path, and with `share`. Taken while
// a folder is held, with attribute access only, it keeps naming that folder
// wherever it is moved: an anchor for DeleteAnchoredFolder. Null, with the
// last error set, when the system refuses.
HANDLE ReopenThroughHandle(HANDLE opened, DWORD access, DWORD share = kShareAll);

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

// Marks the folder or file the handle names for deletion. Where the system
// has them (Windows 10 1809 and later, on NTFS), with POSIX semantics, which
// take the name away at once even while someone else still has it open (so
// that its folder can go too), ignoring a read-only attribute; elsewhere the
// read-only attribute is cleared first and the entry goes when the last handle
// to it is closed. The handle needs kDeleteAccess. The file system refuses a
// folder that is not empty. False, with the last error set, when refused.
bool DeleteThroughHandle(HANDLE opened);

// One entry of a folder as a listing gives it.
struct FolderEntry {
  std::wstring name;
  DWORD attributes = 0;
};

// The entries of the folder the handle names (opened with FILE_LIST_DIRECTORY
// and for synchronous use), read through the handle, without "." and "..".
// False, with the last error set, when it cannot be listed.
bool ListFolder(HANDLE folder, std::vector<FolderEntry>* entries);

// GetFinalPathNameByHandleW, looked up at run time: Windows XP and Server 2003
// lack it.
using FinalPathQuery = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
FinalPathQuery SystemFinalPathQuery();  // nullptr where the system lacks it

// A path in the form it is compared in: without the "\\?\" prefix (and
// "\\?\UNC\" as "\\"), each run of backslashes as one, no trailing backslash.
std::wstring ComparablePath(const std::wstring& path);

// The system's final path of what the handle names (every link along the way
// resolved), in comparable form; empty when there is no query or it fails.
std::wstring FinalPathOf(HANDLE opened, FinalPathQuery query = SystemFinalPathQuery());

// Whether two paths name the same place as the file system compares names:
// without case (letters outside ASCII that differ only in case do not match,
// which errs on the side of "not the same").
bool IsSamePath(const std::wstring& a, const std::wstring& b);

// True when the system's final path of the held folder is `path` itself (case
// aside), that is when no link anywhere along `path` led somewhere else. False
// when that cannot be told: no query, or the query fails.
bool IsHeldAt(HANDLE held, const std::wstring& path,
              FinalPathQuery query = SystemFinalPathQuery());

}  // namespace qnvpd
