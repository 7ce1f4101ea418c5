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

// Whether a folder on a volume without access lists is refused: only while
// some folder on this machine can be kept private, which the Windows folder's
// own volume tells. On a FAT system drive nothing is protected, Windows' own
// files included, and refusing to run there buys nothing. Asked the first time
// a volume without access lists turns up, and noted then.
class PrivacyRule {
 public:
  PrivacyRule(const std::wstring& windowsFolder, const WorkingFolderQuery& query,
              StepReport* report)
      : windows_(windowsFolder), query_(query), report_(report) {}

  bool Required() {
    if (asked_) return required_;
    asked_ = true;
    ScopedFile folder(CreateFileW(windows_.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const FolderVolume volume =
        folder.IsValid() ? query_.volume(folder.Get(), windows_) : FolderVolume();
    required_ = !volume.known || volume.keepsAccessLists;
    if (!required_) {
      report_->Note(L"working folder: the Windows folder " + windows_ +
                    L" lies on a volume that keeps no access lists (such as FAT): no folder on "
                    L"this machine can be kept private");
    }
    return required_;
  }

 private:
  const std::wstring& windows_;
  const WorkingFolderQuery& query_;
  StepReport* report_;
  bool asked_ = false;
  bool required_ = true;
};

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
  // a folder only SYSTEM can use, and everyone else the same folder as before.
  using TempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
  auto tempPath2 = Kernel32Export<TempPath2Fn>("GetTempPath2W");
  return tempPath2 != nullptr ? tempPath2(capacity, buffer) : GetTempPathW(capacity, buffer);
}

FolderVolume SystemVolume(HANDLE folder, const std::wstring&) { return QueryFolderVolume(folder); }

bool SystemDeleteAtRestart(const std::wstring& path) {
  // The run is elevated, which registering a deletion at restart requires.
  return MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Why a volume cannot hold the working folder; empty when it can.
std::wstring VolumeRefusal(const FolderVolume& volume, PrivacyRule* rule) {
  if (!volume.known) return L": its volume could not be asked";
  if (!volume.local) return L" lies on a network or remote device";
  if (!volume.keepsAccessLists && rule->Required()) {
    return L" lies on a volume that keeps no access lists (such as FAT)";
  }
  return std::wstring();
}

// Creates and holds a new private sibling "<name>.<random>" in the held folder
// `parent`, for when its own name cannot be had; the sibling's name, or empty.
std::wstring CreateSiblingFolder(HANDLE parent, const std::wstring& name,
                                 PSECURITY_DESCRIPTOR descriptor, ScopedHandle* created,
                                 StepReport* report) {
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kSiblingNameAttempts; ++attempt) {
    const std::wstring sibling = RandomSiblingName(name);
    if (sibling.empty()) {
      error = ERROR_GEN_FAILURE;
      continue;
    }
    created->Reset(CreateHeldFolderBelow(parent, sibling, descriptor));
    if (created->IsValid()) {
      report->Note(L"what stands at " + name + L" is left alone; the working folder is a sibling");
      return sibling;
    }
    // A name taken meanwhile, or anything passing: another random name.
    error = GetLastError();
  }
  report->Note(L"no sibling of " + name + L" could be created: " + DescribeError(error));
  return std::wstring();
}

// Creates the folder `name` (or, failing that, a sibling) in the held folder
// `base` names, with the descriptor, and holds it in *created; the name of what
// was created, or empty.
std::wstring CreateHeldWorkingFolder(const HeldChain& base, const std::wstring& name,
                                     PSECURITY_DESCRIPTOR descriptor,
                                     const WorkingFolderQuery& query, ScopedHandle* created,
                                     StepReport* report) {
  const std::wstring place = base.Path() + name;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!SetAsideWhatStands(place, query.inspect, report)) break;
    // Only a folder this call created carries our descriptor; one that
    // reappeared after the renaming could hold files planted by someone else.
    created->Reset(CreateHeldFolderBelow(base.Folder(), name, descriptor));
    if (created->IsValid()) return name;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      report->Note(L"creating the working folder " + place + L" failed: " + DescribeError(error));
      break;
    }
  }
  // Whatever holds the fixed name (a file some user keeps open in a shared
  // temporary folder, a link, a folder that keeps coming back) must not block
  // the run: a sibling of our own serves, and the squatter stays.
  return CreateSiblingFolder(base.Folder(), name, descriptor, created, report);
}

}  // namespace

