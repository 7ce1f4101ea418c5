#include "payload/working_folder.h"

#include <windows.h>

#include <cwchar>

#include "bounded_text.h"
#include "folder_text.h"
#include "held_folder.h"
#include "payload/cleanup.h"
#include "payload/payload_manifest.h"
#include "payload/set_aside.h"
#include "private_security.h"
#include "scoped.h"
#include "string_table.h"
#include "system_export.h"

namespace qnvpd {

namespace {

constexpr DWORD kPathChars = static_cast<DWORD>(kPathCapacity);

// Something that keeps coming back at the folder's name between our renaming
// and our creation is someone else's doing; after this many tries we stop
// racing for it.
constexpr int kCreateAttempts = 3;

bool IsPlainName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

DWORD SystemTempPath(DWORD capacity, wchar_t* buffer) {
  // Where the system has it, the newer query gives SYSTEM (a deployment agent)
  // a folder only administrators can write, and everyone else the same folder
  // as before.
  using TempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  auto tempPath2 = Kernel32Export<TempPath2Fn>("GetTempPath2W");
  return tempPath2 != nullptr ? tempPath2(capacity, buffer) : GetTempPathW(capacity, buffer);
}

// Whether the folder the handle names lies where a private descriptor keeps
// others out: a local volume that keeps access lists. On FAT, exFAT or a share
// every user could write into the working folder while the installer runs.
bool KeepsFoldersPrivate(HANDLE folder, const std::wstring& path, const WorkingFolderQuery& query,
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

// Whether the base folder may hold the working folder, asked before anything
// is written there; the created folder itself is asked again, which settles it.
bool IsUsableBase(const std::wstring& base, const WorkingFolderQuery& query, const RunLog& log) {
  if (IsNetworkFolderText(base)) {
    log.Write(L"working folder: none; the temporary folder " + base +
              L" is a network path, where a folder cannot be kept private");
    return false;
  }
  ScopedFile baseFolder(CreateFileW(base.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!baseFolder.IsValid()) {
    log.Failure(L"opening the temporary folder " + base, GetLastError());
    return false;
  }
  return KeepsFoldersPrivate(baseFolder.Get(), base, query, log);
}

// Creates and holds a new private sibling "<name>.<unique>" as the working
// folder, for when its own name cannot be had; the sibling's folder text, or
// empty.
std::wstring CreateSiblingFolder(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor,
                                 ScopedHandle* created, const RunLog& log) {
  const std::wstring stem = UniqueSiblingStem(name);
  for (int attempt = 0; attempt < kSiblingNameAttempts; ++attempt) {
    const std::wstring sibling = stem + std::to_wstring(attempt);
    created->Reset(CreateHeldFolder(sibling, descriptor));
    if (created->IsValid()) {
      log.Write(L"what stands at " + name + L" is left alone; the working folder is a sibling");
      return sibling + L'\\';
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      log.Failure(L"creating the working folder " + sibling, error);
      return std::wstring();
    }
  }
  log.Write(L"working folder: none; every sibling name of " + name + L" is taken");
  return std::wstring();
}

// Creates the folder `folder` names (or, failing that, a sibling) with the
// descriptor and holds it in *created; the folder text of what was created, or
// empty, with the failure logged.
std::wstring CreateHeldWorkingFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor,
                                     const WorkingFolderQuery& query, ScopedHandle* created,
                                     const RunLog& log) {
  const std::wstring name = FolderName(folder);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!SetAsideWhatStands(name, query.inspect, log)) break;
    // Only a folder this call created carries our descriptor; one that
    // reappeared after the renaming could hold files planted by someone else.
    created->Reset(CreateHeldFolder(name, descriptor));
    if (created->IsValid()) return folder;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      log.Failure(L"creating the working folder " + folder, error);
      return std::wstring();
    }
  }
  // Whatever holds the fixed name (a file some user keeps open in a shared
  // temporary folder, a link, a folder that keeps coming back) must not block
  // the run: a sibling of our own serves, and the squatter stays.
  return CreateSiblingFolder(name, descriptor, created, log);
}

}  // namespace

const WorkingFolderQuery& SystemWorkingFolderQuery() {
  static const WorkingFolderQuery query = {InspectOccupant, SystemTempPath, QueryFolderVolume};
  return query;
}

bool IsAbsoluteFolder(const std::wstring& text) {
  if (text.empty() || text.back() != L'\\') return false;
  if (text.size() >= 3 && IsDriveLetter(text[0]) && text[1] == L':' && text[2] == L'\\') {
    return true;
  }
  // "\\server\share\": something after the two leading backslashes.
  return text.size() > 3 && text[0] == L'\\' && text[1] == L'\\' && text[2] != L'\\';
}

std::wstring ComposeWorkingFolderBase(const wchar_t* tempFolder, const wchar_t* windowsFolder,
                                      const wchar_t* currentFolder) {
  std::wstring base = tempFolder;
  // The Windows folder itself is never a base.
  if (std::wcscmp(tempFolder, windowsFolder) == 0) {
    base = currentFolder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
  }
  return IsAbsoluteFolder(base) ? base : std::wstring();
}

std::wstring ComposeWorkingFolder(const std::wstring& base, const std::wstring& productCode) {
  if (!IsAbsoluteFolder(base) || !IsPlainName(productCode)) return std::wstring();
  return base + productCode + L'\\';
}

bool IsNetworkFolderText(const std::wstring& base) {
  return base.size() >= 2 && base[0] == L'\\' && base[1] == L'\\';
}

std::wstring GetWorkingFolderBase(const WorkingFolderQuery& query) {
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
  return ComposeWorkingFolderBase(temp, windows, current);
}

bool WorkingFolder::Create(LANGID userLanguage, const WorkingFolderQuery& query) {
  hold_.Reset();
  path_.clear();
  const std::wstring base = GetWorkingFolderBase(query);
  const std::wstring folder =
      ComposeWorkingFolder(base, LoadProgramString(kProductCodeId, userLanguage));
  if (folder.empty()) {
    log_.Write(L"working folder: none; the temporary folder could not be read, or it is not "
               L"an absolute path that fits 260 characters");
    return false;
  }
  if (!IsUsableBase(base, query, log_)) return false;
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) {
    log_.Failure(L"building the working folder's security descriptor", GetLastError());
    return false;
  }
  ScopedHandle created;
  const std::wstring made = CreateHeldWorkingFolder(
      folder, security.Attributes()->lpSecurityDescriptor, query, &created, log_);
  if (made.empty()) return false;
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

void WorkingFolder::Remove() {
  if (path_.empty()) return;
  // The entries go while the folder is held; the folder itself through its
  // anchor once the hold has ended: its path is never looked up again, so it
  // cannot lead elsewhere meanwhile.
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
