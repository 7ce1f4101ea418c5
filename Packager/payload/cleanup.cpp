#include "payload/cleanup.h"

#include <cwchar>

#include "bounded_text.h"
#include "folder_text.h"
#include "held_folder.h"
#include "scoped.h"
#include "system_export.h"

namespace qnvpd {

namespace {

HANDLE SystemFindFirst(const wchar_t* pattern, WIN32_FIND_DATAW* data) {
  return FindFirstFileW(pattern, data);
}
BOOL SystemFindNext(HANDLE find, WIN32_FIND_DATAW* data) { return FindNextFileW(find, data); }
BOOL SystemFindClose(HANDLE find) { return FindClose(find); }

// Owns one open listing and closes it through the listing it came from.
class ListingSearch {
 public:
  ListingSearch(const DirectoryListing& listing, const wchar_t* pattern, WIN32_FIND_DATAW* data)
      : listing_(listing), find_(listing.findFirst(pattern, data)) {}
  ~ListingSearch() {
    if (IsOpen()) listing_.findClose(find_);
  }
  ListingSearch(const ListingSearch&) = delete;
  ListingSearch& operator=(const ListingSearch&) = delete;

  bool IsOpen() const { return find_ != INVALID_HANDLE_VALUE && find_ != nullptr; }
  bool Next(WIN32_FIND_DATAW* data) { return listing_.findNext(find_, data) != FALSE; }

