// Removing a folder tree, or a folder that is empty.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The directory listing the tree removals walk; a seam so tests can present entries
// (such as links) that the file system under test cannot create.
struct DirectoryListing {
  HANDLE (*findFirst)(const wchar_t* pattern, WIN32_FIND_DATAW* data);
  BOOL (*findNext)(HANDLE find, WIN32_FIND_DATAW* data);
  BOOL (*findClose)(HANDLE find);
};
const DirectoryListing& SystemDirectoryListing();

// Deletes everything below the folder (a folder text, ending in one backslash:
// the working folder's, or one of its subfolders'), depth first, leaving the
// folder itself. Links (reparse points) are removed as themselves, never
// entered. Stops at the first entry it cannot delete, or whose path would not
// fit kTreePathCapacity (ERROR_FILENAME_EXCED_RANGE). True when nothing is left
// below it.
bool RemoveEntriesBelow(const std::wstring& folder,
                        const DirectoryListing& listing = SystemDirectoryListing());

// Deletes the folder and everything below it, as RemoveEntriesBelow, then the
// folder itself. 1 when the folder itself was removed, else 0.
int RemoveTree(const std::wstring& folder,
               const DirectoryListing& listing = SystemDirectoryListing());

// GetFinalPathNameByHandleW, looked up at run time: Windows XP lacks it.
using FinalPathQuery = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
FinalPathQuery SystemFinalPathQuery();  // nullptr where the system lacks it

// A path in the form it is compared in: without the "\\?\" prefix (and
// "\\?\UNC\" as "\\"), each run of backslashes as one, no trailing backslash.
std::wstring ComparablePath(const std::wstring& path);

// True when the system's final path of the held folder is `path` itself (case
// aside), that is when no link anywhere along `path` led somewhere else. False
// when that cannot be told: no query, or the query fails.
bool IsHeldAt(HANDLE held, const std::wstring& path,
              FinalPathQuery query = SystemFinalPathQuery());

// What RemoveFolderIfEmpty found; `error` is the system's error for kFailed.
struct FolderRemoval {
  enum Outcome {
    kRemoved,    // it was empty and is gone
    kNotThere,   // nothing at the path
    kNotEmpty,   // kept: it holds an entry
    kNotItself,  // kept: a link or a file, or reached through a link
    kFailed,     // kept: it could not be opened or deleted
  };
  Outcome outcome;
  DWORD error;
};

// GetFileInformationByHandleEx, looked up at run time: Windows XP lacks it.
using HandleInformationQuery = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
HandleInformationQuery SystemHandleInformationQuery();  // nullptr where the system lacks it

// True when the held folder, listed through its handle, holds an entry besides
// "." and ".."; false when it holds none or cannot be listed.
bool HoldsEntries(HANDLE held, HandleInformationQuery query = SystemHandleInformationQuery());

// Removes the folder only when it holds no entries (or cannot be listed: the
// file system still refuses to delete a folder that is not empty). It is
// opened as itself and held from the checks to its deletion, which goes
// through that handle: no second lookup by path. Nothing inside it is touched.
FolderRemoval RemoveFolderIfEmpty(const std::wstring& folder,
                                  HandleInformationQuery listing = SystemHandleInformationQuery());

}  // namespace qnvpd
