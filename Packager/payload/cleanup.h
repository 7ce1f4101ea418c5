// Removing a folder tree, or a folder that is empty.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "held_folder.h"

namespace qnvpd {

// What a listing of a folder gives; a seam so tests can present entries (such
// as links) that the file system under test cannot create.
using FolderListing = bool (*)(HANDLE folder, std::vector<FolderEntry>* entries);

// An entry a removal could not delete, and the system's error.
struct LeftEntry {
  std::wstring path;
  DWORD error;
};

// Deletes everything below the folder `folder` names (a handle with
// FILE_LIST_DIRECTORY), depth first, each entry reached through the handle of
// the folder that lists it, never looked up by path: nothing it deletes can be
// somewhere else than where it was listed. Links (reparse points) are deleted
// as themselves, never entered. Goes on past what it cannot delete (a file
// another program holds, say) and adds that, and each folder it keeps, to
// *left, deepest first, named below `folderText` (the folder's text, ending in
// one backslash). True when nothing is left below the folder.
bool RemoveBelow(HANDLE folder, const std::wstring& folderText, std::vector<LeftEntry>* left,
                 FolderListing listing = ListFolder);

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
