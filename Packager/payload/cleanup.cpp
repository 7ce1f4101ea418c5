#include "payload/cleanup.h"

#include <cwchar>

#include "held_folder.h"
#include "scoped.h"
#include "system_export.h"

namespace qnvpd {

namespace {

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

void Leave(std::vector<LeftEntry>* left, const std::wstring& path, DWORD error) {
  left->push_back({path, error});
}

// Deletes what `opened` names, or notes it as left.
void DeleteOrLeave(HANDLE opened, const std::wstring& path, std::vector<LeftEntry>* left) {
  if (!DeleteThroughHandle(opened)) Leave(left, path, GetLastError());
}

// Removes one listed entry of the folder `parent` names.
void RemoveEntry(HANDLE parent, const std::wstring& parentText, const FolderEntry& entry,
                 FolderListing listing, std::vector<LeftEntry>* left) {
  const bool isLink = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const bool isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring path = parentText + entry.name;
  if (isFolder && !isLink) {
    // Listed and deleted through one handle; where someone holds the folder
    // (a program's current folder), through one that asks for no delete
    // access, so that its entries still go.
    constexpr DWORD kListing = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
    ScopedHandle folder(OpenEntryBelow(parent, entry.name, kListing | kDeleteAccess, kShareAll, true));
    const bool canDelete = folder.IsValid();
    if (!canDelete) folder.Reset(OpenEntryBelow(parent, entry.name, kListing, kShareAll, true));
    if (!folder.IsValid()) return Leave(left, path, GetLastError());
    BY_HANDLE_FILE_INFORMATION info = {};
    // Entered only when the handle, too, shows a folder and no link: one put
    // there since the listing is deleted as itself below.
    if (GetFileInformationByHandle(folder.Get(), &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      if (!RemoveBelow(folder.Get(), path + L'\\', left, listing)) {
        return Leave(left, path, ERROR_DIR_NOT_EMPTY);
      }
      if (canDelete) return DeleteOrLeave(folder.Get(), path, left);
      ScopedHandle deleter(ReopenThroughHandle(folder.Get(), kDeleteAccess));
      if (!deleter.IsValid()) return Leave(left, path, GetLastError());
      return DeleteOrLeave(deleter.Get(), path, left);
    }
  }
  // A file, or a link as itself: deleting it never touches what it points to.
  ScopedHandle opened(OpenEntryBelow(parent, entry.name, kDeleteAccess, kShareAll, false));
  if (!opened.IsValid()) return Leave(left, path, GetLastError());
  DeleteOrLeave(opened.Get(), path, left);
}

}  // namespace

bool RemoveBelow(HANDLE folder, const std::wstring& folderText, std::vector<LeftEntry>* left,
                 FolderListing listing) {
  std::vector<FolderEntry> entries;
  if (!listing(folder, &entries)) {
    Leave(left, folderText, GetLastError());
    return false;
  }
  const size_t leftBefore = left->size();
  for (const FolderEntry& entry : entries) RemoveEntry(folder, folderText, entry, listing, left);
  return left->size() == leftBefore;
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