 private:
  const DirectoryListing& listing_;
  HANDLE find_;
};

// Only the listing's own entries for the folder and its parent; a name that
// merely begins with a dot is an entry like any other.
bool IsPassedOver(const WIN32_FIND_DATAW& entry) {
  return std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0;
}

// Clears read-only, hidden and system on what the handle names (it needs
// FILE_WRITE_ATTRIBUTES).
void ClearAttributes(HANDLE opened) {
  // Looked up at run time: older systems lack it, and there the attributes stay.
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  auto setInformation = Kernel32Export<SetInformationFn>("SetFileInformationByHandle");
  if (setInformation == nullptr) return;
  FILE_BASIC_INFO info = {};
  info.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // zero times leave the times unchanged
  setInformation(opened, FileBasicInfo, &info, sizeof info);
}

// Clears the attributes of the link itself: opened as a reparse point, so the
// attributes of whatever it points to stay as they are.
void ClearLinkAttributes(const std::wstring& path) {
  ScopedFile link(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr));
  if (link.IsValid()) ClearAttributes(link.Get());
}

// Deletes a file or an empty folder by its path. Read-only is the only
// attribute that stops a deletion, and clearing attributes is a write to the
// disk per entry, so they are cleared only after a refused first try.
bool DeleteClearingAttributes(const std::wstring& path, BOOL(WINAPI* remove)(LPCWSTR)) {
  if (remove(path.c_str())) return true;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return remove(path.c_str()) != FALSE;
}

// `name` below the folder, or false with ERROR_FILENAME_EXCED_RANGE.
bool JoinEntry(const std::wstring& folder, const std::wstring& name,
               BoundedText<kTreePathCapacity>* path) {
  if (JoinBelow(folder, name, path)) return true;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// Removes one listed entry of the folder; true when it is gone.
bool RemoveEntry(const std::wstring& folder, const WIN32_FIND_DATAW& entry,
                 const DirectoryListing& listing) {
  const DWORD attributes = entry.dwFileAttributes;
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // A folder that is entered is named as a folder text; a link or a file as itself.
  const std::wstring name = std::wstring(entry.cFileName) + (isFolder && !isLink ? L"\\" : L"");
  BoundedText<kTreePathCapacity> path;
  if (!JoinEntry(folder, name, &path)) return false;
  if (isLink) {
    // A link goes as itself; entering it would delete what it points to.
    ClearLinkAttributes(path.str());
    if (isFolder) return RemoveDirectoryW(path.c_str()) != FALSE;
    return DeleteFileW(path.c_str()) != FALSE;
  }
  if (isFolder) return RemoveTree(path.str(), listing) == 1;
  return DeleteClearingAttributes(path.str(), DeleteFileW);
}

int RemoveFolderItself(const std::wstring& folder) {
  return DeleteClearingAttributes(folder, RemoveDirectoryW) ? 1 : 0;
}

}  // namespace

const DirectoryListing& SystemDirectoryListing() {
  static const DirectoryListing listing = {SystemFindFirst, SystemFindNext, SystemFindClose};
  return listing;
}

bool RemoveEntriesBelow(const std::wstring& folder, const DirectoryListing& listing) {
  BoundedText<kTreePathCapacity> pattern;
  if (!JoinEntry(folder, L"*.*", &pattern)) return false;
  WIN32_FIND_DATAW entry = {};
  ListingSearch search(listing, pattern.c_str(), &entry);
  if (!search.IsOpen()) return true;
  do {
    if (IsPassedOver(entry)) continue;
    if (!RemoveEntry(folder, entry, listing)) {
      // What is left, and every folder above it, stays for the next run.
      return false;
    }
  } while (search.Next(&entry));
  return true;
}

int RemoveTree(const std::wstring& folder, const DirectoryListing& listing) {
  if (!RemoveEntriesBelow(folder, listing)) return 0;
  return RemoveFolderItself(folder);
}

FinalPathQuery SystemFinalPathQuery() {
  return Kernel32Export<FinalPathQuery>("GetFinalPathNameByHandleW");
}

std::wstring ComparablePath(const std::wstring& path) {
  std::wstring rest = path;
  if (rest.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    rest = L"\\\\" + rest.substr(8);
  } else if (rest.compare(0, 4, L"\\\\?\\") == 0) {
    rest = rest.substr(4);
  }
  // A share's path begins with its two backslashes; elsewhere a run is one.
  const size_t kept = rest.compare(0, 2, L"\\\\") == 0 ? 2 : 0;
  std::wstring comparable = rest.substr(0, kept);
  for (size_t i = kept; i < rest.size(); ++i) {
    if (rest[i] == L'\\' && !comparable.empty() && comparable.back() == L'\\') continue;
    comparable += rest[i];
  }
  while (comparable.size() > kept && comparable.back() == L'\\') comparable.pop_back();
  return comparable;
}

bool IsHeldAt(HANDLE held, const std::wstring& path, FinalPathQuery query) {
  if (query == nullptr) return false;
  // Room for a path of 260 characters with the longest prefix ("\\?\UNC\").
  constexpr DWORD kCapacity = 2 * kPathCapacity;
  wchar_t finalPath[kCapacity] = {};
  const DWORD length =
      query(held, finalPath, kCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= kCapacity) return false;
  // The file system's names compare without case; the final path has the
  // names as stored, the setting as someone typed it. Letters outside ASCII
  // that differ only in case do not match: the folder then stays.
  return _wcsicmp(ComparablePath(finalPath).c_str(), ComparablePath(path).c_str()) == 0;
}

HandleInformationQuery SystemHandleInformationQuery() {
  return Kernel32Export<HandleInformationQuery>("GetFileInformationByHandleEx");
}

bool HoldsEntries(HANDLE held, HandleInformationQuery query) {
  if (query == nullptr) return false;
  // Several entries per call; the first call starts the listing afresh.
  alignas(8) BYTE entries[4096];
  FILE_INFO_BY_HANDLE_CLASS next = FileIdBothDirectoryRestartInfo;
  while (query(held, next, entries, sizeof entries)) {
    for (const BYTE* at = entries;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") return true;
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
    next = FileIdBothDirectoryInfo;
  }
  return false;  // ERROR_NO_MORE_FILES, or a listing that failed
}

FolderRemoval RemoveFolderIfEmpty(const std::wstring& folder, HandleInformationQuery listing) {
  // Held without FILE_SHARE_DELETE from the checks to the deletion: nobody can
  // move it away and put something else at its place in between.
  ScopedFile held(OpenHeldFolder(folder, DELETE | FILE_WRITE_ATTRIBUTES));
  if (!held.IsValid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return {FolderRemoval::kNotThere, 0};
    }
    return {FolderRemoval::kFailed, error};
  }
  // A link at the place or above it would have this run delete an empty
  // folder of someone else's choosing.
  if (!IsPlainFolder(held.Get(), folder) || !IsHeldAt(held.Get(), folder)) {
    return {FolderRemoval::kNotItself, 0};
  }
  // Listed through the hold (a listing by path may not share with its DELETE
  // access), so that a folder holding anything stays exactly as it is,
  // attributes included. Nothing inside a maker's folder is ours.
  if (HoldsEntries(held.Get(), listing)) return {FolderRemoval::kNotEmpty, 0};
  ClearAttributes(held.Get());
  if (!DeleteThroughHandle(held.Get())) {
    const DWORD error = GetLastError();
    // The file system refuses a folder that is not empty: an entry that came
    // in since the listing keeps it.
    if (error == ERROR_DIR_NOT_EMPTY) return {FolderRemoval::kNotEmpty, 0};
    return {FolderRemoval::kFailed, error};
  }
  return {FolderRemoval::kRemoved, 0};
}

}  // namespace qnvpd
