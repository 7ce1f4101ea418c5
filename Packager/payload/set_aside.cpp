#include "payload/set_aside.h"

#include <windows.h>

#include <aclapi.h>
#include <ntsecapi.h>

#include <cwchar>

#include "held_folder.h"
#include "payload/cleanup.h"
#include "private_security.h"
#include "scoped.h"

namespace qnvpd {

namespace {

// Whether the system opens the link at `name` as itself. Where a handle opened
// that way does not show the reparse point, the system reaches only the target,
// and a rename would move the target instead of the link.
bool CanReachLinkItself(const std::wstring& name) {
  ScopedFile link(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info = {};
  return link.IsValid() && GetFileInformationByHandle(link.Get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Renames what stands at `name` to a new sibling name and returns that name;
// empty when it could not be renamed (on Windows, for instance, a folder from
// which a program is running, or a file another program holds open).
std::wstring RenameAside(const std::wstring& name, FolderOccupant::Kind kind,
                         StepReport* report) {
  if (kind == FolderOccupant::Link && !CanReachLinkItself(name)) {
    report->Note(L"a link stands at " + name + L" and cannot be renamed as itself here; "
                 L"nothing behind it is touched");
    return std::wstring();
  }
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kSiblingNameAttempts; ++attempt) {
    const std::wstring aside = RandomSiblingName(name);
    // No copy: a link is renamed as itself, its target never touched.
    if (!aside.empty() && MoveFileExW(name.c_str(), aside.c_str(), 0)) {
      report->Note(L"set aside what stood at the working folder's path: " + aside);
      return aside;
    }
    error = aside.empty() ? ERROR_GEN_FAILURE : GetLastError();
    // Held by a running program, say: another name will not help.
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) break;
  }
  report->Note(L"setting aside what stands at " + name + L" failed: " + DescribeError(error));
  return std::wstring();
}

// Deletes a folder tree it has just renamed aside, if what is there now is still
// a private folder: held while its entries go, then deleted through its anchor,
// so it cannot be swapped.
void RemoveSetAsideTree(const std::wstring& aside, OccupantInspection inspect) {
  ScopedFile held(OpenHeldFolder(aside));
  if (!held.IsValid() || !IsPlainFolder(held.Get(), aside)) return;
  ScopedHandle anchor(ReopenThroughHandle(held.Get(), FILE_READ_ATTRIBUTES));
  if (!anchor.IsValid() || DecideOccupant(inspect(aside)) != OccupantAction::RemoveOurs) return;
  std::vector<LeftEntry> left;
  if (!RemoveBelow(held.Get(), aside + L'\\', &left)) return;
  held.Reset();
  DeleteAnchoredFolder(anchor.Get());
}

}  // namespace

FolderOccupant InspectOccupant(const std::wstring& name) {
  FolderOccupant found;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    found.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                     ? FolderOccupant::Nothing
                     : FolderOccupant::Unknown;
    return found;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    found.kind = FolderOccupant::Link;
    return found;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    found.kind = FolderOccupant::File;
    return found;
  }
  found.kind = FolderOccupant::Folder;
  // The owner and DACL are read through a handle on the folder itself, so that
  // a link put there meanwhile is not followed to someone else's descriptor.
  ScopedFile folder(OpenHeldFolder(name));
  if (!folder.IsValid()) return found;
  if (!IsPlainFolder(folder.Get(), name)) {
    found.kind = FolderOccupant::Link;
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

OccupantAction DecideOccupant(const FolderOccupant& occupant) {
  switch (occupant.kind) {
    case FolderOccupant::Nothing:
      return OccupantAction::Create;
    case FolderOccupant::Folder:
      return occupant.isPrivate ? OccupantAction::RemoveOurs : OccupantAction::SetAside;
    case FolderOccupant::Link:
    case FolderOccupant::File:
    case FolderOccupant::Unknown:
      break;
  }
  // Never entered or deleted: a link's target, or whatever someone else put
  // there, is not ours.
  return OccupantAction::SetAside;
}

std::wstring RandomSiblingName(const std::wstring& name) {
  // A name someone could work out beforehand (a process id, a tick count)
  // could be taken by them first, again and again.
  unsigned char bytes[8] = {};
  if (!RtlGenRandom(bytes, sizeof bytes)) return std::wstring();
  wchar_t digits[2 * sizeof bytes + 1] = {};
  for (size_t i = 0; i < sizeof bytes; ++i) {
    std::swprintf(digits + 2 * i, 3, L"%02x", bytes[i]);
  }
  return name + L"." + digits;
}

bool SetAsideWhatStands(const std::wstring& name, OccupantInspection inspect,
                        StepReport* report) {
  const FolderOccupant found = inspect(name);
  const OccupantAction action = DecideOccupant(found);
  if (action == OccupantAction::Create) return true;
  // Renamed first even when it is ours: a folder that cannot be renamed may hold
  // a running installer, whose files must not be deleted from under it.
  const std::wstring aside = RenameAside(name, found.kind, report);
  if (aside.empty()) return false;
  if (action == OccupantAction::RemoveOurs) RemoveSetAsideTree(aside, inspect);
  return true;
}

}  // namespace qnvpd
