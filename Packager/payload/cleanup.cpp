#include "payload/cleanup.h"

#include <cwchar>

#include "scoped.h"

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
  ListingSearch(const DirectoryListing& listing, const std::wstring& folder,
                WIN32_FIND_DATAW* data)
      : listing_(listing),
        find_(listing.findFirst(ComposeSearchPattern(folder).c_str(), data)) {}
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

// Clears read-only, hidden and system on the link itself: opened as a reparse
// point, so the attributes of whatever it points to stay as they are.
void ClearLinkAttributes(const std::wstring& path) {
  ScopedFile link(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr));
  if (!link.IsValid()) return;
  // Looked up at run time: older systems lack it, and there the attributes stay.
  using SetInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
  auto setInformation = reinterpret_cast<SetInformationFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32"), "SetFileInformationByHandle")));
  if (setInformation == nullptr) return;
  FILE_BASIC_INFO info = {};
  info.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // zero times leave the times unchanged
  setInformation(link.Get(), FileBasicInfo, &info, sizeof info);
}

// Deletes a file or an empty folder by its path. Read-only is the only
// attribute that stops a deletion, and clearing attributes is a write to the
// disk per entry, so they are cleared only after a refused first try.
bool DeleteClearingAttributes(const std::wstring& path, BOOL(WINAPI* remove)(LPCWSTR)) {
  if (remove(path.c_str())) return true;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return remove(path.c_str()) != FALSE;
}

// Removes one listed entry; true when it is gone.
bool RemoveEntry(const std::wstring& path, DWORD attributes, const DirectoryListing& listing) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link goes as itself; entering it would delete what it points to.
    ClearLinkAttributes(path);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(path.c_str()) != FALSE;
    return DeleteFileW(path.c_str()) != FALSE;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveTree(path, listing) == 1;
  return DeleteClearingAttributes(path, DeleteFileW);
}

int RemoveFolderItself(const std::wstring& folder) {
  return DeleteClearingAttributes(folder, RemoveDirectoryW) ? 1 : 0;
}

}  // namespace

const DirectoryListing& SystemDirectoryListing() {
  static const DirectoryListing listing = {SystemFindFirst, SystemFindNext, SystemFindClose};
  return listing;
}

std::wstring ComposeSearchPattern(const std::wstring& folder) {
  if (!folder.empty() && folder.back() == L'\\') return folder + L"*.*";
  return folder + L"\\*.*";
}

std::wstring ComposeEntryPath(const std::wstring& folder, const wchar_t* name) {
  return folder + L"\\" + name;
}

bool RemoveEntriesBelow(const std::wstring& folder, const DirectoryListing& listing) {
  WIN32_FIND_DATAW entry = {};
  ListingSearch search(listing, folder, &entry);
  if (!search.IsOpen()) return true;
  do {
    if (IsPassedOver(entry)) continue;
    if (!RemoveEntry(ComposeEntryPath(folder, entry.cFileName), entry.dwFileAttributes,
                     listing)) {
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

int RemoveFolderIfEmpty(const std::wstring& folder, const DirectoryListing& listing) {
  {
    WIN32_FIND_DATAW entry = {};
    ListingSearch search(listing, folder, &entry);
    if (search.IsOpen()) {
      do {
        if (!IsPassedOver(entry)) return 0;  // nothing inside a maker's folder is ours
      } while (search.Next(&entry));
    }
  }
  return RemoveFolderItself(folder);
}

}  // namespace qnvpd
