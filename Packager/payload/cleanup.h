// Removing a folder tree, or a folder that is empty.
#pragma once

#include <windows.h>

#include <string>

namespace qnvpd {

// The directory listing the removals walk; a seam so tests can present entries
// (such as links) that the file system under test cannot create.
struct DirectoryListing {
  HANDLE (*findFirst)(const wchar_t* pattern, WIN32_FIND_DATAW* data);
  BOOL (*findNext)(HANDLE find, WIN32_FIND_DATAW* data);
  BOOL (*findClose)(HANDLE find);
};
const DirectoryListing& SystemDirectoryListing();

// "<folder>\*.*", with the backslash only when the folder does not end in one.
std::wstring ComposeSearchPattern(const std::wstring& folder);
// "<folder>\<name>", the folder text exactly as given.
std::wstring ComposeEntryPath(const std::wstring& folder, const wchar_t* name);

// Deletes everything below the folder, depth first, leaving the folder itself.
// Links (reparse points) are removed as themselves, never entered. Stops at the
// first entry it cannot delete. True when nothing is left below it.
bool RemoveEntriesBelow(const std::wstring& folder,
                        const DirectoryListing& listing = SystemDirectoryListing());

// Deletes the folder and everything below it, as RemoveEntriesBelow, then the
// folder itself. 1 when the folder itself was removed, else 0.
int RemoveTree(const std::wstring& folder,
               const DirectoryListing& listing = SystemDirectoryListing());

// Removes the folder only when it holds no entries or cannot be listed. 1 when
// removed, else 0.
int RemoveFolderIfEmpty(const std::wstring& folder,
                        const DirectoryListing& listing = SystemDirectoryListing());

}  // namespace qnvpd
