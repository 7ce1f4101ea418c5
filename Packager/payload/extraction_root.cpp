#include "payload/extraction_root.h"

#include <windows.h>

#include <aclapi.h>
#include <winternl.h>

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

// Creates the folder at `place` and opens it held (as OpenHeld) in one step, so
// nobody can put another folder there between the creation and the hold. Null,
// with the last error set, when it cannot: ERROR_ALREADY_EXISTS when something
// stands there.
HANDLE CreateHeldFolder(const std::wstring& place, PSECURITY_DESCRIPTOR descriptor) {
  using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                          PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                          ULONG, PVOID, ULONG);
  using ToNativeNameFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PCWSTR*, PVOID);
  using FreeNameFn = VOID(NTAPI*)(PUNICODE_STRING);
  using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);
  // The native call is the only one that creates a folder and returns a handle
  // to it. It and its helpers (the same name conversion CreateDirectoryW uses)
  // are looked up, as ntdll is not among the package's imports.
  HMODULE ntdll = GetModuleHandleW(L"ntdll");
  if (ntdll == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto lookUp = [ntdll](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(ntdll, name));
  };
  auto createFile = reinterpret_cast<NtCreateFileFn>(lookUp("NtCreateFile"));
  auto toNativeName = reinterpret_cast<ToNativeNameFn>(lookUp("RtlDosPathNameToNtPathName_U"));
  auto freeName = reinterpret_cast<FreeNameFn>(lookUp("RtlFreeUnicodeString"));
  auto statusToError = reinterpret_cast<StatusToErrorFn>(lookUp("RtlNtStatusToDosError"));
  if (createFile == nullptr || toNativeName == nullptr || freeName == nullptr ||
      statusToError == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  UNICODE_STRING name = {};
  if (!toNativeName(place.c_str(), &name, nullptr, nullptr)) {
    SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor);
  IO_STATUS_BLOCK io = {};
  HANDLE folder = nullptr;
  // FILE_CREATE fails on anything already there, a link included; the access
  // and sharing are those of OpenHeld.
  const NTSTATUS status =
      createFile(&folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                 &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                 FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                 FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                 nullptr, 0);
  freeName(&name);
  if (status < 0) {
    SetLastError(statusToError(status));
    return nullptr;
  }
  return folder;
}

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

// Renames what stands at the place to a new sibling name and returns that name;
// empty when it could not be renamed (on Windows, for instance, a folder from
// which a program is running).
std::wstring RenameAside(const std::wstring& place, RootPlace::Kind kind, const RunLog& log) {
  if (kind == RootPlace::Link && !CanReachLinkItself(place)) {
    log.Write(L"a link stands at " + place + L" and cannot be renamed as itself here; "
              L"nothing behind it is touched");
    return std::wstring();
  }
  const std::wstring stem = place + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(GetTickCount()) + L"-";
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
// a private folder: held while its entries go, so it cannot be swapped.
void RemoveSetAsideTree(const std::wstring& aside, const RootPlaceQuery& query) {
  ScopedFile held(OpenHeldFolder(aside));
  if (!held.IsValid() || !IsPlainFolder(held.Get(), aside)) return;
  const RootPlace now = query.inspect(aside);
  if (DecideStaleRoot(now) != StaleRootAction::RemoveOurs) return;
  if (!RemoveEntriesBelow(aside + L"\\")) return;
  held.Reset();
  RemoveDirectoryW(aside.c_str());
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

}  // namespace

const RootPlaceQuery& SystemRootPlaceQuery() {
  static const RootPlaceQuery query = {SystemInspect};
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

std::wstring GetExtractionBase() {
  wchar_t temp[kPathChars] = {};
  wchar_t windows[kPathChars] = {};
  wchar_t current[kPathChars] = {};
  // A length of 0 is a failure and one of the capacity or more a path that does
  // not fit; neither leaves a text we may use, whatever the buffer holds.
  const DWORD tempLength = GetTempPathW(kPathChars, temp);
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
  const std::wstring root =
      ComposeExtractionRoot(GetExtractionBase(), LoadProgramString(kProductCodeId, userLanguage));
  if (root.empty()) {
    log_.Write(L"working folder: none; the temporary folder could not be read, or it is not "
               L"an absolute path that fits 260 characters");
    return false;
  }
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) {
    log_.Failure(L"building the working folder's security descriptor", GetLastError());
    return false;
  }
  const std::wstring place = WithoutTrailingBackslash(root);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!ClearPlace(place, query, log_)) return false;
    // Only a folder this call created carries our descriptor; one that
    // reappeared after the renaming could hold files planted by someone else.
    HANDLE created = CreateHeldFolder(place, security.Attributes()->lpSecurityDescriptor);
    if (created != nullptr) {
      hold_.Reset(created);
      path_ = root;
      log_.Write(L"working folder: " + root);
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      log_.Failure(L"creating the working folder " + root, error);
      return false;
    }
  }
  log_.Write(L"working folder " + root + L" kept reappearing; none of this run's own");
  return false;
}

void PreparedRoot::Remove() {
  if (path_.empty()) return;
  // The entries go while the root is held, so the path cannot lead elsewhere
  // meanwhile; a folder held open cannot itself be removed, so the hold ends
  // just before.
  const std::wstring place = WithoutTrailingBackslash(path_);
  const bool emptied = RemoveEntriesBelow(path_);
  DWORD error = emptied ? ERROR_SUCCESS : GetLastError();
  if (emptied) SetFileAttributesW(place.c_str(), FILE_ATTRIBUTE_NORMAL);
  hold_.Reset();
  if (emptied && !RemoveDirectoryW(place.c_str())) error = GetLastError();
  if (error == ERROR_SUCCESS) {
    log_.Write(L"working folder removed");
  } else {
    log_.Failure(L"removing the working folder " + path_, error);
  }
  path_.clear();
}

}  // namespace qnvpd