const WorkingFolderQuery& SystemWorkingFolderQuery() {
  static const WorkingFolderQuery query = {InspectOccupant, SystemTempPath,
                                           GetSystemWindowsDirectoryW, SystemVolume,
                                           SystemFinalPathQuery()};
  return query;
}

const WorkingFolderRemoval& SystemWorkingFolderRemoval() {
  static const WorkingFolderRemoval removal = {kRemovalRetryMs, SystemDeleteAtRestart};
  return removal;
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

std::vector<std::wstring> MachineTemporaryFolders(const std::wstring& windowsFolder) {
  std::wstring windows = windowsFolder;
  if (windows.empty() || windows.back() != L'\\') windows += L'\\';
  if (!IsAbsoluteFolder(windows) || IsNetworkFolderText(windows)) return {};
  return {windows + L"SystemTemp\\", windows + L"Temp\\"};
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

bool WorkingFolder::CreateIn(const std::wstring& base, PrivacyRule* privacy,
                             const std::wstring& productCode, const WorkingFolderQuery& query,
                             StepReport* report, std::wstring* why) {
  // Decided on the text before anything is opened there.
  if (IsNetworkFolderText(base)) {
    *why = base + L" is a network path";
    return false;
  }
  const HeldChain::Outcome held = chain_.Hold(base, query.finalPath);
  if (held != HeldChain::kHeld) {
    *why = DescribeChainFailure(chain_, held);
    return false;
  }
  // Asked before anything is written there; the created folder itself is
  // asked again below, which settles it.
  *why = VolumeRefusal(query.volume(chain_.Folder(), chain_.Path()), privacy);
  if (!why->empty() || ComposeWorkingFolder(chain_.Path(), productCode).empty()) {
    *why = chain_.Path() + (why->empty() ? L" cannot hold the working folder" : *why);
    chain_.Release();
    return false;
  }
  PrivateFolderSecurity security;
  if (security.Attributes() == nullptr) {
    report->Fail(L"building the working folder's security descriptor", L"", GetLastError());
    *why = L"no security descriptor";
    chain_.Release();
    return false;
  }
  ScopedHandle created;
  const std::wstring name = CreateHeldWorkingFolder(
      chain_, productCode, security.Attributes()->lpSecurityDescriptor, query, &created, report);
  if (name.empty()) {
    *why = L"no folder of this run's own could be created in " + chain_.Path();
    chain_.Release();
    return false;
  }
  const std::wstring made = chain_.Path() + name + L'\\';
  ScopedHandle anchor(ReopenThroughHandle(created.Get(), FILE_READ_ATTRIBUTES));
  if (!anchor.IsValid()) {
    *why = L"the working folder " + made + L" could not be opened again (" +
           DescribeError(GetLastError()) + L")";
  } else if (!chain_.Confirm(created.Get(), name)) {
    // A folder above it was turned into a link while it was still empty.
    *why = L"a folder above " + made + L" changed while it was held";
  } else {
    *why = VolumeRefusal(query.volume(created.Get(), made), privacy);
    if (!why->empty()) *why = made + *why;
  }
  if (!why->empty()) {
    created.Reset();
    if (anchor.IsValid()) DeleteAnchoredFolder(anchor.Get());
    chain_.Release();
    return false;
  }
  hold_.Reset(created.Release());
  anchor_.Reset(anchor.Release());
  path_ = made;
  return true;
}

bool WorkingFolder::Create(LANGID userLanguage, StepReport* report,
                           const WorkingFolderQuery& query) {
  hold_.Reset();
  anchor_.Reset();
  chain_.Release();
  path_.clear();
  const std::wstring productCode = LoadProgramString(kProductCodeId, userLanguage);

  wchar_t windows[kPathChars] = {};
  const UINT windowsLength = query.windowsFolder(windows, kPathChars);
  const std::wstring windowsFolder = windowsLength > 0 && windowsLength < kPathChars ? windows : L"";
  PrivacyRule privacy(windowsFolder, query, report);

  const std::wstring userBase = GetWorkingFolderBase(query);
  std::wstring why;
  if (userBase.empty()) {
    why = L"the temporary folder could not be read, or it is not an absolute path that fits " +
          std::to_wstring(kPathCapacity) + L" characters";
  } else if (CreateIn(userBase, &privacy, productCode, query, report, &why)) {
    report->Note(L"working folder: " + path_);
    return true;
  }
  const std::wstring userWhy = why;
  std::wstring machineWhy;
  for (const std::wstring& machine : MachineTemporaryFolders(windowsFolder)) {
    if (CreateIn(machine, &privacy, productCode, query, report, &why)) {
      report->Note(L"working folder: the temporary folder cannot hold it (" + userWhy +
                   L"); the machine's temporary folder is used instead");
      report->Note(L"working folder: " + path_);
      return true;
    }
    machineWhy += L"; " + why;
  }
  report->Note(L"working folder: none; " + userWhy + machineWhy);
  return false;
}

StepReport WorkingFolder::Remove(const WorkingFolderRemoval& removal) {
  StepReport report;
  if (path_.empty()) return report;
  // Entries go while the folder is held, each through its own folder's handle;
  // the folder itself through its anchor once the hold has ended. Nothing is
  // looked up again by path, so nothing can lead elsewhere meanwhile.
  const DWORD start = GetTickCount();
  DWORD pause = 50;
  int tries = 0;
  bool removed = false;
  std::vector<LeftEntry> left;
  // The folder as itself, as the entries below it are named.
  const std::wstring folder = FolderName(path_);
  for (;;) {
    ++tries;
    left.clear();
    if (!hold_.IsValid()) {
      hold_.Reset(ReopenThroughHandle(anchor_.Get(), kHeldFolderAccess, kHoldSharing));
    }
    if (!hold_.IsValid()) {
      left.push_back({folder, GetLastError()});
    } else if (RemoveBelow(hold_.Get(), path_, &left)) {
      hold_.Reset();
      if (DeleteAnchoredFolder(anchor_.Get())) {
        removed = true;
        break;
      }
      left.push_back({folder, GetLastError()});
    }
    // A scanner or an indexer holds a file for a moment: try again, briefly.
    if (GetTickCount() - start >= removal.retryMs) break;
    Sleep(pause);
    pause = pause * 2 > 400 ? 400 : pause * 2;
  }
  if (removed) {
    report.Note(tries == 1 ? std::wstring(L"working folder removed")
                            : L"working folder removed after " + std::to_wstring(tries) +
                                  L" tries");
  } else {
    // Deepest first, the folder itself last: the system deletes a folder at
    // restart only once it is empty.
    if (left.empty() || left.back().path != folder) left.push_back({folder, ERROR_DIR_NOT_EMPTY});
    for (const LeftEntry& entry : left) {
      const std::wstring line = L"left after " + std::to_wstring(tries) + L" tries: " +
                                entry.path + L" (" + DescribeError(entry.error) + L")";
      if (removal.deleteAtRestart(entry.path)) {
        report.Note(line + L"; it will be deleted when Windows next starts");
      } else {
        report.Note(line + L"; registering it for deletion at restart failed: " +
                     DescribeError(GetLastError()));
      }
    }
  }
  hold_.Reset();
  anchor_.Reset();
  chain_.Release();
  path_.clear();
  return report;
}

}  // namespace qnvpd
