#include "payload/extraction_root.h"

#include <windows.h>

#include <aclapi.h>

#include <cwchar>
#include <initializer_list>

#include "bounded_text.h"
#include "held_folder.h"
#include "payload/cleanup.h"
#include "payload/payload_manifest.h"
#include "scoped.h"
#include "string_table.h"

namespace qnvpd {

namespace {

constexpr DWORD kPathChars = static_cast<DWORD>(kPathCapacity);

// A stale root that keeps coming back between our renaming and our creation is
// someone else's doing; after this many tries we stop racing for it.
constexpr int kCreateAttempts = 3;

// Sibling names tried when something is renamed aside.
constexpr int kAsideNameAttempts = 10;

bool IsPlainName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring WithoutTrailingBackslash(const std::wstring& folder) {
  if (!folder.empty() && folder.back() == L'\\') return folder.substr(0, folder.size() - 1);
  return folder;
}

RootPlace SystemInspect(const std::wstring& place) {
  RootPlace found;
  const DWORD attributes = GetFileAttributesW(place.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    found.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                     ? RootPlace::Nothing
                     : RootPlace::Unknown;
    return found;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    found.kind = RootPlace::Link;
    return found;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    found.kind = RootPlace::File;
    return found;
  }
  found.kind = RootPlace::Folder;
  // The owner and DACL are read through a handle on the folder itself, so that
  // a link put there meanwhile is not followed to someone else's descriptor.
  ScopedFile folder(OpenHeldFolder(place));
  if (!folder.IsValid()) return found;
  if (!IsPlainFolder(folder.Get(), place)) {
    found.kind = RootPlace::Link;
    return found;
  }
  ScopedLocal descriptor;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetSecurityInfo(folder.Get(), SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &raw) == ERROR_SUCCESS) {
    descriptor.Reset(raw);
    found.isPrivate = IsPrivateDescriptor(raw);
  }
  return found;
}

// Whether the system opens the link at the place as itself. Where a handle
// opened that way does not show the reparse point, the system reaches only the
// target, and a rename would move the target instead of the link.
bool CanReachLinkItself(const std::wstring& place) {
  ScopedFile link(CreateFileW(place.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  return link.IsValid() && GetFileInformationByHandle(link.Get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A sibling of the place no earlier run can have used: "<place>.<process>-<tick>-".
std::wstring UniqueSiblingStem(const std::wstring& place) {
  return place + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount()) + L"-";
}

// Renames what stands at the place to a new sibling name and returns that name;
// empty when it could not be renamed (on Windows, for instance, a folder from
// which a program is running, or a file another program holds open).
std::wstring RenameAside(const std::wstring& place, RootPlace::Kind kind, const RunLog& log) {
  if (kind == RootPlace::Link && !CanReachLinkItself(place)) {
    log.Write(L"a link stands at " + place + L" and cannot be renamed as itself here; "
              L"nothing behind it is touched");
    return std::wstring();
  }
  const std::wstring stem = UniqueSiblingStem(place);
  for (int attempt = 0; attempt < kAsideNameAttempts; ++attempt) {
    const std::wstring aside = stem + std::to_wstring(attempt);
    // No copy: a link is renamed as itself, its target never touched.
    if (MoveFileExW(place.c_str(), aside.c_str(), 0)) {
      log.Write(L"set aside what stood at the working folder's place: " + aside);
      return aside;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      log.Failure(L"setting aside what stands at " + place, error);
      break;
    }
  }
  return std::wstring();
}

// Deletes a folder tree it has just renamed aside, if what is there now is still
// a private folder: held while its entries go, then deleted through its anchor,
// so it cannot be swapped.
void RemoveSetAsideTree(const std::wstring& aside, const RootPlaceQuery& query) {
  ScopedFile held(OpenHeldFolder(aside));
  if (!held.IsValid() || !IsPlainFolder(held.Get(), aside)) return;
  ScopedHandle anchor(ReopenThroughHandle(held.Get(), FILE_READ_ATTRIBUTES));
  const RootPlace now = query.inspect(aside);
  if (!anchor.IsValid() || DecideStaleRoot(now) != StaleRootAction::RemoveOurs) return;
  if (!RemoveEntriesBelow(aside + L"\\")) return;
  held.Reset();
  DeleteAnchoredFolder(anchor.Get());
}

// Clears the root's place; false when what stands there cannot be renamed.
bool ClearPlace(const std::wstring& place, const RootPlaceQuery& query, const RunLog& log) {
  const RootPlace found = query.inspect(place);
  const StaleRootAction action = DecideStaleRoot(found);
  if (action == StaleRootAction::Create) return true;
  // Renamed first even when it is ours: a folder that cannot be renamed may hold
  // a running installer, whose files must not be deleted from under it.
  const std::wstring aside = RenameAside(place, found.kind, log);
  if (aside.empty()) return false;
  if (action == StaleRootAction::RemoveOurs) RemoveSetAsideTree(aside, query);
  return true;
}

DWORD SystemTempPath(DWORD capacity, wchar_t* buffer) {
  // Where the system has it, the newer query gives SYSTEM (a deployment agent)
  // a folder only administrators can write, and everyone else the same folder
  // as before.
  using TempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  auto tempPath2 = kernel32 == nullptr ? nullptr
                                       : reinterpret_cast<TempPath2Fn>(reinterpret_cast<void*>(
                                             GetProcAddress(kernel32, "GetTempPath2W")));
  return tempPath2 != nullptr ? tempPath2(capacity, buffer) : GetTempPathW(capacity, buffer);
}

// Whether the folder the handle names lies where a private descriptor keeps
// others out: a local volume that keeps access lists. On FAT, exFAT or a share
// every user could write into the working folder while the installer runs.
bool KeepsFoldersPrivate(HANDLE folder, const std::wstring& path, const RootPlaceQuery& query,
                         const RunLog& log) {
  const FolderVolume volume = query.volume(folder);
  if (volume.known && volume.local && volume.keepsAccessLists) return true;
  log.Write(L"working folder: none; " + path +
            (!volume.known  ? L": its volume could not be asked"
             : !volume.local ? L" lies on a network or remote device"
                             : L" lies on a volume that keeps no access lists (such as FAT)") +
            L", where a folder cannot be kept private");
  return false;
}

// Creates and holds a new private sibling "<place>.<unique>" as the root, for
// when the place itself cannot be had; its path with a backslash, or empty.
std::wstring CreateSiblingRoot(const std::wstring& place, PSECURITY_DESCRIPTOR descriptor,
                               ScopedHandle* created, const RunLog& log) {
  const std::wstring stem = UniqueSiblingStem(place);
  for (int attempt = 0; attempt < kAsideNameAttempts; ++attempt) {
    const std::wstring sibling = stem + std::to_wstring(attempt);
    created->Reset(CreateHeldFolder(sibling, descriptor));
    if (created->IsValid()) {
      log.Write(L"what stands at " + place + L" is left alone; the working folder is a sibling");
      return sibling + L"\\";
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      log.Failure(L"creating the working folder " + sibling, error);
      return std::wstring();
    }
  }
  log.Write(L"working folder: none; every sibling name of " + place + L" is taken");
  return std::wstring();
}

}  // namespace

const RootPlaceQuery& SystemRootPlaceQuery() {
  static const RootPlaceQuery query = {SystemInspect, SystemTempPath, QueryFolderVolume};
  return query;
}

StaleRootAction DecideStaleRoot(const RootPlace& place) {
  switch (place.kind) {
    case RootPlace::Nothing:
      return StaleRootAction::Create;
    case RootPlace::Folder:
      return place.isPrivate ? StaleRootAction::RemoveOurs : StaleRootAction::SetAside;
    case RootPlace::Link:
    case RootPlace::File:
    case RootPlace::Unknown:
      break;
  }
  // Never entered or deleted: a link's target, or whatever someone else put
  // there, is not ours.
  return StaleRootAction::SetAside;
}

bool IsAbsoluteFolder(const std::wstring& text) {
  if (text.empty() || text.back() != L'\\') return false;
  if (text.size() >= 3 && IsDriveLetter(text[0]) && text[1] == L':' && text[2] == L'\\') {
    return true;
  }
  // "\\server\share\": something after the two leading backslashes.
  return text.size() > 3 && text[0] == L'\\' && text[1] == L'\\' && text[2] != L'\\';
}

std::wstring ComposeExtractionBase(const wchar_t* tempFolder, const wchar_t* windowsFolder,
                                   const wchar_t* currentFolder) {
  std::wstring base = tempFolder;
  // The Windows folder itself is never a base.
  if (std::wcscmp(tempFolder, windowsFolder) == 0) {
    base = currentFolder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
  }
  return IsAbsoluteFolder(base) ? base : std::wstring();
}

std::wstring ComposeExtractionRoot(const std::wstring& base, const std::wstring& productCode) {
  if (!IsAbsoluteFolder(base) || !IsPlainName(productCode)) return std::wstring();
  return base + productCode + L"\\";
}

bool IsNetworkFolderText(const std::wstring& base) {
  return base.size() >= 2 && base[0] == L'\\' && base[1] == L'\\';
}

std::wstring GetExtractionBase(const RootPlaceQuery& query) {
  wchar_t temp[kPathChars] = {};
  wchar_t windows[kPathChars] = {};
  wchar_t current[kPathChars] = {};
  // A length of 0 is a failure and one of the capacity or more a path that does
  // not fit; neither leaves a text we may use, whatever the buffer holds.
  const DWORD tempLength = query.tempPath(kPathChars, temp);
  if (tempLength == 0 || tempLength >= kPathChars) return std::wstring();
  const DWORD windowsLength = GetWindowsDirectoryW(windows, kPathChars);
  if (windowsLength == 0 || windowsLength >= kPathChars) return std::wstring();
  const DWORD currentLength = GetCurrentDirectoryW(kPathChars, current);
  if (currentLength == 0 || currentLength >= kPathChars) current[0] = L'\0';
  return ComposeExtractionBase(temp, windows, current);
}

bool PreparedRoot::Prepare(LANGID userLanguage, const RootPlaceQuery& query) {
  hold_.Reset();
  path_.clear();
  const std::wstring base = GetExtractionBase(query);
  const std::wstring root =
      ComposeExtractionRoot(base, LoadProgramString(kProductCodeId, userLanguage));
  if (root.empty()) {
    log_.Write(L"working folder: none; the temporary folder could not be read, or it is not "
               L"an absolute path that fits 260 characters");
    return false;
  }
  if (IsNetworkFolderText(base)) {
    log_.Write(L"working folder: none; the temporary folder " + base +
               L" is a network path, where a folder cannot be kept private");
    return false;
  }
  // Asked of the temporary folder first, so that nothing at all is written on
  // such a volume, and again of the created folder itself, which settles it.
  {
    ScopedFile baseFolder(CreateFileW(base.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!baseFolder.IsValid()) {
      log_.Failure(L"opening the temporary folder " + base, GetLastError());
      return false;
    }
    if (!KeepsFoldersPrivate(baseFolder.Get(), base, query, log_)) return false;
  }
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) {
    log_.Failure(L"building the working folder's security descriptor", GetLastError());
    return false;
  }
  PSECURITY_DESCRIPTOR descriptor = security.Attributes()->lpSecurityDescriptor;
  const std::wstring place = WithoutTrailingBackslash(root);
  ScopedHandle created;
  std::wstring made;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!ClearPlace(place, query, log_)) break;
    // Only a folder this call created carries our descriptor; one that
    // reappeared after the renaming could hold files planted by someone else.
    created.Reset(CreateHeldFolder(place, descriptor));
    if (created.IsValid()) {
      made = root;
      break;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      log_.Failure(L"creating the working folder " + root, error);
      return false;
    }
  }
  if (!created.IsValid()) {
    // Whatever holds the fixed name (a file some user keeps open in a shared
    // temporary folder, a link, a folder that keeps coming back) must not
    // block the run: a sibling of our own serves, and the squatter stays.
    made = CreateSiblingRoot(place, descriptor, &created, log_);
    if (made.empty()) return false;
  }
  ScopedHandle anchor(ReopenThroughHandle(created.Get(), FILE_READ_ATTRIBUTES));
  if (!anchor.IsValid()) {
    log_.Failure(L"opening the working folder " + made, GetLastError());
  }
  if (!anchor.IsValid() || !KeepsFoldersPrivate(created.Get(), made, query, log_)) {
    created.Reset();
    if (anchor.IsValid()) DeleteAnchoredFolder(anchor.Get());
    return false;
  }
  hold_.Reset(created.Release());
  anchor_.Reset(anchor.Release());
  path_ = made;
  log_.Write(L"working folder: " + made);
  return true;
}

void PreparedRoot::Remove() {
  if (path_.empty()) return;
  // The entries go while the root is held; the root itself through its anchor
  // once the hold has ended: its path is never looked up again, so it cannot
  // lead elsewhere meanwhile.
  DWORD error = ERROR_SUCCESS;
  const bool emptied = RemoveEntriesBelow(path_);
  if (!emptied) error = GetLastError();
  hold_.Reset();
  if (emptied && !DeleteAnchoredFolder(anchor_.Get())) error = GetLastError();
  anchor_.Reset();
  if (error == ERROR_SUCCESS) {
    log_.Write(L"working folder removed");
  } else {
    log_.Failure(L"removing the working folder " + path_, error);
  }
  path_.clear();
}

}  // namespace qnvpd
